// A plain reference mixer: per-sample loops that follow the mixing arithmetic (integer gains
// truncated, 64-bit sums, single-precision bus scaling truncated, outputs limited to 24 bits)
// with none of the engine's tricks.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "mix/mix_block.h"

namespace tapeloom::test {

using Block = std::vector<unsigned char>;

inline Block MakeBlock(int regions) { return Block(regions * kMixRegionBytes); }
inline std::int32_t SampleAt(const Block& b, int region, int frame) {
  const std::size_t at = region * kMixRegionBytes + 3 * frame;
  return b[at] + 256 * b[at + 1] + 65536 * static_cast<signed char>(b[at + 2]);
}
inline void SetSample(Block& b, int region, int frame, std::int32_t value) {
  for (int k = 0; k < 3; ++k) b[region * kMixRegionBytes + 3 * frame + k] = static_cast<unsigned char>(value >> 8 * k);
}

struct MixSetup {
  int n = 0, mix = 1, busCount = 0;
  std::array<int, kMaxTracks> play{};
  std::array<float, kMaxTracks> gainL{}, gainR{};
  std::array<int, kMaxBusses> busActive{};
  BusAssignTable busAssign{};
  std::array<float, kMaxBusses> busGain{};  // busGain[0] is also the master of mode 1
};

inline void GrowPeaks(MixPeaks& peaks, const MixPeaks& more) {
  peaks = {std::max(peaks.left, more.left), std::max(peaks.right, more.right), peaks.busLeft, peaks.busRight};
  for (int b = 0; b < kMaxBusses; ++b) peaks.busLeft[b] = std::max(peaks.busLeft[b], more.busLeft[b]);
  for (int b = 0; b < kMaxBusses; ++b) peaks.busRight[b] = std::max(peaks.busRight[b], more.busRight[b]);
}

struct ReferenceResult {
  Block block;
  MixPeaks peaks;
};

inline ReferenceResult ReferenceMix(const Block& in, const MixSetup& s) {
  ReferenceResult r{in, {}};
  std::vector<std::array<std::array<std::int64_t, kMixBlockFrames>, 2>> bus(kMaxBusses);  // [bus][side][frame]
  for (int b = 0; b < (s.mix == 1 ? 1 : kMaxBusses); ++b)
    for (int t = 0; t < s.n; ++t)
      for (int side = 0; side < 2 && s.play[t] == 1 && (s.mix == 1 || s.busAssign[b][t] == 1); ++side)
        for (int i = 0; i < kMixBlockFrames; ++i)
          bus[b][side][i] += SampleAt(in, t, i) * std::int64_t((side ? s.gainR : s.gainL)[t]);
  const auto scaled = [&](int b, int side, int i) {
    const auto v = static_cast<std::int64_t>(static_cast<float>(bus[b][side][i]) * s.busGain[b]);
    std::int64_t& peak =
        s.mix == 1 ? (side ? r.peaks.right : r.peaks.left) : (side ? r.peaks.busRight : r.peaks.busLeft)[b];
    return peak = std::max(peak, std::abs(v)), v;
  };
  constexpr std::int64_t kFeedLimit = std::int64_t{1} << 47;  // so that the master's sum cannot overflow
  for (int b = 1; s.mix == 3 && b < s.busCount; ++b)
    for (int side = 0; side < 2 && s.busActive[b] == 1; ++side)
      for (int i = 0; i < kMixBlockFrames; ++i)
        bus[0][side][i] += 256 * std::clamp(scaled(b, side, i), -kFeedLimit, kFeedLimit);
  for (int b = 0; b < (s.mix == 2 ? s.busCount : 1); ++b)
    for (int i = 0; i < kMixBlockFrames && (s.mix != 2 || s.busActive[b] == 1); ++i)
      for (int side = 0; side < 2; ++side)
        SetSample(r.block, 2 * b + side, i, std::clamp<std::int64_t>(scaled(b, side, i), -8388608, 8388607));
  return r;
}

}  // namespace tapeloom::test
