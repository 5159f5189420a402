// The audio block the mixer works on, and the peaks it measures while mixing.
//
// A block is 4096 frames. The block buffer holds one region per channel, one after the
// other: 4096 packed samples of 3 bytes (24-bit little-endian two's complement), so channel
// c starts at byte c × 12288. On entry region t holds track t + 1; the mixer writes its
// output pairs into regions 0 and 1 (modes 1 and 3) or 2b and 2b + 1 (bus b + 1, mode 2).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/session_settings.h"

namespace tapeloom {

inline constexpr int kMixBlockFrames = 4096;
inline constexpr std::size_t kMixRegionBytes = kMixBlockFrames * 3;  // 12288

// Largest magnitudes of the mixed samples, in 24-bit units (full scale 8388607). They are
// measured before the output is limited to the 24-bit range, so a mix that went over shows
// a peak above full scale; a sum can exceed even the 32-bit range, hence 64 bits.
// The transport run and the export keep one per run and clear it when the run starts.
struct MixPeaks {
  std::int64_t left = 0;  // mode 1: outputs 1 and 2
  std::int64_t right = 0;
  std::array<std::int64_t, kMaxBusses> busLeft{};  // modes 2 and 3, per bus; in mode 3 bus 1 feeds outputs 1 and 2
  std::array<std::int64_t, kMaxBusses> busRight{};

  void Clear() { *this = MixPeaks{}; }
};

}  // namespace tapeloom
