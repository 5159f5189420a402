// The few PCM calls a transport run makes, and the device geometry it needs, behind one narrow
// interface. The program uses AlsaPcmPort (alsa_port.h), which owns the sound card; tests give
// the run ports of their own that model a card in memory, or that fail chosen calls (an xrun, a
// short transfer, an error) at chosen moments.
#pragma once

#include <alsa/asoundlib.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

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
  // The capture buffer the device granted: how long a capture can wait to be read.
  virtual int CaptureBufferFrames() const { return PlayBufferFrames(); }

  virtual int Drain(PcmDirection direction) = 0;
  virtual int Prepare(PcmDirection direction) = 0;
  // Stops a direction at once, what it holds dropped; Prepare then makes it ready again.
  virtual int Drop(PcmDirection /*direction*/) { return 0; }
  // Starts a prepared direction now (a capture otherwise starts with its first read, a
  // playback once its buffer is full).
  virtual int Start(PcmDirection /*direction*/) { return 0; }
  // Playback: the frames written and not yet played. Capture: the frames captured and not yet
  // read. An xrun shows as -EPIPE, on most cards (not all: ask InXrun).
  virtual snd_pcm_sframes_t Delay(PcmDirection /*direction*/) { return 0; }
  // Whether the direction has stopped in an xrun, as the card sees it now.
  virtual bool InXrun(PcmDirection direction) { return Delay(direction) == -EPIPE; }
  // The time as the card's transfers keep it, in microseconds from any fixed moment: how long
  // a stall lasted is read from it. A port in memory may keep a clock of its own.
  virtual std::int64_t NowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  // After a suspend (-ESTRPIPE): -EAGAIN while the device is not back yet. A port that cannot
  // resume says so, and the device is prepared instead.
  virtual int Resume(PcmDirection /*direction*/) { return -ENOSYS; }
  virtual snd_pcm_sframes_t AvailUpdate(PcmDirection direction) = 0;
  virtual int Wait(PcmDirection direction, int timeoutMs) = 0;
  // Waits until `frames` can be transferred without blocking, at most `timeoutMs`: 1 when they
  // can (or the transfer will report an error of its own), 0 when the time ran out, -EINTR when
  // Ctrl-C, SIGTERM or SIGHUP came. A port in memory is always ready.
  virtual int WaitReady(PcmDirection /*direction*/, snd_pcm_uframes_t /*frames*/, int /*timeoutMs*/) { return 1; }
  // Links the two directions so that they start together, where the card can: 0 when they are
  // linked. Unlink undoes it; each direction then stops and starts on its own again.
  virtual int Link() { return -ENOSYS; }
  virtual void Unlink() {}
  // Non-interleaved transfers: one pointer per channel.
  virtual snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t frames) = 0;
  virtual snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) = 0;
};

}  // namespace tapeloom
