// Blocks for the mixer tests, and a plain reference mixer: per-sample loops that follow the
// mixing arithmetic step by step (integer gains truncated toward zero, 64-bit sums,
// single-precision bus scaling truncated toward zero, outputs limited to 24 bits), with none
// of the engine's tricks. It records the largest sum and scaled value it formed, so that a
// test can tell whether a case stayed within 32 bits and 24 bits, where the limits never act.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "mix/busses.h"
#include "mix/mix_block.h"

namespace tapeloom::test {

using Block = std::vector<unsigned char>;

inline Block MakeBlock(int regions) { return Block(static_cast<std::size_t>(regions) * kMixRegionBytes); }

inline std::size_t ByteAt(int region, int frame) {
  return static_cast<std::size_t>(region) * kMixRegionBytes + 3 * static_cast<std::size_t>(frame);
}

inline std::int32_t SampleAt(const Block& b, int region, int frame) {
  const std::size_t at = ByteAt(region, frame);
  return b[at] + 256 * b[at + 1] + 65536 * static_cast<signed char>(b[at + 2]);
}

inline void SetSample(Block& b, int region, int frame, std::int32_t value) {
  const std::size_t at = ByteAt(region, frame);
  for (int k = 0; k < 3; ++k) b[at + static_cast<std::size_t>(k)] = static_cast<unsigned char>(value >> (8 * k));
}

struct MixSetup {
  int n = 0;
  int mix = 1;
  int busCount = 0;
  std::array<int, kMaxTracks> play{};
  std::array<float, kMaxTracks> gainL{};
  std::array<float, kMaxTracks> gainR{};
  std::array<int, kMaxBusses> busActive{};
  BusAssignTable busAssign{};
  std::array<float, kMaxBusses> busGain{};  // busGain[0] is also the master of mode 1
};

struct ReferenceResult {
  Block block;
  MixPeaks peaks;
  std::int64_t largestSum = 0;  // every sum, bus feed and master sum
  std::int64_t largestOut = 0;  // every scaled value
};

inline ReferenceResult ReferenceMix(const Block& in, const MixSetup& s) {
  ReferenceResult r{in, {}, 0, 0};
  using Sums = std::array<std::int64_t, kMixBlockFrames>;
  std::vector<std::array<Sums, 2>> bus(kMaxBusses);  // [bus][side][frame], from the block as it came in
  const auto note = [](std::int64_t& largest, std::int64_t v) { largest = std::max(largest, std::abs(v)); };
  for (int b = 0; b < (s.mix == 1 ? 1 : kMaxBusses); ++b) {
    for (int t = 0; t < s.n; ++t) {
      const auto tr = static_cast<std::size_t>(t);
      if (s.play[tr] != 1 || (s.mix != 1 && s.busAssign[static_cast<std::size_t>(b)][tr] != 1)) continue;
      const std::array<float, 2> gain = {s.gainL[tr], s.gainR[tr]};
      for (std::size_t side = 0; side < 2; ++side) {
        for (int i = 0; i < kMixBlockFrames; ++i) {
          std::int64_t& sum = bus[static_cast<std::size_t>(b)][side][static_cast<std::size_t>(i)];
          sum += SampleAt(in, t, i) * static_cast<std::int64_t>(std::trunc(gain[side]));
          note(r.largestSum, sum);
        }
      }
    }
  }
  const auto scale = [&](std::size_t b, std::size_t side, std::size_t i, std::int64_t& peak) {
    const auto v = static_cast<std::int64_t>(std::trunc(static_cast<float>(bus[b][side][i]) * s.busGain[b]));
    note(r.largestOut, v);
    note(peak, v);
    return v;
  };
  const auto output = [&](std::size_t b, int region, std::int64_t& peakL, std::int64_t& peakR) {
    for (std::size_t i = 0; i < kMixBlockFrames; ++i) {
      for (std::size_t side = 0; side < 2; ++side) {
        const std::int64_t v = scale(b, side, i, side == 0 ? peakL : peakR);
        SetSample(r.block, region + static_cast<int>(side), static_cast<int>(i),
                  static_cast<std::int32_t>(std::clamp<std::int64_t>(v, -8388608, 8388607)));
      }
    }
  };
  if (s.mix == 1) output(0, 0, r.peaks.left, r.peaks.right);
  for (std::size_t b = 0; s.mix == 2 && b < static_cast<std::size_t>(s.busCount); ++b) {
    if (s.busActive[b] == 1) output(b, 2 * static_cast<int>(b), r.peaks.busLeft[b], r.peaks.busRight[b]);
  }
  if (s.mix != 3) return r;
  for (std::size_t b = 1; b < static_cast<std::size_t>(std::max(s.busCount, 1)); ++b) {
    for (std::size_t side = 0; s.busActive[b] == 1 && side < 2; ++side) {
      for (std::size_t i = 0; i < kMixBlockFrames; ++i) {
        // A bus enters the master limited to ±2^47, so that the master sum cannot overflow.
        const std::int64_t limit = std::int64_t{1} << 47;
        const std::int64_t scaled = scale(b, side, i, side == 0 ? r.peaks.busLeft[b] : r.peaks.busRight[b]);
        const std::int64_t feed = 256 * std::clamp(scaled, -limit, limit);
        note(r.largestSum, feed);
        note(r.largestSum, bus[0][side][i] += feed);
      }
    }
  }
  output(0, 0, r.peaks.busLeft[0], r.peaks.busRight[0]);
  return r;
}

}  // namespace tapeloom::test
