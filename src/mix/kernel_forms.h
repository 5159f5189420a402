// The kernels of block_kernels.h in each form the build holds, as tables of functions.
// kernel_forms.cpp is compiled into `base` with the build's own flags (on x86-64 it holds a
// second table, with AVX2 paths, for a processor that has AVX2) and, on 32-bit ARM, a second
// time into `neon` with NEON enabled (TAPELOOM_NEON_KERNELS). block_kernels.cpp chooses one
// table when the program starts; nothing else calls these directly.
#pragma once

#include <cstdint>
#include <span>

#include "mix/block_kernels.h"

namespace tapeloom {

// The kernels of one form, for block_kernels.cpp to choose from once, when the program starts.
struct KernelTable {
  void (*decodeOffsetSamples)(const unsigned char* region, std::uint32_t* samples);
  void (*accumulateGroup)(std::span<const TrackTap> group, std::uint64_t* accL, std::uint64_t* accR, bool first);
  std::uint32_t (*scaleToRegion)(const std::uint64_t* acc, std::uint64_t correction, const std::int64_t* extra,
                                 float gain, unsigned char* region);
  std::uint32_t (*scaleIntoMaster)(const std::uint64_t* acc, std::uint64_t correction, float gain, std::int64_t* master,
                                   bool first);
};

namespace base {
extern const KernelTable kKernels;  // the build's own form
#if defined(__x86_64__)
extern const KernelTable kAvx2Kernels;  // the same with AVX2 paths, for a processor that has AVX2
bool HaveAvx2();
#endif
float SplitToFloat(std::int64_t value);
std::int64_t SplitTruncate(float value);
}  // namespace base

#if defined(TAPELOOM_NEON_KERNELS)
namespace neon {
extern const KernelTable kKernels;
float SplitToFloat(std::int64_t value);
std::int64_t SplitTruncate(float value);
}  // namespace neon
#endif

}  // namespace tapeloom
