// Where a recording's captured blocks go. The takes' sink scans the inputs' peaks and hands each
// block to the disk worker through the capture ring; the calibration keeps one input in memory.
// Either says when the recording has all it needs: the planned length, and the block after it
// that the run captures before it ends.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "audio/block_ring.h"
#include "audio/disk_worker.h"
#include "audio/real_time_budget.h"
#include "audio/run_events.h"
#include "core/session_settings.h"

namespace tapeloom {

// The peaks the recording measures, for the meter while it runs and the report after it.
struct InputPeaks {
  std::array<int, kMaxTracks> peak{};  // per input
  int loudest = 0;                     // since the meter's last update
  int loudestChannel = 0;              // 1-based
};

class CaptureSink {
 public:
  CaptureSink() = default;
  CaptureSink(const CaptureSink&) = delete;
  CaptureSink& operator=(const CaptureSink&) = delete;
  virtual ~CaptureSink() = default;

  // A record block is full, or the run stops with `frames` of it captured: input k's frames
  // are in row k of `block`. At most what is left of the planned length is kept.
  virtual void Block(const unsigned char* block, int frames) = 0;
  // The recording has all it needs and the run ends.
  virtual bool Done() const = 0;
  // Frames of take so far.
  virtual std::int64_t Frames() const = 0;
  // Said once a cycle: reports what the sink has to say (a take that could not be written).
  virtual void Report() {}
  // After the run: what went wrong when the takes were finished (their headers, the flush).
  virtual void ReportClosing() {}
};

class TakeSink final : public CaptureSink {
 public:
  // `inputs` lists the inputs whose takes record, in the order of the worker's takes; their
  // rows in the capture ring's slots are 0, 1, ... in that order. When the ring has no room
  // in time (the budget says waiting would cost the card), the block is not recorded and the
  // stretch is noted in `events`; the worker writes silence in its place.
  TakeSink(const std::vector<int>& inputs, std::int64_t recordLength, std::int64_t recordStart, bool checkPeaks,
           BlockRing& ring, DiskWorker& worker, RealTimeBudget& budget, InputPeaks& peaks, RunEvents& events);

  void Block(const unsigned char* block, int frames) override;
  bool Done() const override { return done_; }
  std::int64_t Frames() const override { return framesWritten_; }
  void Report() override;
  void ReportClosing() override;

 private:
  std::vector<int> inputs_;
  std::int64_t recordLength_;
  std::int64_t recordStart_;
  bool checkPeaks_;
  BlockRing& ring_;
  DiskWorker& worker_;
  RealTimeBudget& budget_;
  InputPeaks& peaks_;
  RunEvents& events_;
  std::int64_t framesWritten_ = 0;
  bool done_ = false;
  std::uint32_t reported_ = 0;
};

// The calibration's input, frame for frame from the record start to the stop, as a take would
// hold it.
class MemorySink final : public CaptureSink {
 public:
  MemorySink(int input, std::int64_t recordLength, std::vector<std::int32_t>& captured);

  void Block(const unsigned char* block, int frames) override;
  bool Done() const override { return done_; }
  std::int64_t Frames() const override { return static_cast<std::int64_t>(captured_.size()); }

 private:
  int input_;
  std::int64_t recordLength_;
  std::vector<std::int32_t>& captured_;
  bool done_ = false;
};

}  // namespace tapeloom
