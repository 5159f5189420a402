// Sound cards in memory for the transport run's tests: a loop from outputs to inputs (or position-coded capture), a
// wrapper that fails chosen transfers, a card that keeps time.
#pragma once

#include <algorithm>
#include <array>
#include <csignal>
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
// Without outputs, input k delivers frame j of its stream as Code(j, k), going on from where it was at a prepare.
class LoopbackPort : public PcmPort {
 public:
  LoopbackPort(int outputs, int inputs, int period, int buffer, int delay = 0)
      : played_(outputs), inputs_(inputs), period_(period), buffer_(buffer), delay_(delay) {}
  // Frame in bits 8-23, channel in bits 0-7: never 0 for a captured frame.
  static std::int32_t Code(std::int64_t frame, int channel) { return std::int32_t((frame % 32768 + 1) << 8 | channel); }
  int PeriodFrames() const override { return period_; }
  int PlayBufferFrames() const override { return buffer_; }
  int Drain(PcmDirection) override { return 0; }
  int Prepare(PcmDirection direction) override {
    started_ = started_ && direction == PcmDirection::Playback;
    return 0;
  }
  snd_pcm_sframes_t AvailUpdate(PcmDirection) override { return buffer_; }
  int Wait(PcmDirection, int) override { return 1; }
  snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t frames) override {
    for (std::size_t c = 0; c < played_.size(); ++c)
      for (std::int64_t f = 0; f < std::int64_t(frames); ++f) played_[c].push_back(Unpack(channels[c], f));
    written_ += std::int64_t(frames);
    return snd_pcm_sframes_t(frames);
  }
  snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) override {
    if (!started_ && !played_.empty()) captured_ = written_ - buffer_ - delay_;  // heard as the capture starts
    if (reads_++ == 0) firstCaptured = captured_;
    started_ = true;
    for (std::size_t k = 0; k < std::size_t(inputs_); ++k) {
      for (std::int64_t f = 0, at = captured_; f < std::int64_t(frames); ++f, ++at) {  // clipped at full scale
        const bool heard = k < played_.size() && at >= 0 && at < std::ssize(played_[k]);
        const std::int64_t v =
            heard ? std::clamp<std::int64_t>(std::int64_t{played_[k][std::size_t(at)]} * gain, -8388608, 8388607) : 0;
        Pack(played_.empty() ? Code(at, int(k)) : v, channels[k], f);
      }
    }
    captured_ += std::int64_t(frames);
    return snd_pcm_sframes_t(frames);
  }
  void Skip(std::int64_t frames) { captured_ += frames; }  // lost in an overrun
  const std::vector<std::int32_t>& Played(int channel) const { return played_[std::size_t(channel)]; }
  int gain = 1;                     // 0: no cable; anything loud is clipped at full scale
  std::int64_t firstCaptured = -1;  // the frame of the stream that the first read delivered first

 private:
  std::vector<std::vector<std::int32_t>> played_;
  int inputs_, period_, buffer_, delay_;
  std::int64_t written_ = 0, captured_ = 0, reads_ = 0;
  bool started_ = false;
};

// Fails chosen transfers (from 0 per direction): an error instead (-EPIPE: an xrun, whose frames `stream` loses and
// time the clock moves on by), or only so many frames. A device can be slow to resume, gone (later prepares fail), or
// silent: from write `silentAt` on (0: never), the playback takes nothing and its waits run out.
class FaultPort : public PcmPort {
 public:
  using Faults = std::map<int, snd_pcm_sframes_t>;
  FaultPort(PcmPort& inner, Faults writes, Faults reads, LoopbackPort* stream = nullptr)
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
  int Link() override { return linkedAt.push_back(writeCount_), linkResult; }
  void Unlink() override { unlinkedAt.push_back(readCount_); }
  int WaitReady(PcmDirection d, snd_pcm_uframes_t frames, int ms) override {
    if (d == PcmDirection::Capture || silentAt == 0 || writeCount_ < silentAt) return inner_.WaitReady(d, frames, ms);
    return ++waits, late_ += std::int64_t{ms} * 1000, 0;
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
  std::array<int, 2> prepares{};  // playback, capture: the one before the run included
  int prepareFailure = 0;         // a gone device: each direction's prepares after the first
  int resumes = 0, resumesNotYet = 0, resumeResult = -ENOSYS;  // Resume: -EAGAIN this often, then resumeResult
  int interruptAtRead = -1, linkResult = -ENOSYS;  // the read during which SIGINT comes; 0: a card that can link
  std::vector<int> linkedAt, unlinkedAt;           // the writes before each Link, the reads before each Unlink
  int silentAt = 0, waits = 0;                     // waits: those that ran out

 private:
  PcmPort& inner_;
  Faults writes_, reads_;
  LoopbackPort* stream_;
  int writeCount_ = 0, readCount_ = 0;
  std::int64_t late_ = 0;
};

// A card that keeps time at 48 kHz, a period each way per period; a starting stream joins at the next period. A waiting
// transfer moves its own clock on at once (with `realTime`: the system's clock, and it sleeps), meeting every xrun a
// real card would. Input 1 hears output 1 in the period it plays; input 2 the card's time (frame t holds t).
class ClockedCard : public PcmPort {
 public:
  ClockedCard(int period, int buffer, int captureBuffer) : period_(period), buffer_{buffer, captureBuffer} {}
  std::map<int, std::int64_t> lateBeforeWrite, lateBeforeRead;  // frames late before the nth write or read (from 0)
  bool realTime = false;
  int underruns = 0, overruns = 0;
  std::vector<std::int32_t> heard;  // output 1, at each frame of the card's time

  int PeriodFrames() const override { return int(period_); }
  int PlayBufferFrames() const override { return int(buffer_[0]); }
  int CaptureBufferFrames() const override { return int(buffer_[1]); }
  std::int64_t NowMicroseconds() override { return Tick() * 1000000 / 48000; }
  int Drain(PcmDirection) override { return 0; }  // each run starts on a new card
  int Prepare(PcmDirection d) override {
    Of(d) = {};
    return 0;
  }
  int Start(PcmDirection d) override {
    if (Stream& s = Of(d); d == PcmDirection::Capture && s.state == kPrepared) Begin(s);
    return 0;
  }
  snd_pcm_sframes_t AvailUpdate(PcmDirection d) override {
    const snd_pcm_sframes_t delay = Delay(d);
    return delay < 0 || d == PcmDirection::Capture ? delay : buffer_[0] - delay;
  }
  snd_pcm_sframes_t Delay(PcmDirection d) override {
    const Stream& s = Of(d);
    if (s.state != kRunning) return s.state == kXrun ? -EPIPE : d == PcmDirection::Playback ? s.moved : 0;
    return d == PcmDirection::Playback ? s.moved - Done(s) : Done(s) - s.moved;
  }
  bool InXrun(PcmDirection d) override { return Of(d).state == kXrun; }
  int Wait(PcmDirection, int) override { return 1; }
  snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t count) override {
    const auto frames = std::int64_t(count);
    WaitUntil(clock_ + lateBeforeWrite[writes_++]);  // the program comes late, or not (and the map says so)
    Stream& s = s_[0];
    while (s.state == kRunning && buffer_[0] - (s.moved - Done(s)) < frames) WaitUntil(NextPeriod());
    if (s.state == kXrun) return -EPIPE;
    for (std::int64_t f = 0; f < frames; ++f) s.pending.push_back(Unpack(channels[0], f));
    if ((s.moved += frames) < buffer_[0] && s.state == kPrepared) return frames;  // it starts with a full buffer
    if (s.state == kPrepared) Begin(s);
    heard.resize(std::max(heard.size(), std::size_t(s.start + s.moved)), 0);
    std::ranges::copy(s.pending, heard.begin() + std::ptrdiff_t(s.start + s.moved) - std::ssize(s.pending));
    s.pending.clear();
    return frames;
  }
  snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t count) override {
    const auto frames = std::int64_t(count);
    WaitUntil(clock_ + lateBeforeRead[reads_++]);
    Stream& s = s_[1];
    if (s.state == kXrun) return -EPIPE;
    if (s.state == kPrepared) Begin(s);
    while (Done(s) - s.moved < frames) WaitUntil(NextPeriod());
    for (std::int64_t f = 0, t = s.start + s.moved; f < frames; ++f, ++t)
      Pack(t < std::ssize(heard) ? heard[std::size_t(t)] : 0, channels[0], f), Pack(t % 8388607, channels[1], f);
    s.moved += frames;
    return frames;
  }

 private:
  enum State { kPrepared, kRunning, kXrun };
  struct Stream {  // `moved`: the frames written since the playback was prepared, or read since the capture started
    State state = kPrepared;
    std::int64_t start = 0, moved = 0;
    std::vector<std::int32_t> pending;  // written and not yet heard: before the playback started
  };
  Stream& Of(PcmDirection d) { return Tick(), s_[d == PcmDirection::Playback ? 0 : 1]; }
  std::int64_t NextPeriod() const { return clock_ / period_ * period_ + period_; }
  // What a running stream has taken or given by now: a period at each period's start (it starts at one).
  std::int64_t Done(const Stream& s) const { return std::max<std::int64_t>(NextPeriod() - s.start, 0); }
  void Begin(Stream& s) { s.state = kRunning, s.start = NextPeriod(); }
  // The clock moves on, and the card meets its xruns; returns the clock.
  std::int64_t Tick() {
    if (realTime) clock_ = std::max(clock_, RealFrames());
    if (s_[0].state == kRunning && Done(s_[0]) > s_[0].moved) s_[0].state = kXrun, ++underruns;
    if (s_[1].state == kRunning && Done(s_[1]) - s_[1].moved > buffer_[1]) s_[1].state = kXrun, ++overruns;
    return clock_;
  }
  std::int64_t RealFrames() const {  // 48 a millisecond
    return (std::chrono::steady_clock::now() - origin_) / std::chrono::microseconds(1) * 48 / 1000;
  }
  void WaitUntil(std::int64_t t) {
    while (realTime && RealFrames() < t) std::this_thread::sleep_for(std::chrono::microseconds(200));
    clock_ = std::max(clock_, t);
    Tick();
  }

  std::int64_t period_, clock_ = 0;
  std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
  std::int64_t buffer_[2];
  Stream s_[2];
  int writes_ = 0, reads_ = 0;
};

}  // namespace tapeloom::test
