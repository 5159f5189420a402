// Sound cards in memory for the transport run's tests: a loop from outputs to inputs, a capture of
// position-coded frames, a wrapper that fails or stalls chosen transfers, a card that keeps time.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <map>
#include <thread>
#include <vector>

#include "audio/pcm_port.h"

namespace tapeloom::test {

// Frame f of a channel of 24-bit little-endian samples.
inline std::int32_t Unpack(const void* channel, std::int64_t f) {
  const auto* b = static_cast<const unsigned char*>(channel) + 3 * f;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0] | b[1] << 8 | b[2] << 16) << 8) >> 8;
}
inline void Pack(std::int64_t v, void* channel, std::int64_t f) {
  auto* b = static_cast<unsigned char*>(channel) + 3 * f;
  for (int i = 0; i < 3; ++i) b[i] = static_cast<unsigned char>(v >> 8 * i);
}

// Capture delivers what was written one playback buffer earlier, heard `delay` frames later: input k hears output k.
class LoopbackPort : public PcmPort {
 public:
  LoopbackPort(int outputs, int inputs, int period, int buffer, int delay = 0)
      : played_(outputs), inputs_(inputs), period_(period), buffer_(buffer), delay_(delay) {}
  int PeriodFrames() const override { return period_; }
  int PlayBufferFrames() const override { return buffer_; }
  int Drain(PcmDirection) override { return 0; }
  int Prepare(PcmDirection direction) override {
    if (direction == PcmDirection::Capture) started_ = false;
    return 0;
  }
  snd_pcm_sframes_t AvailUpdate(PcmDirection) override { return buffer_; }
  int Wait(PcmDirection, int) override { return 1; }
  snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t frames) override {
    for (std::size_t c = 0; c < played_.size(); ++c) {
      for (std::int64_t f = 0; f < std::int64_t(frames); ++f) played_[c].push_back(Unpack(channels[c], f));
    }
    written_ += std::int64_t(frames);
    return snd_pcm_sframes_t(frames);
  }
  snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) override {
    if (!started_) captured_ = written_ - buffer_ - delay_;  // heard as the capture starts
    if (readSizes.empty()) firstCaptured_ = captured_;
    started_ = true;
    readSizes.push_back(int(frames));
    for (int k = 0; k < inputs_; ++k) {
      for (std::int64_t f = 0; f < std::int64_t(frames); ++f) Pack(Heard(k, captured_ + f), channels[k], f);
    }
    captured_ += std::int64_t(frames);
    return snd_pcm_sframes_t(frames);
  }
  int gain = 1;  // 0: no cable; anything loud is clipped at full scale
  std::vector<int> readSizes;
  const std::vector<std::int32_t>& Played(int channel) const { return played_[std::size_t(channel)]; }
  std::int64_t FirstCapturedFrame() const { return firstCaptured_; }  // of the first capture

 protected:
  virtual std::int64_t Heard(int input, std::int64_t at) const {
    const auto k = std::size_t(input);
    if (k >= played_.size() || at < 0 || at >= std::int64_t(played_[k].size())) return 0;
    return std::clamp<std::int64_t>(std::int64_t{played_[k][std::size_t(at)]} * gain, -8388608, 8388607);
  }
  std::vector<std::vector<std::int32_t>> played_;
  int inputs_, period_, buffer_, delay_;
  std::int64_t written_ = 0, captured_ = 0, firstCaptured_ = -1;
  bool started_ = false;
};

// Capture delivers frame j of its stream as Code(j, k) on input k; playback is taken and counted.
class PositionPort : public LoopbackPort {
 public:
  PositionPort(int inputs, int period) : LoopbackPort(0, inputs, period, 4 * period) { started_ = true; }
  int Prepare(PcmDirection) override { return 0; }
  void Skip(std::int64_t frames) { captured_ += frames; }  // lost in an overrun
  // Frame in bits 8-23, channel in bits 0-7: never 0 for a captured frame.
  static std::int32_t Code(std::int64_t frame, int channel) {
    return static_cast<std::int32_t>(((frame % 32768) + 1) << 8 | (channel & 0xFF));
  }

 protected:
  std::int64_t Heard(int input, std::int64_t at) const override { return Code(at, input); }
};

// Fails chosen transfers (from 0 per direction): an error instead (-EPIPE: an xrun, whose frames `stream` loses and
// time the clock moves on by), or only so many frames. A device can be slow to resume, gone (later prepares fail), or
// silent from its `stallAfter`th transfer on: its waits run out (kSilent) or end only with Ctrl-C (kWaitsForSignal).
class FaultPort : public PcmPort {
 public:
  enum class Stall { kNone, kSilent, kWaitsForSignal };
  FaultPort(PcmPort& inner, std::map<int, snd_pcm_sframes_t> writes, std::map<int, snd_pcm_sframes_t> reads,
            PositionPort* stream = nullptr)
      : inner_(inner), writes_(std::move(writes)), reads_(std::move(reads)), stream_(stream) {}
  int PeriodFrames() const override { return inner_.PeriodFrames(); }
  int PlayBufferFrames() const override { return inner_.PlayBufferFrames(); }
  int Drain(PcmDirection d) override { return inner_.Drain(d); }
  snd_pcm_sframes_t AvailUpdate(PcmDirection d) override { return inner_.AvailUpdate(d); }
  int Wait(PcmDirection d, int ms) override { return inner_.Wait(d, ms); }
  std::int64_t NowMicroseconds() override { return inner_.NowMicroseconds() + late_; }
  int Prepare(PcmDirection d) override {
    const int count = ++prepares[d == PcmDirection::Playback ? 0 : 1];
    return prepareFailure != 0 && count > 1 ? prepareFailure : inner_.Prepare(d);
  }
  int Resume(PcmDirection) override { return ++resumes <= resumesNotYet ? -EAGAIN : resumeResult; }
  int Link() override {
    linkedAt.push_back(writeCount_);
    return linkResult;
  }
  void Unlink() override { unlinkedAt.push_back(readCount_); }
  int WaitReady(PcmDirection d, snd_pcm_uframes_t frames, int ms) override {
    const int done = d == PcmDirection::Playback ? writeCount_ : readCount_;
    if (d != stallDirection || done < stallAfter || stall == Stall::kNone) return inner_.WaitReady(d, frames, ms);
    if (++waits == 1 && stall == Stall::kWaitsForSignal) ::raise(SIGINT);
    if (stall == Stall::kSilent) late_ += std::int64_t{ms} * 1000;
    return stall == Stall::kSilent ? 0 : -EINTR;
  }
  snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t frames) override {
    const auto fault = writes_.find(writeCount_++);
    if (fault == writes_.end()) return inner_.WriteN(channels, frames);
    return fault->second < 0 ? fault->second : inner_.WriteN(channels, snd_pcm_uframes_t(fault->second));
  }
  snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) override {
    const int n = readCount_++;
    if (n == interruptAtRead) ::raise(SIGINT);  // while the read waits: it still delivers its period
    const auto fault = reads_.find(n);
    if (fault == reads_.end()) return inner_.ReadN(channels, frames);
    if (fault->second == -EPIPE && stream_ != nullptr) stream_->Skip(std::int64_t(frames));
    // An overrun lasts as long as the read would have, and the program took 1 ms more to see it.
    if (fault->second == -EPIPE) late_ += std::int64_t(frames) * 1000000 / 48000 + 1000;
    return fault->second < 0 ? fault->second : inner_.ReadN(channels, snd_pcm_uframes_t(fault->second));
  }
  int prepares[2] = {0, 0}, resumes = 0;          // per direction, the one before the run included
  int prepareFailure = 0;                         // a gone device: each direction's prepares after the first
  int resumesNotYet = 0, resumeResult = -ENOSYS;  // Resume says -EAGAIN this often, then resumeResult
  int interruptAtRead = -1;                       // the read during which SIGINT comes
  int linkResult = -ENOSYS;                       // 0: a card that can link its directions
  std::vector<int> linkedAt, unlinkedAt;          // the writes before each Link, the reads before each Unlink
  Stall stall = Stall::kNone;
  PcmDirection stallDirection = PcmDirection::Capture;
  int stallAfter = 0, waits = 0;  // the waits since the card stopped answering

 private:
  PcmPort& inner_;
  std::map<int, snd_pcm_sframes_t> writes_, reads_;
  PositionPort* stream_;
  int writeCount_ = 0, readCount_ = 0;
  std::int64_t late_ = 0;
};

// A card that keeps time at 48 kHz, a period each way per period; a starting stream joins at the next period. A waiting
// transfer moves its own clock on at once (with `realTime`: the system's clock, and it sleeps), meeting every xrun a
// real card would. Input 1 hears output 1 in the period it plays; input 2 the card's time (frame t holds t).
class ClockedCard : public PcmPort {
 public:
  ClockedCard(int period, int buffer, int captureBuffer) : period_(period) {
    streams_[0].buffer = buffer;
    streams_[1].buffer = captureBuffer;
  }
  // The program comes this many frames late before its nth write (or read), counted from 0.
  std::map<int, std::int64_t> lateBeforeWrite, lateBeforeRead;
  bool staleDelayInXrun = false;  // as a server's plugin: a stopped stream answers its old delay
  bool realTime = false;
  int underruns = 0, overruns = 0;
  const std::vector<std::int32_t>& heard() const { return heard_; }  // output 1, at each frame of the card's time

  int PeriodFrames() const override { return int(period_); }
  int PlayBufferFrames() const override { return int(streams_[0].buffer); }
  int CaptureBufferFrames() const override { return int(streams_[1].buffer); }
  std::int64_t NowMicroseconds() override {
    Tick();
    return clock_ * 1000000 / 48000;
  }
  int Drain(PcmDirection d) override { return Prepare(d); }  // each run starts on a new card
  int Drop(PcmDirection d) override { return Prepare(d); }
  int Prepare(PcmDirection d) override {
    Tick();
    Of(d).state = State::kPrepared;
    Of(d).moved = 0;
    if (d == PcmDirection::Playback) pending_.clear();
    return 0;
  }
  int Start(PcmDirection d) override {
    Tick();
    if (d == PcmDirection::Capture && streams_[1].state == State::kPrepared) Begin(streams_[1]);
    return 0;
  }
  snd_pcm_sframes_t AvailUpdate(PcmDirection d) override {
    const snd_pcm_sframes_t delay = Delay(d);
    return delay < 0 || d == PcmDirection::Capture ? delay : Of(d).buffer - delay;
  }
  snd_pcm_sframes_t Delay(PcmDirection d) override {
    Tick();
    const Stream& s = Of(d);
    const bool playback = d == PcmDirection::Playback;
    if (s.state == State::kXrun) return !staleDelayInXrun ? -EPIPE : playback ? period_ : 0;
    if (s.state == State::kPrepared) return playback ? s.moved : 0;
    return playback ? s.moved - Done(s) : Done(s) - s.moved;
  }
  bool InXrun(PcmDirection d) override {
    Tick();
    return Of(d).state == State::kXrun;
  }
  int Wait(PcmDirection, int) override { return 1; }
  snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t count) override {
    const auto frames = std::int64_t(count);
    ComeLate(lateBeforeWrite, writes_++);
    Stream& s = streams_[0];
    if (s.state == State::kPrepared) {
      for (std::int64_t f = 0; f < frames; ++f) pending_.push_back(Unpack(channels[0], f));
      if ((s.moved += frames) < s.buffer) return frames;  // it starts with a full buffer
      Begin(s);
      for (std::size_t f = 0; f < pending_.size(); ++f) Hear(s.start + std::int64_t(f), pending_[f]);
      return frames;
    }
    while (s.state == State::kRunning && s.buffer - (s.moved - Done(s)) < frames) WaitUntil(NextPeriod());
    if (s.state == State::kXrun) return -EPIPE;
    for (std::int64_t f = 0; f < frames; ++f) Hear(s.start + s.moved++, Unpack(channels[0], f));
    return frames;
  }
  snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t count) override {
    const auto frames = std::int64_t(count);
    ComeLate(lateBeforeRead, reads_++);
    Stream& s = streams_[1];
    if (s.state == State::kXrun) return -EPIPE;
    if (s.state == State::kPrepared) Begin(s);
    while (Done(s) - s.moved < frames) WaitUntil(NextPeriod());
    for (std::int64_t f = 0, t = s.start + s.moved; f < frames; ++f, ++t) {
      Pack(t < std::int64_t(heard_.size()) ? heard_[std::size_t(t)] : 0, channels[0], f);
      Pack(t % 8388607, channels[1], f);
    }
    s.moved += frames;
    return frames;
  }

 private:
  enum class State { kPrepared, kRunning, kXrun };
  // `moved`: the frames written since the playback was prepared, or read since the capture started.
  struct Stream {
    State state = State::kPrepared;
    std::int64_t buffer = 0, start = 0, moved = 0;
  };
  Stream& Of(PcmDirection d) { return streams_[d == PcmDirection::Playback ? 0 : 1]; }
  std::int64_t NextPeriod() const { return clock_ / period_ * period_ + period_; }
  // What a running stream has taken or given by now: a period at each period's start.
  std::int64_t Done(const Stream& s) const {
    return clock_ < s.start ? 0 : (clock_ - s.start) / period_ * period_ + period_;
  }
  void Begin(Stream& s) {
    s.state = State::kRunning;
    s.start = NextPeriod();
  }
  // The clock moves on, and the card meets its xruns.
  void Tick() {
    if (realTime) clock_ = std::max(clock_, RealFrames());
    Stream &play = streams_[0], &capture = streams_[1];
    if (play.state == State::kRunning && Done(play) > play.moved) play.state = State::kXrun, ++underruns;
    if (capture.state == State::kRunning && Done(capture) - capture.moved > capture.buffer) {
      capture.state = State::kXrun, ++overruns;
    }
  }
  std::int64_t RealFrames() const {  // 48 a millisecond
    return (std::chrono::steady_clock::now() - origin_) / std::chrono::microseconds(1) * 48 / 1000;
  }
  void WaitUntil(std::int64_t t) {
    while (realTime && RealFrames() < t) std::this_thread::sleep_for(std::chrono::microseconds(200));
    clock_ = std::max(clock_, t);
    Tick();
  }
  void ComeLate(const std::map<int, std::int64_t>& late, int transfer) {
    if (const auto it = late.find(transfer); it != late.end()) WaitUntil(clock_ + it->second);
    Tick();
  }
  void Hear(std::int64_t t, std::int32_t sample) {
    heard_.resize(std::max(heard_.size(), std::size_t(t) + 1), 0);
    heard_[std::size_t(t)] = sample;
  }

  std::int64_t period_, clock_ = 0;
  std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
  Stream streams_[2];
  std::vector<std::int32_t> pending_, heard_;  // written before the playback started; played at time t
  int writes_ = 0, reads_ = 0;
};

}  // namespace tapeloom::test
