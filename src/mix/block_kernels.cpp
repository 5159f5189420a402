// Chooses the form of the kernels once, when the program starts, and hands every call to it.
// The bodies are in kernel_forms.cpp.
#include "mix/block_kernels.h"

#include <bit>

#include "mix/kernel_forms.h"
#include "time/safe_convert.h"

#if defined(TAPELOOM_NEON_KERNELS)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace tapeloom {
namespace {

#if defined(TAPELOOM_NEON_KERNELS)
// The kernel reports NEON among the processor's capabilities; the build itself targets the
// armhf baseline, which has none.
const bool kHaveNeon = (getauxval(AT_HWCAP) & HWCAP_NEON) != 0;
bool useNeon = kHaveNeon;
#endif

}  // namespace

void UseKernelForms(KernelForms forms) {
#if defined(__x86_64__)
  base::UseAvx2(forms == KernelForms::kBest);
#elif defined(TAPELOOM_NEON_KERNELS)
  useNeon = forms == KernelForms::kBest && kHaveNeon;
#else
  static_cast<void>(forms);
#endif
}

KernelSet KernelSetInUse() {
#if defined(__x86_64__)
  return base::Avx2InUse() ? KernelSet::kAvx2 : KernelSet::kSse2;
#elif defined(TAPELOOM_NEON_KERNELS)
  return useNeon ? KernelSet::kNeon : KernelSet::kPlain;
#elif defined(__SSE2__)
  return KernelSet::kSse2;
#else
  return KernelSet::kPlain;
#endif
}

void DecodeOffsetSamples(const unsigned char* region, std::uint32_t* samples) {
#if defined(TAPELOOM_NEON_KERNELS)
  if (useNeon) return neon::DecodeOffsetSamples(region, samples);
#endif
  base::DecodeOffsetSamples(region, samples);
}

void AccumulateGroup(std::span<const TrackTap> group, std::uint64_t* accL, std::uint64_t* accR, bool first) {
#if defined(TAPELOOM_NEON_KERNELS)
  if (useNeon) return neon::AccumulateGroup(group, accL, accR, first);
#endif
  base::AccumulateGroup(group, accL, accR, first);
}

std::uint64_t OffsetCorrection(std::int64_t gainSum) { return static_cast<std::uint64_t>(gainSum) * kSampleOffset; }

std::uint32_t ScaleToRegion(const std::uint64_t* acc, std::uint64_t correction, const std::int64_t* extra, float gain,
                            unsigned char* region) {
#if defined(TAPELOOM_NEON_KERNELS)
  if (useNeon) return neon::ScaleToRegion(acc, correction, extra, gain, region);
#endif
  return base::ScaleToRegion(acc, correction, extra, gain, region);
}

std::uint32_t ScaleIntoMaster(const std::uint64_t* acc, std::uint64_t correction, float gain, std::int64_t* master,
                              bool first) {
#if defined(TAPELOOM_NEON_KERNELS)
  if (useNeon) return neon::ScaleIntoMaster(acc, correction, gain, master, first);
#endif
  return base::ScaleIntoMaster(acc, correction, gain, master, first);
}

float SplitToFloat(std::int64_t value) { return base::SplitToFloat(value); }

std::int64_t SplitTruncate(float value) { return base::SplitTruncate(value); }

std::int64_t PeakFromBits(std::uint32_t bits) {
  return TruncateSaturating<std::int64_t>(static_cast<double>(std::bit_cast<float>(bits)));
}

}  // namespace tapeloom
