// PCM ports for tests of the transport run, in memory, without ALSA: a model of a real card
// whose inputs hear its outputs, a capture that delivers position-coded frames, and a wrapper
// that fails chosen transfers the way a card does on an xrun.
#pragma once

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <map>
#include <thread>
#include <vector>

#include "audio/pcm_port.h"
#include "core/session_signals.h"

namespace tapeloom::test {

inline std::int32_t Unpack(const unsigned char* b) {
  const std::int32_t v = b[0] | (b[1] << 8) | (b[2] << 16);
  return (v & 0x800000) != 0 ? v - (1 << 24) : v;
}

inline void Pack(std::int32_t v, unsigned char* b) {
  const auto u = static_cast<std::uint32_t>(v);
  b[0] = static_cast<unsigned char>(u);
  b[1] = static_cast<unsigned char>(u >> 8);
  b[2] = static_cast<unsigned char>(u >> 16);
}

// A port with the period and playback buffer a card granted.
class GrantedPort : public PcmPort {
 public:
  GrantedPort(int period, int playBuffer) : period_(period), playBuffer_(playBuffer) {}
  int PeriodFrames() const override { return period_; }
  int PlayBufferFrames() const override { return playBuffer_; }

 private:
  int period_;
  int playBuffer_;
};

// A card with its outputs wired to its inputs: what capture delivers is what the converter
// played at that moment, the frame that was written one playback buffer earlier, heard
// `delay` frames later (what the card's converters and transport add). Input k hears output
// k, or every input hears output `wiredOutput` when it is given.
class LoopbackPort : public GrantedPort {
 public:
  LoopbackPort(int outputs, int inputs, int period, int bufferFrames, int delay = 0, int wiredOutput = -1)
      : GrantedPort(period, bufferFrames),
        played_(static_cast<std::size_t>(outputs)),
        inputs_(inputs),
        buffer_(bufferFrames),
        delay_(delay),
        wiredOutput_(wiredOutput) {}

  int Drain(PcmDirection) override { return 0; }
  int Prepare(PcmDirection direction) override {
    if (direction == PcmDirection::Capture) started_ = false;
    return 0;
  }
  snd_pcm_sframes_t AvailUpdate(PcmDirection) override { return buffer_; }
  int Wait(PcmDirection, int) override { return 1; }
  snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t frames) override {
    for (std::size_t c = 0; c < played_.size(); ++c) {
      const auto* bytes = static_cast<const unsigned char*>(channels[c]);
      for (snd_pcm_uframes_t f = 0; f < frames; ++f) played_[c].push_back(Unpack(bytes + 3 * f));
    }
    written_ += static_cast<std::int64_t>(frames);
    return static_cast<snd_pcm_sframes_t>(frames);
  }
  snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) override {
    if (!started_) {
      captured_ = written_ - buffer_ - delay_;  // the frame the inputs hear when capture starts
      started_ = true;
      firstCaptured_ = captured_;
    }
    for (int k = 0; k < inputs_; ++k) {
      auto* bytes = static_cast<unsigned char*>(channels[k]);
      for (snd_pcm_uframes_t f = 0; f < frames; ++f) {
        const std::int64_t at = captured_ + static_cast<std::int64_t>(f);
        const int heard = wiredOutput_ >= 0 ? wiredOutput_ : k;
        const auto& source =
            static_cast<std::size_t>(heard) < played_.size() ? played_[static_cast<std::size_t>(heard)] : empty_;
        const std::int32_t sample =
            at >= 0 && at < static_cast<std::int64_t>(source.size()) ? source[static_cast<std::size_t>(at)] : 0;
        Pack(std::clamp<std::int64_t>(std::int64_t{sample} * gain, -8388608, 8388607), bytes + 3 * f);
      }
    }
    captured_ += static_cast<std::int64_t>(frames);
    return static_cast<snd_pcm_sframes_t>(frames);
  }

  // The loop's gain: 0 for a cable that is not plugged in; anything loud is clipped at full scale.
  int gain = 1;

  const std::vector<std::int32_t>& Played(int channel) const { return played_[static_cast<std::size_t>(channel)]; }
  std::int64_t FirstCapturedFrame() const { return firstCaptured_; }

 private:
  std::vector<std::vector<std::int32_t>> played_;
  std::vector<std::int32_t> empty_;
  int inputs_;
  int buffer_;
  int delay_;
  int wiredOutput_;
  std::int64_t written_ = 0;
  std::int64_t captured_ = 0;
  std::int64_t firstCaptured_ = -1;
  bool started_ = false;
};

// Capture delivers frame j of its stream as PositionCode(j, k) on input k; playback is
// accepted and counted. Read sizes are kept.
class PositionPort : public GrantedPort {
 public:
  PositionPort(int inputs, int period) : GrantedPort(period, 4 * period), inputs_(inputs) {}
  int Drain(PcmDirection) override { return 0; }
  int Prepare(PcmDirection) override { return 0; }
  snd_pcm_sframes_t AvailUpdate(PcmDirection) override { return 1 << 20; }
  int Wait(PcmDirection, int) override { return 1; }
  snd_pcm_sframes_t WriteN(void**, snd_pcm_uframes_t frames) override { return static_cast<snd_pcm_sframes_t>(frames); }
  snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) override {
    readSizes.push_back(static_cast<int>(frames));
    for (int k = 0; k < inputs_; ++k) {
      auto* bytes = static_cast<unsigned char*>(channels[k]);
      for (snd_pcm_uframes_t f = 0; f < frames; ++f)
        Pack(Code(stream_ + static_cast<std::int64_t>(f), k), bytes + 3 * f);
    }
    stream_ += static_cast<std::int64_t>(frames);
    return static_cast<snd_pcm_sframes_t>(frames);
  }
  // Frames that pass while the card is in an overrun are lost to the stream.
  void Skip(std::int64_t frames) { stream_ += frames; }

  // Frame in bits 8-23, channel in bits 0-7: never 0 for a captured frame.
  static std::int32_t Code(std::int64_t frame, int channel) {
    return static_cast<std::int32_t>(((frame % 32768) + 1) << 8 | (channel & 0xFF));
  }

  std::vector<int> readSizes;

 private:
  int inputs_;
  std::int64_t stream_ = 0;
};

// Makes chosen transfers (counted from 0 per direction) go wrong the way a card's do: a
// negative result is returned without passing the transfer on (-EPIPE: an xrun, whose frames
// are lost to a PositionPort's stream), a positive one passes on a transfer of only that many
// frames and returns it. A device can also be suspended (Resume) or gone (Prepare fails).
// Everything else goes to the port inside.
class FaultPort : public PcmPort {
 public:
  FaultPort(PcmPort& inner, std::map<int, snd_pcm_sframes_t> writes, std::map<int, snd_pcm_sframes_t> reads,
            PositionPort* stream = nullptr)
      : inner_(inner), writes_(std::move(writes)), reads_(std::move(reads)), stream_(stream) {}
  int PeriodFrames() const override { return inner_.PeriodFrames(); }
  int PlayBufferFrames() const override { return inner_.PlayBufferFrames(); }
  int CaptureBufferFrames() const override { return inner_.CaptureBufferFrames(); }
  int Drain(PcmDirection d) override { return inner_.Drain(d); }
  int Drop(PcmDirection d) override { return inner_.Drop(d); }
  int Start(PcmDirection d) override { return inner_.Start(d); }
  snd_pcm_sframes_t Delay(PcmDirection d) override { return inner_.Delay(d); }
  bool InXrun(PcmDirection d) override { return inner_.InXrun(d); }
  int Prepare(PcmDirection d) override {
    const int count = ++prepares[d == PcmDirection::Playback ? 0 : 1];
    if (prepareFailure != 0 && count > preparesThatWork) return prepareFailure;
    return inner_.Prepare(d);
  }
  int Resume(PcmDirection) override {
    ++resumes;
    return resumes <= resumesNotYet ? -EAGAIN : resumeResult;
  }
  snd_pcm_sframes_t AvailUpdate(PcmDirection d) override { return inner_.AvailUpdate(d); }
  int Wait(PcmDirection d, int ms) override { return inner_.Wait(d, ms); }
  std::int64_t NowMicroseconds() override { return inner_.NowMicroseconds() + lateMicroseconds_; }
  snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t frames) override {
    const auto fault = writes_.find(writeCount_++);
    if (fault == writes_.end()) return inner_.WriteN(channels, frames);
    if (fault->second < 0) return fault->second;
    return inner_.WriteN(channels, static_cast<snd_pcm_uframes_t>(fault->second));
  }
  snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) override {
    // Ctrl-C while the read waits for its period: the read completes (the program's catcher
    // restarts it) and delivers the period.
    if (readCount_ == interruptAtRead) ::raise(SIGINT);
    const auto fault = reads_.find(readCount_++);
    if (fault == reads_.end()) return inner_.ReadN(channels, frames);
    if (fault->second == -EPIPE && stream_ != nullptr) stream_->Skip(static_cast<std::int64_t>(frames));
    // A card in an overrun went on for as long as the read would have taken, and the program
    // took a millisecond more to see it.
    if (fault->second == -EPIPE) lateMicroseconds_ += static_cast<std::int64_t>(frames) * 1000000 / rate + 1000;
    // A failed read leaves the caller's buffers as they were.
    if (fault->second < 0) return fault->second;
    return inner_.ReadN(channels, static_cast<snd_pcm_uframes_t>(fault->second));
  }
  int prepares[2] = {0, 0};
  // A device that is gone: per direction, the prepares after the first `preparesThatWork`
  // fail with `prepareFailure` (0: they all work).
  int prepareFailure = 0;
  int preparesThatWork = 1;
  // After a suspend: Resume says -EAGAIN `resumesNotYet` times, then `resumeResult`.
  int resumesNotYet = 0;
  int resumeResult = -ENOSYS;
  int resumes = 0;
  int interruptAtRead = -1;   // the read during which SIGINT comes
  std::int64_t rate = 48000;  // for the time a failed read stands for

 private:
  std::int64_t lateMicroseconds_ = 0;
  PcmPort& inner_;
  std::map<int, snd_pcm_sframes_t> writes_;
  std::map<int, snd_pcm_sframes_t> reads_;
  PositionPort* stream_;
  int writeCount_ = 0;
  int readCount_ = 0;
};

// A card that stops answering after a number of transfers in one direction, as a stalled or
// unplugged card, a sound server that died or an input fed by nothing does:
//   kSilent: its waits run out, and its clock moves on by each wait's length;
//   kWaitsForSignal: its waits wait for real, for a descriptor that never becomes ready, until
//     a signal ends them;
//   kReadBlocks: it says it is ready, but its read waits in a call that a caught signal restarts
//     (a pipe nobody writes); when the call is cut short the read still claims its frames and
//     leaves the buffers as they were (as the simulated card's input file does).
class StallingPort : public PcmPort {
 public:
  enum class Stall { kSilent, kWaitsForSignal, kReadBlocks };
  StallingPort(PcmPort& inner, PcmDirection direction, int transfersBefore, Stall stall)
      : inner_(inner), direction_(direction), left_(transfersBefore), stall_(stall) {
    if (::pipe(pipe_) != 0) pipe_[0] = pipe_[1] = -1;
  }
  ~StallingPort() override {
    for (const int fd : pipe_) {
      if (fd >= 0) ::close(fd);
    }
  }
  int PeriodFrames() const override { return inner_.PeriodFrames(); }
  int PlayBufferFrames() const override { return inner_.PlayBufferFrames(); }
  int Drain(PcmDirection d) override { return inner_.Drain(d); }
  int Prepare(PcmDirection d) override { return inner_.Prepare(d); }
  snd_pcm_sframes_t AvailUpdate(PcmDirection d) override { return inner_.AvailUpdate(d); }
  int Wait(PcmDirection d, int ms) override { return inner_.Wait(d, ms); }
  std::int64_t NowMicroseconds() override { return inner_.NowMicroseconds() + waited_; }
  int WaitReady(PcmDirection d, snd_pcm_uframes_t frames, int timeoutMs) override {
    if (d != direction_ || left_ > 0 || stall_ == Stall::kReadBlocks) return inner_.WaitReady(d, frames, timeoutMs);
    ++waits;
    if (stall_ == Stall::kSilent) {
      waited_ += std::int64_t{timeoutMs} * 1000;
      return 0;
    }
    pollfd never{.fd = pipe_[0], .events = POLLIN, .revents = 0};
    return WaitForDescriptorsOrSignal(&never, 1, timeoutMs) == -EINTR ? -EINTR : 0;
  }
  snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t frames) override {
    if (direction_ == PcmDirection::Playback) --left_;
    return inner_.WriteN(channels, frames);
  }
  snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) override {
    if (direction_ != PcmDirection::Capture || left_-- > 0 || stall_ != Stall::kReadBlocks) {
      return inner_.ReadN(channels, frames);
    }
    char byte = 0;
    ++waits;
    [[maybe_unused]] const ssize_t got = ::read(pipe_[0], &byte, 1);
    return static_cast<snd_pcm_sframes_t>(frames);
  }
  int waits = 0;  // the waits (or blocked reads) after the card stopped answering

 private:
  PcmPort& inner_;
  PcmDirection direction_;
  int left_;
  Stall stall_;
  int pipe_[2] = {-1, -1};
  std::int64_t waited_ = 0;
};

// A card that keeps time as a sound server's cycle does: every period of its clock it plays a
// period and captures one. With Pace::kVirtual the clock is the card's own, and a transfer that
// has to wait moves it on at once to when the transfer can be made, so a run goes as fast as
// the program can and still meets every xrun a real card would give it. With Pace::kReal the
// clock is the system's and a transfer that has to wait sleeps, so that the disk worker's
// stalls fall on the card's time.
//
// As on a server's cycle, a stream that starts joins at the next period's start, where the
// playback plays its first period and the capture takes its first: a frame played in a period is
// heard by the loop in the same period, `latency` frames later.
// Playback starts once its buffer is full (the start threshold the program sets), capture with
// its first read or Start. Before chosen transfers the program can be made to come late (a
// stall of the whole program): the card goes on without it and underruns or overruns, stopping
// until it is prepared again. Output `wired` is looped to every input: an input hears at card
// time t what that output played at t - latency.
class ClockedCard : public PcmPort {
 public:
  enum class Pace { kVirtual, kReal };

  ClockedCard(int inputs, int period, int buffer, std::int64_t rate, int latency, int wired, Pace pace = Pace::kVirtual,
              int captureBuffer = 0)
      : inputs_(inputs),
        period_(period),
        buffer_(buffer),
        captureBuffer_(captureBuffer > 0 ? captureBuffer : buffer),
        rate_(rate),
        latency_(latency),
        wired_(wired),
        pace_(pace),
        origin_(std::chrono::steady_clock::now()) {}

  // The program comes this many frames late before its nth write (or read), counted from 0.
  std::map<int, std::int64_t> lateBeforeWrite;
  std::map<int, std::int64_t> lateBeforeRead;
  // Input 1 hears, instead of the loop, the card's time: the frame captured at time t holds t
  // (a musician playing in time, whatever the program does).
  bool counterOnSecondInput = false;
  // As a sound server's plugin does: a stream stopped in an xrun still answers its delay as
  // it was, and only its state says it stopped.
  bool staleDelayInXrun = false;
  int underruns = 0;
  int overruns = 0;

  int PeriodFrames() const override { return period_; }
  int PlayBufferFrames() const override { return buffer_; }
  int CaptureBufferFrames() const override { return static_cast<int>(captureBuffer_); }
  std::int64_t NowMicroseconds() override {
    Tick();
    return clock_ * 1000000 / rate_;
  }
  // What the wired output played at card time t (0 where it played nothing).
  std::int32_t HeardAt(std::int64_t t) const {
    return t >= 0 && t < static_cast<std::int64_t>(heard_.size()) ? heard_[static_cast<std::size_t>(t)] : 0;
  }

  int Drain(PcmDirection d) override {
    Tick();
    if (d == PcmDirection::Playback) {
      while (playState_ == State::kRunning && Consumed() < written_) WaitUntil(NextGrid());
    }
    return Prepare(d);
  }
  int Prepare(PcmDirection d) override {
    Tick();
    (d == PcmDirection::Playback ? playState_ : captureState_) = State::kPrepared;
    if (d == PcmDirection::Playback) pending_.clear();
    return 0;
  }
  int Drop(PcmDirection d) override { return Prepare(d); }
  int Start(PcmDirection d) override {
    Tick();
    if (d == PcmDirection::Capture && captureState_ == State::kPrepared) StartCapture();
    return 0;
  }
  snd_pcm_sframes_t AvailUpdate(PcmDirection d) override {
    const snd_pcm_sframes_t delay = Delay(d);
    if (delay < 0 || d == PcmDirection::Capture) return delay;
    return buffer_ - delay;
  }
  snd_pcm_sframes_t Delay(PcmDirection d) override {
    Tick();
    if (d == PcmDirection::Playback) {
      if (playState_ == State::kXrun) return staleDelayInXrun ? period_ : -EPIPE;
      return playState_ == State::kRunning ? written_ - Consumed() : static_cast<snd_pcm_sframes_t>(pending_.size());
    }
    if (captureState_ == State::kXrun) return staleDelayInXrun ? 0 : -EPIPE;
    return captureState_ == State::kRunning ? Available() : 0;
  }
  bool InXrun(PcmDirection d) override {
    Tick();
    return (d == PcmDirection::Playback ? playState_ : captureState_) == State::kXrun;
  }
  int Wait(PcmDirection, int) override {
    Tick();
    return 1;
  }
  snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t count) override {
    const auto frames = static_cast<std::int64_t>(count);
    if (const auto late = lateBeforeWrite.find(writes_++); late != lateBeforeWrite.end()) {
      WaitUntil(clock_ + late->second);
    }
    Tick();
    if (playState_ == State::kXrun) return -EPIPE;
    const auto* bytes = static_cast<const unsigned char*>(channels[wired_]);
    if (playState_ == State::kPrepared) {
      for (std::int64_t f = 0; f < frames; ++f) pending_.push_back(Unpack(bytes + 3 * f));
      if (static_cast<std::int64_t>(pending_.size()) >= buffer_) {
        playState_ = State::kRunning;
        playStart_ = NextGrid();
        written_ = 0;
        for (const std::int32_t sample : pending_) Play(sample);
        pending_.clear();
      }
      return static_cast<snd_pcm_sframes_t>(frames);
    }
    while (buffer_ - (written_ - Consumed()) < frames) {
      WaitUntil(NextGrid());
      if (playState_ == State::kXrun) return -EPIPE;
    }
    for (std::int64_t f = 0; f < frames; ++f) Play(Unpack(bytes + 3 * f));
    return static_cast<snd_pcm_sframes_t>(frames);
  }
  snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t count) override {
    const auto frames = static_cast<std::int64_t>(count);
    if (const auto late = lateBeforeRead.find(reads_++); late != lateBeforeRead.end()) {
      WaitUntil(clock_ + late->second);
    }
    Tick();
    if (captureState_ == State::kXrun) return -EPIPE;
    if (captureState_ == State::kPrepared) StartCapture();
    while (Available() < frames) WaitUntil(NextGrid());
    for (std::int64_t f = 0; f < frames; ++f) {
      const std::int64_t t = captureStart_ + read_ + f;  // when the frame was heard
      for (int k = 0; k < inputs_; ++k) {
        const std::int32_t sample =
            counterOnSecondInput && k == 1 ? static_cast<std::int32_t>(t % 8388607) : HeardAt(t - latency_);
        Pack(sample, static_cast<unsigned char*>(channels[k]) + 3 * f);
      }
    }
    read_ += frames;
    return static_cast<snd_pcm_sframes_t>(frames);
  }

 private:
  enum class State { kPrepared, kRunning, kXrun };

  std::int64_t Grid(std::int64_t t) const { return t / period_ * period_; }
  std::int64_t NextGrid() const { return Grid(clock_) + period_; }
  std::int64_t RealFrames() const {
    const auto elapsed = std::chrono::steady_clock::now() - origin_;
    return std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() * rate_ / 1000000;
  }
  // Frames the playback has taken by now: a period at each period's start from its own on.
  std::int64_t Consumed() const { return clock_ < playStart_ ? 0 : (Grid(clock_ - playStart_) + period_); }
  // Frames captured by now and not read: a period at each period's start from its own on.
  std::int64_t Available() const {
    return (clock_ < captureStart_ ? 0 : Grid(clock_ - captureStart_) + period_) - read_;
  }
  // The clock moves on (the system's time, in real pace), and the card meets its xruns.
  void Tick() {
    if (pace_ == Pace::kReal) clock_ = std::max(clock_, RealFrames());
    if (playState_ == State::kRunning && Consumed() > written_) {
      playState_ = State::kXrun;
      ++underruns;
    }
    if (captureState_ == State::kRunning && Available() > captureBuffer_) {
      captureState_ = State::kXrun;
      ++overruns;
    }
  }
  void WaitUntil(std::int64_t t) {
    if (pace_ == Pace::kReal) {
      while (RealFrames() < t) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    clock_ = std::max(clock_, t);
    Tick();
  }
  void StartCapture() {
    captureState_ = State::kRunning;
    captureStart_ = NextGrid();
    read_ = 0;
  }
  void Play(std::int32_t sample) {
    const auto at = static_cast<std::size_t>(playStart_ + written_++);
    if (heard_.size() <= at) heard_.resize(at + 1, 0);
    heard_[at] = sample;
  }

  int inputs_;
  std::int64_t period_;
  std::int64_t buffer_;
  std::int64_t captureBuffer_;
  std::int64_t rate_;
  std::int64_t latency_;
  int wired_;
  Pace pace_;
  std::chrono::steady_clock::time_point origin_;
  std::int64_t clock_ = 0;
  State playState_ = State::kPrepared;
  State captureState_ = State::kPrepared;
  std::vector<std::int32_t> pending_;  // written before playback started
  std::int64_t playStart_ = 0;
  std::int64_t written_ = 0;  // frames written since playback started
  std::int64_t captureStart_ = 0;
  std::int64_t read_ = 0;  // frames read since capture started
  std::vector<std::int32_t> heard_;
  int writes_ = 0;
  int reads_ = 0;
};

}  // namespace tapeloom::test
