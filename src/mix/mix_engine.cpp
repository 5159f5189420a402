#include "mix/mix_engine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/safe_convert.h"
#include "mix/block_kernels.h"

namespace tapeloom {
namespace {

constexpr std::size_t kFrames = kMixBlockFrames;
constexpr std::size_t kPart = kKernelFrames;

// A gain that is not a finite number mutes rather than turning every sample into nonsense.
float FiniteGain(float gain) { return std::isfinite(gain) ? gain : 0.0f; }

struct Corrections {
  std::uint64_t left;
  std::uint64_t right;
};

}  // namespace

// All buffers of the engine in one allocation. A block is mixed in parts of kPart frames,
// each part whole (every bus, every output) before the next: a part's sums, its master and
// the decoded parts of a bus's tracks then stay in the processor's first-level cache from
// the sums to the output. A track is decoded into its row when a bus first needs it in a
// part, just before it is summed; rows of tracks that never play are never touched. Busses
// are mixed one at a time, each finished (packed, or fed into the master) before the next,
// so one pair of 64-bit sums serves them all.
struct MixEngine::Work {
  std::array<std::uint32_t, kMaxTracks * kPart> decoded;  // row t: track t's part, as offset samples
  std::array<std::uint64_t, kPart> accL;                  // the bus being mixed
  std::array<std::uint64_t, kPart> accR;
  std::array<std::int64_t, kPart> masterL;  // mode 3: busses 2.. fed into the master
  std::array<std::int64_t, kPart> masterR;
  std::array<unsigned char, kMixRegionBytes> discard;  // output regions that lie beyond the block

  // Tables prepared once per block, outside the frame loops.
  std::span<unsigned char> block;
  std::size_t partStart;  // the first frame of the part being mixed
  int trackCount;
  std::array<std::int32_t, kMaxTracks> gainL;
  std::array<std::int32_t, kMaxTracks> gainR;
  std::array<bool, kMaxTracks> audible;  // playing, with a gain on at least one side
  std::array<bool, kMaxTracks> used;     // mode 2: feeds a bus that reaches an output
  std::array<bool, kMaxTracks> decodedNow;
  std::array<std::uint8_t, kMaxTracks> mixTracks;  // mode 1: the tracks to sum
  std::array<std::array<std::uint8_t, kMaxTracks>, kMaxBusses> busTracks;
  std::array<int, kMaxBusses> busTrackCount;
  std::array<int, kMaxBusses> busOrder;  // the busses that reach the outputs, in mixing order

  // Takes the block and the integer gains of its playing tracks. Tracks whose region lies
  // beyond the block are not mixed.
  void StartBlock(std::span<unsigned char> newBlock, int n, std::span<const int, kMaxTracks> playFlags,
                  std::span<const float, kMaxTracks> trackGainL, std::span<const float, kMaxTracks> trackGainR) {
    block = newBlock;
    const auto regions = static_cast<int>(std::min<std::size_t>(block.size() / kMixRegionBytes, kMaxTracks));
    trackCount = std::clamp(n, 0, regions);
    for (std::size_t t = 0; t < Tracks(); ++t) {
      used[t] = false;
      audible[t] = false;
      if (playFlags[t] != 1) continue;
      gainL[t] = TruncateToInt32(static_cast<double>(trackGainL[t]));
      gainR[t] = TruncateToInt32(static_cast<double>(trackGainR[t]));
      audible[t] = gainL[t] != 0 || gainR[t] != 0;
    }
  }

  std::size_t Tracks() const { return static_cast<std::size_t>(trackCount); }

  void StartPart(std::size_t start) {
    partStart = start;
    std::fill_n(decodedNow.begin(), Tracks(), false);
  }

  std::uint32_t* Row(std::size_t track) { return decoded.data() + track * kPart; }

  void Decode(std::size_t track) {
    if (decodedNow[track]) return;
    DecodeOffsetSamples(block.data() + track * kMixRegionBytes + 3 * partStart, Row(track));
    decodedNow[track] = true;
  }

  // The part of an output region being mixed.
  unsigned char* OutputRegion(std::size_t region) {
    if ((region + 1) * kMixRegionBytes > block.size()) return discard.data() + 3 * partStart;
    return block.data() + region * kMixRegionBytes + 3 * partStart;
  }

  // Sums the tracks into accL/accR, four at a time, and returns what to subtract to make
  // the sums exact. Without tracks the sums are zero.
  Corrections Accumulate(std::span<const std::uint8_t> tracks) {
    if (tracks.empty()) {
      accL.fill(0);
      accR.fill(0);
      return {0, 0};
    }
    std::int64_t sumL = 0;
    std::int64_t sumR = 0;
    std::array<TrackTap, kTapGroup> group;
    for (std::size_t start = 0; start < tracks.size(); start += kTapGroup) {
      const std::size_t size = std::min(kTapGroup, tracks.size() - start);
      for (std::size_t k = 0; k < size; ++k) {
        const std::size_t t = tracks[start + k];
        Decode(t);
        group[k] = TrackTap{Row(t), gainL[t], gainR[t]};
        sumL += gainL[t];
        sumR += gainR[t];
      }
      AccumulateGroup(std::span(group.data(), size), accL.data(), accR.data(), start == 0);
    }
    return {OffsetCorrection(sumL), OffsetCorrection(sumR)};
  }

  std::span<const std::uint8_t> BusTracks(std::size_t bus) const {
    return {busTracks[bus].data(), static_cast<std::size_t>(busTrackCount[bus])};
  }

  // Lists the audible tracks that feed each bus of the order.
  void Route(std::size_t planned, const BusAssignTable& busAssign) {
    for (std::size_t k = 0; k < planned; ++k) {
      const auto b = static_cast<std::size_t>(busOrder[k]);
      int fed = 0;
      for (std::size_t t = 0; t < Tracks(); ++t) {
        if (!audible[t] || busAssign[b][t] != 1) continue;
        busTracks[b][static_cast<std::size_t>(fed++)] = static_cast<std::uint8_t>(t);
        used[t] = true;
      }
      busTrackCount[b] = fed;
    }
  }

  // A region that an output is about to overwrite is decoded first if any bus needs its
  // track, since a bus mixed later may still read it.
  void KeepTrackOf(std::size_t region) {
    if (region < Tracks() && used[region]) Decode(region);
  }

  // Mode 2, one part: each bus of the order to its own pair of outputs.
  void MixBusses(std::size_t planned, std::span<const float, kMaxBusses> busGain, MixPeaks& peaks) {
    for (std::size_t k = 0; k < planned; ++k) {
      const auto b = static_cast<std::size_t>(busOrder[k]);
      const Corrections correction = Accumulate(BusTracks(b));
      const float gain = FiniteGain(busGain[b]);
      KeepTrackOf(2 * b);
      KeepTrackOf(2 * b + 1);
      const std::uint32_t left = ScaleToRegion(accL.data(), correction.left, nullptr, gain, OutputRegion(2 * b));
      const std::uint32_t right = ScaleToRegion(accR.data(), correction.right, nullptr, gain, OutputRegion(2 * b + 1));
      peaks.busLeft[b] = std::max(peaks.busLeft[b], PeakFromBits(left));
      peaks.busRight[b] = std::max(peaks.busRight[b], PeakFromBits(right));
    }
  }

  // Mode 3, one part: every bus before the master in the order feeds it. A bus without
  // tracks adds nothing and has a peak of 0, so it is skipped. Only the master writes
  // outputs, last.
  void MixIntoMaster(std::size_t planned, std::span<const float, kMaxBusses> busGain, MixPeaks& peaks) {
    bool masterFed = false;
    for (std::size_t k = 0; k + 1 < planned; ++k) {
      const auto b = static_cast<std::size_t>(busOrder[k]);
      if (busTrackCount[b] == 0) continue;
      const Corrections correction = Accumulate(BusTracks(b));
      const float gain = FiniteGain(busGain[b]);
      const std::uint32_t left = ScaleIntoMaster(accL.data(), correction.left, gain, masterL.data(), !masterFed);
      const std::uint32_t right = ScaleIntoMaster(accR.data(), correction.right, gain, masterR.data(), !masterFed);
      peaks.busLeft[b] = std::max(peaks.busLeft[b], PeakFromBits(left));
      peaks.busRight[b] = std::max(peaks.busRight[b], PeakFromBits(right));
      masterFed = true;
    }
    const Corrections correction = Accumulate(BusTracks(0));
    const float gain = FiniteGain(busGain[0]);
    const std::uint32_t left =
        ScaleToRegion(accL.data(), correction.left, masterFed ? masterL.data() : nullptr, gain, OutputRegion(0));
    const std::uint32_t right =
        ScaleToRegion(accR.data(), correction.right, masterFed ? masterR.data() : nullptr, gain, OutputRegion(1));
    peaks.busLeft[0] = std::max(peaks.busLeft[0], PeakFromBits(left));
    peaks.busRight[0] = std::max(peaks.busRight[0], PeakFromBits(right));
  }
};

MixEngine::MixEngine() : work_(std::make_unique_for_overwrite<Work>()) {}
MixEngine::~MixEngine() = default;
MixEngine::MixEngine(MixEngine&&) noexcept = default;
MixEngine& MixEngine::operator=(MixEngine&&) noexcept = default;

void MixEngine::Mix(std::span<unsigned char> block, int n, std::span<const int, kMaxTracks> playFlags,
                    std::span<const float, kMaxTracks> gainL, std::span<const float, kMaxTracks> gainR, MixPeaks& peaks,
                    float masterGain) {
  Work& w = *work_;
  w.StartBlock(block, n, playFlags, gainL, gainR);
  std::size_t count = 0;
  for (std::size_t t = 0; t < w.Tracks(); ++t) {
    if (w.audible[t]) w.mixTracks[count++] = static_cast<std::uint8_t>(t);
  }
  const float gain = FiniteGain(masterGain);
  std::uint32_t left = 0;
  std::uint32_t right = 0;
  for (std::size_t start = 0; start < kFrames; start += kPart) {
    w.StartPart(start);
    const Corrections correction = w.Accumulate(std::span(w.mixTracks.data(), count));
    left = std::max(left, ScaleToRegion(w.accL.data(), correction.left, nullptr, gain, w.OutputRegion(0)));
    right = std::max(right, ScaleToRegion(w.accR.data(), correction.right, nullptr, gain, w.OutputRegion(1)));
  }
  peaks.left = std::max(peaks.left, PeakFromBits(left));
  peaks.right = std::max(peaks.right, PeakFromBits(right));
}

void MixEngine::MixMultiple(std::span<unsigned char> block, int n, std::span<const int, kMaxTracks> playFlags,
                            std::span<const float, kMaxTracks> gainL, std::span<const float, kMaxTracks> gainR,
                            MixPeaks& peaks, std::span<const int, kMaxBusses> busActive,
                            const BusAssignTable& busAssign, int busCount, std::span<const float, kMaxBusses> busGain,
                            MixMode mix) {
  if (!MixesIntoBusses(mix)) return;
  Work& w = *work_;
  w.StartBlock(block, n, playFlags, gainL, gainR);
  const auto busses = static_cast<std::size_t>(std::clamp(busCount, 0, kMaxBusses));

  // The busses that reach the outputs; in mode 3 the master comes last, after the busses
  // that feed it. Busses that reach no output are not mixed at all.
  std::size_t planned = 0;
  for (std::size_t b = (mix == MixMode::kMaster ? 1 : 0); b < busses; ++b) {
    if (busActive[b] == 1) w.busOrder[planned++] = static_cast<int>(b);
  }
  if (mix == MixMode::kMaster) w.busOrder[planned++] = 0;
  w.Route(planned, busAssign);

  for (std::size_t start = 0; start < kFrames; start += kPart) {
    w.StartPart(start);
    if (mix == MixMode::kBusPairs) {
      w.MixBusses(planned, busGain, peaks);
    } else {
      w.MixIntoMaster(planned, busGain, peaks);
    }
  }
}

}  // namespace tapeloom
