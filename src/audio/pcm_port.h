// The few PCM calls a transport run makes, behind one narrow interface. The program always
// uses AlsaPcmPort on the session's two handles; tests put a port in front of it that fails
// chosen calls (an xrun, a short transfer, an error) at chosen moments.
#pragma once

#include <alsa/asoundlib.h>

namespace tapeloom {

enum class PcmDirection { Playback, Capture };

class PcmPort {
 public:
  PcmPort() = default;
  PcmPort(const PcmPort&) = delete;
  PcmPort& operator=(const PcmPort&) = delete;
  virtual ~PcmPort() = default;

  virtual int Drain(PcmDirection direction) = 0;
  virtual int Prepare(PcmDirection direction) = 0;
  virtual snd_pcm_sframes_t AvailUpdate(PcmDirection direction) = 0;
  virtual int Wait(PcmDirection direction, int timeoutMs) = 0;
  // Non-interleaved transfers: one pointer per channel.
  virtual snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t frames) = 0;
  virtual snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) = 0;
};

class AlsaPcmPort final : public PcmPort {
 public:
  AlsaPcmPort(snd_pcm_t* playback, snd_pcm_t* capture) : playback_(playback), capture_(capture) {}

  int Drain(PcmDirection direction) override { return snd_pcm_drain(Handle(direction)); }
  int Prepare(PcmDirection direction) override { return snd_pcm_prepare(Handle(direction)); }
  snd_pcm_sframes_t AvailUpdate(PcmDirection direction) override { return snd_pcm_avail_update(Handle(direction)); }
  int Wait(PcmDirection direction, int timeoutMs) override { return snd_pcm_wait(Handle(direction), timeoutMs); }
  snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t frames) override {
    return snd_pcm_writen(playback_, channels, frames);
  }
  snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) override {
    return snd_pcm_readn(capture_, channels, frames);
  }

 private:
  snd_pcm_t* Handle(PcmDirection direction) const { return direction == PcmDirection::Playback ? playback_ : capture_; }
  snd_pcm_t* playback_;
  snd_pcm_t* capture_;
};

}  // namespace tapeloom
