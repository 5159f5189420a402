// Opening and configuring the sound card: one ALSA device, opened once for playback and once
// for capture under the same name, both non-interleaved packed 24-bit. The handles stay open
// for the whole session.
#pragma once

#include <string>

#include "audio/pcm_handle.h"

namespace tapeloom {

inline constexpr int kMinPeriodFrames = 16;
inline constexpr int kMaxPeriodFrames = 4096;

// The requested period: `buf` limited to 16..4096 frames.
int ClampPeriodRequest(int buf);

struct AudioDevices {
  PcmHandle play;
  PcmHandle rec;
  int periodFrames = 0;      // the period that playback was granted: the unit of every transfer
  int playBufferFrames = 0;  // the playback buffer that was granted
};

struct DeviceRequest {
  std::string name;
  unsigned rate = 0;
  int inputs = 0;
  int outputs = 0;
  int period = 0;  // already limited by ClampPeriodRequest
};

// Opens and configures both directions and prints the driver report. Any failure prints its
// message and ends the program with status 1.
AudioDevices SetUpAudioDevices(const DeviceRequest& request);

// At the end of the session: drain playback, drain capture, close playback, close capture.
void CloseAudioDevices(AudioDevices& devices);

}  // namespace tapeloom
