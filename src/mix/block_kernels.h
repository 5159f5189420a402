// The per-frame loops of the mixer. They call no library routine and do the same work for
// every sample (the only branches besides the loops are the 24-bit limit's, which go the
// same way unless a mix goes over), so they run as straight-line code on a 32-bit ARM core.
// Decoding and the sums have vector forms where the vector unit multiplies 32 × 32 → 64 bits:
// AVX2 and NEON, each chosen when the program starts (kernel_forms.h). Every sum is exact: samples are multiplied by
// integer gains and added in 64-bit integers, which hold any sum of 256 tracks whatever the gains.
//
// Samples are decoded with their sign bit flipped, as value + 8388608 (0..16777215). With
// non-negative gains, which are all that volume and pan produce, the products are then
// unsigned 32 × 32 → 64-bit multiplies (one UMLAL on ARM; the signed form has no vector
// instruction before SSE4.1 on x86). The offset is taken out once per output sample:
// sum = Σ u × g − 8388608 × Σ g.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tapeloom {

inline constexpr std::uint32_t kSampleOffset = 8388608;

// Every kernel works on this many frames, a part of a block: small enough that a bus's sums
// and the master part it feeds (8 KiB a side each) stay in a first-level data cache, large
// enough that the loops run long.
inline constexpr std::size_t kKernelFrames = 1024;

// The forms the kernels run: the best the processor has (AVX2 on an x86-64 that has it, NEON
// on a 32-bit ARM that has it, found when the program starts; the build itself stays
// baseline), or the baseline forms of the build (SSE2 on x86-64, plain code elsewhere). All
// give the same bits; the tests check each.
enum class KernelForms { kBest, kBaseline };
void UseKernelForms(KernelForms forms);

// The forms in use now.
enum class KernelSet { kPlain, kSse2, kAvx2, kNeon };
KernelSet KernelSetInUse();

// One track's contribution to a bus: its decoded block and its integer gains.
struct TrackTap {
  const std::uint32_t* samples;
  std::int32_t gainL;
  std::int32_t gainR;
};

// Decodes the kKernelFrames packed samples at region (3 bytes each) into offset samples
// (value + 8388608).
void DecodeOffsetSamples(const unsigned char* region, std::uint32_t* samples);

// Adds Σ u × gainL and Σ u × gainR over a group of one to four taps to accL[i] and accR[i]
// for the kKernelFrames frames, modulo 2^64; with `first` the sums are stored instead of added.
// OffsetCorrection gives what to take away from the total of a bus.
inline constexpr std::size_t kTapGroup = 4;
void AccumulateGroup(std::span<const TrackTap> group, std::uint64_t* accL, std::uint64_t* accR, bool first);

// 8388608 × the sum of the gains, modulo 2^64: subtracting it from an accumulator leaves the
// signed sum of sample × gain in two's complement.
std::uint64_t OffsetCorrection(std::int64_t gainSum);

// Output stage of one side of a bus: for each frame, sum = acc − correction (+ extra[i] when
// extra is given), scaled = (float)sum × gain in single precision, and the sample
// trunc(scaled) limited to -8388608..8388607 is packed into the region. Returns the largest
// |scaled| as float bits (see PeakFromBits). The gain must be finite.
std::uint32_t ScaleToRegion(const std::uint64_t* acc, std::uint64_t correction, const std::int64_t* extra, float gain,
                            unsigned char* region);

// Feeds one side of a bus into the master: master[i] = (first ? 0 : master[i]) + 256 ×
// trunc((float)sum × gain). Returns the peak bits as ScaleToRegion does. The gain must be finite.
std::uint32_t ScaleIntoMaster(const std::uint64_t* acc, std::uint64_t correction, float gain, std::int64_t* master,
                              bool first);

// (float)value, rounded to nearest, for |value| < 2^53 (beyond that within one unit in the
// last place), without a 64-bit conversion instruction.
float SplitToFloat(std::int64_t value);

// value truncated toward zero, for |value| ≤ 2^47, without a 64-bit conversion instruction.
std::int64_t SplitTruncate(float value);

// The peak (largest |trunc(scaled)|) from the bits that the output stages return:
// for non-negative floats the order of their bit patterns is the order of their values.
std::int64_t PeakFromBits(std::uint32_t bits);

}  // namespace tapeloom
