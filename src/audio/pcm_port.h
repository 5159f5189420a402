// The few PCM calls a transport run makes, and the device geometry it needs, behind one narrow
// interface. The program uses AlsaPcmPort (alsa_port.h), which owns the sound card; tests give
// the run ports of their own that model a card in memory, or that fail chosen calls (an xrun, a
// short transfer, an error) at chosen moments.
#pragma once

#include <alsa/asoundlib.h>

#include <cerrno>

namespace tapeloom {

enum class PcmDirection { Playback, Capture };

class PcmPort {
 public:
  PcmPort() = default;
  PcmPort(const PcmPort&) = delete;
  PcmPort& operator=(const PcmPort&) = delete;
  virtual ~PcmPort() = default;

  // The period the device granted, the unit of every transfer, and the playback buffer it
  // granted, which sets the capture delay.
  virtual int PeriodFrames() const = 0;
  virtual int PlayBufferFrames() const = 0;

  virtual int Drain(PcmDirection direction) = 0;
  virtual int Prepare(PcmDirection direction) = 0;
  // After a suspend (-ESTRPIPE): -EAGAIN while the device is not back yet. A port that cannot
  // resume says so, and the device is prepared instead.
  virtual int Resume(PcmDirection /*direction*/) { return -ENOSYS; }
  virtual snd_pcm_sframes_t AvailUpdate(PcmDirection direction) = 0;
  virtual int Wait(PcmDirection direction, int timeoutMs) = 0;
  // Non-interleaved transfers: one pointer per channel.
  virtual snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t frames) = 0;
  virtual snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) = 0;
};

}  // namespace tapeloom
