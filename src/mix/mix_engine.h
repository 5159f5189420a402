// The mix engine: mixes one block of tracks in place into output pairs, by mix mode.
//
// Mode 1 (Mix) sums every playing track with its volume and pan into one stereo pair,
// scaled by the master gain, into regions 0 and 1. Modes 2 and 3 (MixMultiple) sum tracks
// into stereo busses by their routing: mode 2 sends each active bus b (0-based) to regions
// 2b and 2b + 1; mode 3 scales busses 2.. into bus 1, the master, which goes to regions 0
// and 1. Regions the mode does not write keep what they held.
//
// Arithmetic: track gains are truncated to integers, samples × gains are summed exactly,
// each bus is scaled by its gain in single precision and truncated toward zero, and each
// output sample is limited to the 24-bit range before it is packed, so a mix that is too
// loud clips instead of wrapping around. Peaks are measured before that limit.
//
// One engine holds all the work buffers, allocated when it is made and reused by every
// block; a session keeps one for all its runs and exports. Not reentrant.
#pragma once

#include <memory>
#include <span>

#include "core/session_settings.h"
#include "mix/busses.h"
#include "mix/mix_block.h"

namespace tapeloom {

class MixEngine {
 public:
  MixEngine();
  ~MixEngine();
  MixEngine(const MixEngine&) = delete;
  MixEngine& operator=(const MixEngine&) = delete;
  MixEngine(MixEngine&&) noexcept;
  MixEngine& operator=(MixEngine&&) noexcept;

  // Mode 1. Tracks 0..n-1 whose play flag is 1 are mixed; the left and right output peaks
  // in `peaks` grow to the block's peaks.
  void Mix(std::span<unsigned char> block, int n, std::span<const int, kMaxTracks> playFlags,
           std::span<const float, kMaxTracks> gainL, std::span<const float, kMaxTracks> gainR, MixPeaks& peaks,
           float masterGain);

  // Modes 2 and 3 (`mix`); any other mode does nothing. busCount is the number of busses
  // that reach the outputs: in mode 2 busses 0..busCount-1 that are active, in mode 3 the
  // active busses 1..busCount-1 and bus 0 (always). The bus peaks grow for those busses.
  void MixMultiple(std::span<unsigned char> block, int n, std::span<const int, kMaxTracks> playFlags,
                   std::span<const float, kMaxTracks> gainL, std::span<const float, kMaxTracks> gainR, MixPeaks& peaks,
                   std::span<const int, kMaxBusses> busActive, const BusAssignTable& busAssign, int busCount,
                   std::span<const float, kMaxBusses> busGain, MixMode mix);

 private:
  struct Work;
  std::unique_ptr<Work> work_;
};

}  // namespace tapeloom
