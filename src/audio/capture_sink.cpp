#include "audio/capture_sink.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "audio/metering.h"
#include "core/session_signals.h"
#include "wave/sample_encoding.h"

namespace tapeloom {

TakeSink::TakeSink(const std::vector<int>& inputs, std::int64_t recordLength, std::int64_t recordStart, bool checkPeaks,
                   BlockRing& ring, DiskWorker& worker, RealTimeBudget& budget, InputPeaks& peaks, RunEvents& events)
    : inputs_(inputs),
      recordLength_(recordLength),
      recordStart_(recordStart),
      checkPeaks_(checkPeaks),
      ring_(ring),
      worker_(worker),
      budget_(budget),
      peaks_(peaks),
      events_(events) {}

void TakeSink::Block(const unsigned char* block, int frames) {
  if (done_) return;
  if (checkPeaks_) {
    for (const int k : inputs_) {
      CheckPeak(k, kBlockFrames, peaks_.peak, block + static_cast<std::size_t>(k) * kRowBytes, peaks_.loudest,
                peaks_.loudestChannel);
    }
  }
  const std::int64_t n = std::min<std::int64_t>(recordLength_ - framesWritten_, frames);
  if (n <= 0) {
    done_ = true;
    return;
  }
  // The disk worker has room: the block is handed over. Waiting costs nothing on a card that
  // does not keep time; on one that does, the block is too late and the worker writes silence
  // in its place, so the take keeps its timing.
  while (ring_.Free() == 0 && budget_.MayWait() && PendingSignal() == 0) RealTimeBudget::Pause();
  if (ring_.Free() > 0) {
    unsigned char* slot = ring_.ProducerSlot(0);
    const auto bytes = static_cast<std::size_t>(n) * kSampleBytes;
    for (std::size_t r = 0; r < inputs_.size(); ++r) {
      std::memcpy(slot + r * kRowBytes, block + static_cast<std::size_t>(inputs_[r]) * kRowBytes, bytes);
    }
    ring_.ProducerNote(0) = SlotNote{.position = framesWritten_, .frames = static_cast<int>(n)};
    ring_.Publish(1);
  } else {
    events_.Add(RunEventKind::kTakesLate, recordStart_ + framesWritten_, n);
  }
  framesWritten_ += n;
  // A recording goes on after a take fails only while another take still works.
  if (worker_.AllTakesFailed()) done_ = true;
}

void TakeSink::Report() {
  const std::uint32_t count = worker_.FailureCount();
  for (; reported_ < count && !worker_.Failure(reported_).closing; ++reported_) {
    const WorkerFailure& failure = worker_.Failure(reported_);
    // Said once: the take keeps what it holds and the recording goes on with the others.
    if (failure.take) std::printf("\n%s\n", failure.status.Message().c_str());
  }
  if (worker_.AllTakesFailed()) done_ = true;
}

void TakeSink::ReportClosing() {
  Report();
  const std::uint32_t count = worker_.FailureCount();
  for (; reported_ < count; ++reported_) {
    if (worker_.Failure(reported_).take) tapeloom::Report(worker_.Failure(reported_).status);
  }
}

MemorySink::MemorySink(int input, std::int64_t recordLength, std::vector<std::int32_t>& captured)
    : input_(input), recordLength_(recordLength), captured_(captured) {
  captured_.clear();
  captured_.reserve(static_cast<std::size_t>(std::max<std::int64_t>(recordLength, 0)));
}

void MemorySink::Block(const unsigned char* block, int frames) {
  const std::int64_t n = std::min<std::int64_t>(recordLength_ - Frames(), frames);
  if (n <= 0) {
    done_ = true;
    return;
  }
  const unsigned char* row = block + static_cast<std::size_t>(input_) * kRowBytes;
  for (std::int64_t f = 0; f < n; ++f) captured_.push_back(UnpackSample24(row + f * kSampleBytes));
}

}  // namespace tapeloom
