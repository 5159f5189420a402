#include "audio/play_source.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/session_signals.h"
#include "wave/sample_encoding.h"

namespace tapeloom {

PlaylistSource::PlaylistSource(BlockRing& ring, DiskWorker& worker, std::int64_t firstPosition, int rows,
                               RealTimeBudget& budget, MixEngine& mixer, const MixChoice& mix, MixPeaks& peaks,
                               const Punch& punch, RunEvents& events)
    : ring_(ring),
      worker_(worker),
      firstPosition_(firstPosition),
      budget_(budget),
      mixer_(mixer),
      mix_(mix),
      peaks_(peaks),
      punch_(punch),
      events_(events),
      silence_(static_cast<std::size_t>(rows) * kRowBytes, 0),
      blockBytes_(static_cast<std::size_t>(rows) * kRowBytes) {}

const unsigned char* PlaylistSource::Take(std::int64_t position) {
  std::size_t stale = 0;
  for (;;) {
    // Blocks the worker read for positions the run has gone past are skipped.
    while (ring_.Ready() > heldSlots_ + stale && ring_.ConsumerNote(heldSlots_ + stale).position < position) ++stale;
    if (ring_.Ready() > heldSlots_ + stale && ring_.ConsumerNote(heldSlots_ + stale).position == position) {
      unsigned char* block = ring_.ConsumerSlot(heldSlots_ + stale);
      held_[heldCount_++] = stale + 1;
      heldSlots_ += stale + 1;
      Prepare(block, position);
      return block;
    }
    // Not there yet. Waiting costs nothing on a card that does not keep time; on one that does,
    // the block is too late: silence plays in its place, and the worker goes on from the next.
    if (!budget_.MayWait() || PendingSignal() != 0) break;
    RealTimeBudget::Pause();
  }
  events_.Add(RunEventKind::kTracksLate, position, kBlockFrames);
  worker_.SkipTo(static_cast<std::uint32_t>((position - firstPosition_) / kBlockFrames + 1));
  held_[heldCount_++] = stale;
  heldSlots_ += stale;
  return silence_.data();
}

void PlaylistSource::Release() {
  if (heldCount_ == 0) return;
  const std::size_t slots = held_[0];
  std::copy(held_.begin() + 1, held_.begin() + static_cast<std::ptrdiff_t>(heldCount_), held_.begin());
  --heldCount_;
  heldSlots_ -= slots;
  ring_.Release(slots);
}

void PlaylistSource::Report() {
  const std::uint32_t count = worker_.FailureCount();
  for (; reported_ < count; ++reported_) {
    const WorkerFailure& failure = worker_.Failure(reported_);
    // The file went bad while playing: it plays silence for the rest of the run.
    if (!failure.take) std::printf("\n%s\n", failure.status.Message().c_str());
  }
}

void PlaylistSource::Prepare(unsigned char* block, std::int64_t position) {
  if (punch_.replaced != nullptr && punch_.recordStart <= position + (kBlockFrames - 1)) {
    // A track being re-recorded is silent from the record start on.
    const std::int64_t punchFrame = punch_.recordStart > position ? punch_.recordStart - position : 0;
    for (int t = 0; t < mix_.tracks && t < kMaxTracks; ++t) {
      if ((*punch_.replaced)[static_cast<std::size_t>(t)] != 1 || (*mix_.flags)[static_cast<std::size_t>(t)] != 1) {
        continue;
      }
      std::memset(block + static_cast<std::size_t>(t) * kRowBytes + punchFrame * kSampleBytes, 0,
                  static_cast<std::size_t>(kBlockFrames - punchFrame) * kSampleBytes);
    }
  }
  const std::span<unsigned char> span(block, blockBytes_);
  if (mix_.mode == MixMode::kStereo) {
    mixer_.Mix(span, mix_.tracks, *mix_.flags, mix_.gains->left, mix_.gains->right, peaks_, (*mix_.busGain)[0]);
  } else if (MixesIntoBusses(mix_.mode)) {
    mixer_.MixMultiple(span, mix_.tracks, *mix_.flags, mix_.gains->left, mix_.gains->right, peaks_, *mix_.busActive,
                       *mix_.busAssign, mix_.busCount, *mix_.busGain, mix_.mode);
  }
}

SignalSource::SignalSource(const std::vector<std::int32_t>& signal, std::int64_t signalStart, int output, int rows)
    : signal_(signal), signalStart_(signalStart), output_(output) {
  for (auto& block : blocks_) block.assign(static_cast<std::size_t>(std::max(rows, output + 1)) * kRowBytes, 0);
}

const unsigned char* SignalSource::Take(std::int64_t position) {
  std::vector<unsigned char>& block = blocks_[static_cast<std::size_t>(next_)];
  next_ = 1 - next_;
  unsigned char* row = block.data() + static_cast<std::size_t>(output_) * kRowBytes;
  std::memset(row, 0, kRowBytes);
  const auto length = static_cast<std::int64_t>(signal_.size());
  for (int f = 0; f < kBlockFrames; ++f) {
    const std::int64_t at = position + f - signalStart_;
    if (at >= 0 && at < length) PackSample24(signal_[static_cast<std::size_t>(at)], row + f * kSampleBytes);
  }
  return block.data();
}

}  // namespace tapeloom
