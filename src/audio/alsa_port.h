// The sound card, from start to end of a session: one ALSA device, opened once for playback
// and once for capture under the same name, both non-interleaved packed 24-bit; configured with
// the requested channels, rate and period, and held to the rate and channels it was asked for;
// reported ("Returned Driver Parameters"); prepared, fed and read by the transport runs;
// drained and closed when the session ends.
#pragma once

#include <memory>
#include <string>

#include "audio/pcm_handle.h"
#include "audio/pcm_port.h"

namespace tapeloom {

inline constexpr int kMinPeriodFrames = 16;
inline constexpr int kMaxPeriodFrames = 4096;

// The requested period: `buf` limited to 16..4096 frames.
int ClampPeriodRequest(int buf);

struct DeviceRequest {
  std::string name;
  unsigned rate = 0;
  int inputs = 0;
  int outputs = 0;
  int period = 0;  // already limited by ClampPeriodRequest
};

class AlsaPcmPort final : public PcmPort {
  struct Key {
    explicit Key() = default;
  };

 public:
  // Only Open makes one: a port always holds two configured handles.
  explicit AlsaPcmPort(Key) {}

  // Opens and configures both directions and prints the driver report. Any failure prints its
  // message and ends the program with status 1: a refused call at once, a rate, channel count,
  // access or format other than asked for (card_grant.h) after the report, which shows it.
  static std::unique_ptr<AlsaPcmPort> Open(const DeviceRequest& request);

  // At the end of the session: drains playback, drains capture, closes playback, closes
  // capture. Going without Close (the program ends on a fault) closes without draining.
  void Close();

  int PeriodFrames() const override { return periodFrames_; }
  int PlayBufferFrames() const override { return playBufferFrames_; }
  int CaptureBufferFrames() const override { return captureBufferFrames_; }
  // In alsa_port_waits.cpp: a drain that ends, whatever the card does.
  int Drain(PcmDirection direction) override;
  int Prepare(PcmDirection direction) override { return snd_pcm_prepare(Handle(direction)); }
  int Drop(PcmDirection direction) override { return snd_pcm_drop(Handle(direction)); }
  int Start(PcmDirection direction) override { return snd_pcm_start(Handle(direction)); }
  // A plugin card (a sound server's) can keep answering the delay of a stream it has stopped in
  // an xrun; the state after the pointer is brought up to date tells.
  bool InXrun(PcmDirection direction) override {
    snd_pcm_t* pcm = Handle(direction);
    return snd_pcm_avail(pcm) == -EPIPE || snd_pcm_state(pcm) == SND_PCM_STATE_XRUN;
  }
  snd_pcm_sframes_t Delay(PcmDirection direction) override {
    snd_pcm_sframes_t frames = 0;
    const int result = snd_pcm_delay(Handle(direction), &frames);
    return result < 0 ? result : frames;
  }
  int Resume(PcmDirection direction) override { return snd_pcm_resume(Handle(direction)); }
  snd_pcm_sframes_t AvailUpdate(PcmDirection direction) override { return snd_pcm_avail_update(Handle(direction)); }
  int Wait(PcmDirection direction, int timeoutMs) override { return snd_pcm_wait(Handle(direction), timeoutMs); }
  // In alsa_port_waits.cpp.
  int WaitReady(PcmDirection direction, snd_pcm_uframes_t frames, int timeoutMs) override;
  int Link() override;
  void Unlink() override;
  snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t frames) override {
    return snd_pcm_writen(play_.get(), channels, frames);
  }
  snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) override {
    return snd_pcm_readn(rec_.get(), channels, frames);
  }

 private:
  snd_pcm_t* Handle(PcmDirection direction) const {
    return direction == PcmDirection::Playback ? play_.get() : rec_.get();
  }

  PcmHandle play_;
  PcmHandle rec_;
  unsigned rate_ = 0;         // the rate the card granted (the one asked for)
  int periodFrames_ = 0;      // the period that playback was granted
  int playBufferFrames_ = 0;  // the playback buffer that was granted
  int captureBufferFrames_ = 0;
};

}  // namespace tapeloom
