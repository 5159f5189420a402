// What a run plays: the blocks of its outputs, one after the other. The playlist's source takes
// the tracks' blocks that the disk worker read ahead, silences the tracks being re-recorded from
// the record start on, and mixes them in place by the mix mode; the export renders through the
// same source. The calibration's source plays its test signal on one output.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "audio/block_ring.h"
#include "audio/disk_worker.h"
#include "audio/real_time_budget.h"
#include "audio/run_events.h"
#include "core/session_settings.h"
#include "mix/gains.h"
#include "mix/mix_engine.h"

namespace tapeloom {

class PlaySource {
 public:
  PlaySource() = default;
  PlaySource(const PlaySource&) = delete;
  PlaySource& operator=(const PlaySource&) = delete;
  virtual ~PlaySource() = default;

  // The block that plays from `position`: 4096 frames of every output, channel c in the row
  // at c × 12288, ready to play. It stays as it is until Release gives it back; at most two
  // blocks are held at once (the one playing and the next).
  virtual const unsigned char* Take(std::int64_t position) = 0;
  // The oldest block held is played out.
  virtual void Release() = 0;
  // Said once a cycle: reports what the source has to say (a track that could not be read).
  virtual void Report() {}
};

// How the playlist's blocks are mixed: the mix mode's engine call with the run's flags, gains
// and busses, decided once.
struct MixChoice {
  MixMode mode = MixMode::kDirect;
  int tracks = 0;    // tracks 0..tracks-1 take part by their flags
  int busCount = 0;  // modes 2 and 3: the busses that reach the outputs
  const TrackFlags* flags = nullptr;
  const TrackGains* gains = nullptr;
  const std::array<int, kMaxBusses>* busActive = nullptr;
  const BusAssignTable* busAssign = nullptr;
  const std::array<float, kMaxBusses>* busGain = nullptr;
};

// Tracks silent from the record start on: those a recording replaces.
struct Punch {
  const TrackFlags* replaced = nullptr;  // null: none
  std::int64_t recordStart = 0;
};

class PlaylistSource final : public PlaySource {
 public:
  // Blocks from the play ring that `worker` fills; `rows` rows per block. When a block is not
  // there in time (the budget says waiting would cost the card), silence plays in its place
  // and the stretch is noted in `events`. A failed track read is said with `names`' name.
  PlaylistSource(BlockRing& ring, DiskWorker& worker, std::int64_t firstPosition, int rows, RealTimeBudget& budget,
                 MixEngine& mixer, const MixChoice& mix, MixPeaks& peaks, const Punch& punch, RunEvents& events);

  const unsigned char* Take(std::int64_t position) override;
  void Release() override;
  void Report() override;

 private:
  void Prepare(unsigned char* block, std::int64_t position);

  BlockRing& ring_;
  DiskWorker& worker_;
  std::int64_t firstPosition_;
  RealTimeBudget& budget_;
  MixEngine& mixer_;
  MixChoice mix_;
  MixPeaks& peaks_;
  Punch punch_;
  RunEvents& events_;
  std::vector<unsigned char> silence_;
  std::size_t blockBytes_;
  // The blocks held, oldest first, each with the ring slots it gives back when released (one,
  // or none for silence, plus any stale slots skipped to reach it).
  std::array<std::size_t, 3> held_{};
  std::size_t heldCount_ = 0;
  std::size_t heldSlots_ = 0;  // ring slots behind the held blocks
  std::uint32_t reported_ = 0;
};

// The calibration's test signal on one output, every other output silent.
class SignalSource final : public PlaySource {
 public:
  SignalSource(const std::vector<std::int32_t>& signal, std::int64_t signalStart, int output, int rows);
  const unsigned char* Take(std::int64_t position) override;
  void Release() override {}

 private:
  const std::vector<std::int32_t>& signal_;
  std::int64_t signalStart_;
  int output_;
  std::array<std::vector<unsigned char>, 2> blocks_;
  int next_ = 0;
};

}  // namespace tapeloom
