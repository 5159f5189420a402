// PCM ports for tests of the transport run, in memory, without ALSA: a model of a real card
// whose inputs hear its outputs, a capture that delivers position-coded frames, and a wrapper
// that fails chosen transfers the way a card does on an xrun.
#pragma once

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <map>
#include <vector>

#include "audio/pcm_port.h"

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
  int Drain(PcmDirection d) override { return inner_.Drain(d); }
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
  int interruptAtRead = -1;  // the read during which SIGINT comes

 private:
  PcmPort& inner_;
  std::map<int, snd_pcm_sframes_t> writes_;
  std::map<int, snd_pcm_sframes_t> reads_;
  PositionPort* stream_;
  int writeCount_ = 0;
  int readCount_ = 0;
};

}  // namespace tapeloom::test
