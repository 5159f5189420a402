// Chooses the form of the kernels once, when the program starts (a table of its functions), and
// hands every call to it.
// The bodies are in kernel_forms.cpp.
#include "mix/block_kernels.h"

#include <bit>

#include "core/safe_convert.h"
#include "mix/kernel_forms.h"

#if defined(TAPELOOM_NEON_KERNELS)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace tapeloom {
namespace {

#if defined(TAPELOOM_NEON_KERNELS)
// The kernel reports NEON among the processor's capabilities; the build itself targets the
// armhf baseline, which has none.
bool HaveNeon() { return (getauxval(AT_HWCAP) & HWCAP_NEON) != 0; }
#endif

// The fastest form this processor runs.
const KernelTable& Best() {
#if defined(__x86_64__)
  return base::HaveAvx2() ? base::kAvx2Kernels : base::kKernels;
#elif defined(TAPELOOM_NEON_KERNELS)
  return HaveNeon() ? neon::kKernels : base::kKernels;
#else
  return base::kKernels;
#endif
}

// Chosen once; every call goes straight to it.
const KernelTable* kernels = &Best();

}  // namespace

void UseKernelForms(KernelForms forms) { kernels = forms == KernelForms::kBest ? &Best() : &base::kKernels; }

KernelSet KernelSetInUse() {
#if defined(__x86_64__)
  return kernels == &base::kAvx2Kernels ? KernelSet::kAvx2 : KernelSet::kSse2;
#elif defined(TAPELOOM_NEON_KERNELS)
  return kernels == &neon::kKernels ? KernelSet::kNeon : KernelSet::kPlain;
#elif defined(__SSE2__)
  return KernelSet::kSse2;
#else
  return KernelSet::kPlain;
#endif
}

void DecodeOffsetSamples(const unsigned char* region, std::uint32_t* samples) {
  kernels->decodeOffsetSamples(region, samples);
}

void AccumulateGroup(std::span<const TrackTap> group, std::uint64_t* accL, std::uint64_t* accR, bool first) {
  kernels->accumulateGroup(group, accL, accR, first);
}

std::uint64_t OffsetCorrection(std::int64_t gainSum) { return static_cast<std::uint64_t>(gainSum) * kSampleOffset; }

std::uint32_t ScaleToRegion(const std::uint64_t* acc, std::uint64_t correction, const std::int64_t* extra, float gain,
                            unsigned char* region) {
  return kernels->scaleToRegion(acc, correction, extra, gain, region);
}

std::uint32_t ScaleIntoMaster(const std::uint64_t* acc, std::uint64_t correction, float gain, std::int64_t* master,
                              bool first) {
  return kernels->scaleIntoMaster(acc, correction, gain, master, first);
}

float SplitToFloat(std::int64_t value) { return base::SplitToFloat(value); }

std::int64_t SplitTruncate(float value) { return base::SplitTruncate(value); }

std::int64_t PeakFromBits(std::uint32_t bits) {
  return TruncateSaturating<std::int64_t>(static_cast<double>(std::bit_cast<float>(bits)));
}

}  // namespace tapeloom
