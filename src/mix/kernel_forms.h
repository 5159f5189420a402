// The kernels of block_kernels.h in each form the build holds. kernel_forms.cpp is compiled
// into `base` with the build's own flags (on x86-64 that form takes its AVX2 paths itself
// where the processor has AVX2) and, on 32-bit ARM, a second time into `neon` with NEON
// enabled (TAPELOOM_NEON_KERNELS). block_kernels.cpp chooses between them; nothing else calls
// these directly.
#pragma once

#include <cstdint>
#include <span>

#include "mix/block_kernels.h"

namespace tapeloom {

namespace base {
void DecodeOffsetSamples(const unsigned char* region, std::uint32_t* samples);
void AccumulateGroup(std::span<const TrackTap> group, std::uint64_t* accL, std::uint64_t* accR, bool first);
std::uint32_t ScaleToRegion(const std::uint64_t* acc, std::uint64_t correction, const std::int64_t* extra, float gain,
                            unsigned char* region);
std::uint32_t ScaleIntoMaster(const std::uint64_t* acc, std::uint64_t correction, float gain, std::int64_t* master,
                              bool first);
float SplitToFloat(std::int64_t value);
std::int64_t SplitTruncate(float value);
#if defined(__x86_64__)
// The AVX2 paths are taken when wanted and the processor has AVX2.
void UseAvx2(bool wanted);
bool Avx2InUse();
#endif
}  // namespace base

#if defined(TAPELOOM_NEON_KERNELS)
namespace neon {
void DecodeOffsetSamples(const unsigned char* region, std::uint32_t* samples);
void AccumulateGroup(std::span<const TrackTap> group, std::uint64_t* accL, std::uint64_t* accR, bool first);
std::uint32_t ScaleToRegion(const std::uint64_t* acc, std::uint64_t correction, const std::int64_t* extra, float gain,
                            unsigned char* region);
std::uint32_t ScaleIntoMaster(const std::uint64_t* acc, std::uint64_t correction, float gain, std::int64_t* master,
                              bool first);
float SplitToFloat(std::int64_t value);
std::int64_t SplitTruncate(float value);
}  // namespace neon
#endif

}  // namespace tapeloom
