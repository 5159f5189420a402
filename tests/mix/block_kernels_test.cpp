// The mix kernels one at a time, in every form the build holds: which form runs, that each
// kernel reads and writes exactly its part (the buffers end at pages that fault when touched),
// the values at the ends of the sample range, the 64-bit sums where they wrap, and gains so
// small that their products are subnormal. MixCrossCheck (mix_engine_test.cpp) checks the
// forms on whole mixes.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "mix/block_kernels.h"

#if defined(__arm__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace tapeloom {
namespace {

constexpr std::size_t kFrames = kKernelFrames;
constexpr std::size_t kRegionBytes = 3 * kFrames;

// The form that KernelForms::kBest must give on this processor, found here independently of
// the program's own detection.
KernelSet ExpectedBest() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0 ? KernelSet::kAvx2 : KernelSet::kSse2;
#elif defined(__arm__)
  return (getauxval(AT_HWCAP) & HWCAP_NEON) != 0 ? KernelSet::kNeon : KernelSet::kPlain;
#else
  return KernelSet::kPlain;
#endif
}

KernelSet ExpectedBaseline() {
#if defined(__SSE2__)
  return KernelSet::kSse2;
#else
  return KernelSet::kPlain;
#endif
}

const char* Name(KernelForms forms) { return forms == KernelForms::kBest ? "Best" : "Baseline"; }

TEST(KernelChoice, BestFollowsTheProcessorAndBaselineNeverTakesItsExtensions) {
  UseKernelForms(KernelForms::kBaseline);
  EXPECT_EQ(KernelSetInUse(), ExpectedBaseline());
  UseKernelForms(KernelForms::kBest);
  EXPECT_EQ(KernelSetInUse(), ExpectedBest());
#if defined(__arm__)
  // qemu-arm reports NEON, so the suite under it runs the NEON kernels; a board without NEON
  // runs the plain ones for both choices.
  std::printf("NEON %s: the best kernels are the %s ones\n",
              (getauxval(AT_HWCAP) & HWCAP_NEON) != 0 ? "reported" : "not reported",
              KernelSetInUse() == KernelSet::kNeon ? "NEON" : "plain");
#endif
}

// Memory for one buffer that ends, or starts, where an inaccessible page begins or ends, so
// that a kernel reading or writing one byte beyond its part faults.
class GuardedBuffer {
 public:
  enum class Edge { kAfterEnd, kBeforeStart };

  GuardedBuffer(std::size_t bytes, Edge edge) : page_(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))) {
    const std::size_t usable = (bytes + page_ - 1) / page_ * page_;
    length_ = usable + 2 * page_;
    void* base = mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) throw std::runtime_error("mmap failed");
    base_ = static_cast<unsigned char*>(base);
    mprotect(base_, page_, PROT_NONE);
    mprotect(base_ + page_ + usable, page_, PROT_NONE);
    data_ = edge == Edge::kBeforeStart ? base_ + page_ : base_ + page_ + usable - bytes;
  }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;
  ~GuardedBuffer() { munmap(base_, length_); }

  template <typename T>
  T* As() const {
    return static_cast<T*>(data_);
  }

 private:
  std::size_t page_;
  std::size_t length_ = 0;
  unsigned char* base_ = nullptr;
  void* data_ = nullptr;  // aligned for any element type: the sizes used are multiples of 8
};

// Samples that put the ends of the 24-bit range, zero and its neighbours, and patterns that
// use every byte in each position of a vector step (the vector forms take 4, 8 and 16 frames).
std::vector<std::int32_t> EdgeSamples(unsigned seed) {
  constexpr std::array<std::int32_t, 9> kEdges = {-8388608, 8388607, 0, -1, 1, 0x123456, -0x654321, 0x7f0080, -0x7fff};
  std::mt19937 random(seed);
  std::vector<std::int32_t> samples(kFrames);
  for (std::size_t i = 0; i < kFrames; ++i) {
    samples[i] = i % 3 == 2 ? std::uniform_int_distribution<std::int32_t>(-8388608, 8388607)(random)
                            : kEdges[(i * 7 + seed) % kEdges.size()];
  }
  return samples;
}

void Pack(const std::vector<std::int32_t>& samples, unsigned char* region) {
  for (std::size_t i = 0; i < samples.size(); ++i) {
    for (std::size_t k = 0; k < 3; ++k) region[3 * i + k] = static_cast<unsigned char>(samples[i] >> (8 * k));
  }
}

std::int32_t Unpack(const unsigned char* bytes) {
  const std::uint32_t low24 = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                              static_cast<std::uint32_t>(bytes[2]) << 16;
  return static_cast<std::int32_t>(low24 << 8) >> 8;
}

class KernelForm : public testing::TestWithParam<KernelForms> {
 protected:
  void SetUp() override { UseKernelForms(GetParam()); }
  void TearDown() override { UseKernelForms(KernelForms::kBest); }
};

INSTANTIATE_TEST_SUITE_P(Forms, KernelForm, testing::Values(KernelForms::kBest, KernelForms::kBaseline),
                         [](const testing::TestParamInfo<KernelForms>& forms) { return Name(forms.param); });

using Edge = GuardedBuffer::Edge;
constexpr std::array<Edge, 2> kEdges = {Edge::kAfterEnd, Edge::kBeforeStart};

TEST_P(KernelForm, DecodingReadsAndWritesOnlyItsPartAndKeepsTheRangeEnds) {
  for (const Edge edge : kEdges) {
    for (const unsigned seed : {0u, 5u}) {
      GuardedBuffer region(kRegionBytes, edge);
      GuardedBuffer decoded(kFrames * sizeof(std::uint32_t), edge);
      const std::vector<std::int32_t> samples = EdgeSamples(seed);
      Pack(samples, region.As<unsigned char>());
      DecodeOffsetSamples(region.As<unsigned char>(), decoded.As<std::uint32_t>());
      for (std::size_t i = 0; i < kFrames; ++i) {
        ASSERT_EQ(decoded.As<std::uint32_t>()[i], static_cast<std::uint32_t>(samples[i] + 8388608))
            << "frame " << i << " seed " << seed;
      }
    }
  }
}

struct Tap {
  std::int32_t gainL;
  std::int32_t gainR;
};

TEST_P(KernelForm, SumsOfEveryGroupSizeWrapModulo64Bits) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  // clang-format off
  const std::vector<std::vector<Tap>> groups = {
      {{kMax, 0}},
      {{kMax, kMax}, {1, kMax}},
      {{0, 181}, {kMax, 3}, {kMax, kMax}},
      {{kMax, kMax}, {kMax, kMax}, {kMax, kMax}, {kMax, kMax}},
      {{256, 0}, {0, 256}, {-1, 7}, {kMax, std::numeric_limits<std::int32_t>::min()}},  // signed gains
  };
  // clang-format on
  for (const Edge edge : kEdges) {
    for (const auto& group : groups) {
      for (const bool first : {true, false}) {
        std::vector<std::unique_ptr<GuardedBuffer>> rows;
        std::vector<TrackTap> taps;
        for (std::size_t k = 0; k < group.size(); ++k) {
          rows.push_back(std::make_unique<GuardedBuffer>(kFrames * sizeof(std::uint32_t), edge));
          auto* row = rows.back()->As<std::uint32_t>();
          // The largest offset sample in most frames, so that four of the largest products pass 2^64.
          for (std::size_t i = 0; i < kFrames; ++i)
            row[i] = i % 5 == k ? static_cast<std::uint32_t>(i * 4099) : 0xffffffu;
          taps.push_back(TrackTap{row, group[k].gainL, group[k].gainR});
        }
        GuardedBuffer accL(kFrames * sizeof(std::uint64_t), edge);
        GuardedBuffer accR(kFrames * sizeof(std::uint64_t), edge);
        std::vector<std::uint64_t> expectL(kFrames);
        std::vector<std::uint64_t> expectR(kFrames);
        for (std::size_t i = 0; i < kFrames; ++i) {
          const std::uint64_t start = ~std::uint64_t{0} - i * 977;  // just below 2^64
          accL.As<std::uint64_t>()[i] = start;
          accR.As<std::uint64_t>()[i] = ~start;
          expectL[i] = first ? 0 : start;
          expectR[i] = first ? 0 : ~start;
          for (const TrackTap& tap : taps) {
            expectL[i] += tap.samples[i] * static_cast<std::uint64_t>(static_cast<std::int64_t>(tap.gainL));
            expectR[i] += tap.samples[i] * static_cast<std::uint64_t>(static_cast<std::int64_t>(tap.gainR));
          }
        }
        AccumulateGroup(taps, accL.As<std::uint64_t>(), accR.As<std::uint64_t>(), first);
        for (std::size_t i = 0; i < kFrames; ++i) {
          ASSERT_EQ(accL.As<std::uint64_t>()[i], expectL[i])
              << "taps " << taps.size() << " first " << first << " frame " << i;
          ASSERT_EQ(accR.As<std::uint64_t>()[i], expectR[i])
              << "taps " << taps.size() << " first " << first << " frame " << i;
        }
      }
    }
  }
}

// The output stages against per-sample single-precision arithmetic, with gains down to the
// subnormal range (a vector unit that flushes subnormals to zero must not change a bit), sums
// of every size and sign, and one sum at the bounds where the vector forms hand a part to the
// direct conversions (2^47 on ARM, 2^51 on x86), with and without the extra sums and the
// master feed.
TEST_P(KernelForm, OutputStagesTouchOnlyTheirPartsAtAnyGain) {
  const std::array<float, 6> gains = {1.0f / 256.0f, 1.5f, 1e-30f, 1e-40f, std::numeric_limits<float>::denorm_min(),
                                      -0.75f};
  constexpr std::int64_t kTwoTo47 = std::int64_t{1} << 47;
  // clang-format off
  const std::array<std::int64_t, 7> largest = {0, kTwoTo47 - 1, -kTwoTo47, kTwoTo47, -kTwoTo47 - 1,
                                               (std::int64_t{1} << 49) + (1 << 25) + 1,  // rounds up, just
                                               (std::int64_t{1} << 51) + 3};
  // clang-format on
  constexpr float kFeedLimit = 140737488355328.0f;  // 2^47
  std::mt19937_64 random(31);
  for (const Edge edge : kEdges) {
    for (const float gain : gains) {
      for (const std::int64_t outlier : largest) {
        GuardedBuffer acc(kFrames * sizeof(std::uint64_t), edge);
        GuardedBuffer extra(kFrames * sizeof(std::int64_t), edge);
        GuardedBuffer region(kRegionBytes, edge);
        GuardedBuffer master(kFrames * sizeof(std::int64_t), edge);
        const std::uint64_t correction = OffsetCorrection(1000);
        std::vector<std::int64_t> sums(kFrames);
        for (std::size_t i = 0; i < kFrames; ++i) {
          const auto shift = static_cast<int>(i % 45);  // magnitudes up to 2^44, both signs, and 0
          sums[i] = i % 13 == 0 ? 0 : static_cast<std::int64_t>(random() >> (19 + shift)) * (i % 2 ? 1 : -1);
          if (i == 777 && outlier != 0) sums[i] = outlier;
          acc.As<std::uint64_t>()[i] = static_cast<std::uint64_t>(sums[i] - 7) + correction;
          extra.As<std::int64_t>()[i] = 7;
          master.As<std::int64_t>()[i] = static_cast<std::int64_t>(i) - 500;
        }
        std::int64_t peak = 0;
        for (std::size_t i = 0; i < kFrames; ++i) {
          const float scaled = static_cast<float>(sums[i]) * gain;
          peak = std::max(peak, static_cast<std::int64_t>(std::fabs(scaled)));
        }
        const std::uint32_t toRegion = ScaleToRegion(acc.As<std::uint64_t>(), correction, extra.As<std::int64_t>(),
                                                     gain, region.As<unsigned char>());
        EXPECT_EQ(PeakFromBits(toRegion), peak) << gain << " " << outlier;
        for (std::size_t i = 0; i < kFrames; ++i) {
          const float scaled = static_cast<float>(sums[i]) * gain;
          const auto expected = static_cast<std::int32_t>(std::clamp(scaled, -8388608.0f, 8388607.0f));
          ASSERT_EQ(Unpack(region.As<unsigned char>() + 3 * i), expected)
              << "gain " << gain << " outlier " << outlier << " frame " << i;
        }
        const std::uint32_t intoMaster =
            ScaleIntoMaster(acc.As<std::uint64_t>(), correction - 7, gain, master.As<std::int64_t>(), false);
        EXPECT_EQ(PeakFromBits(intoMaster), peak) << gain << " " << outlier;
        for (std::size_t i = 0; i < kFrames; ++i) {
          const float scaled = std::clamp(static_cast<float>(sums[i]) * gain, -kFeedLimit, kFeedLimit);
          ASSERT_EQ(master.As<std::int64_t>()[i],
                    static_cast<std::int64_t>(i) - 500 + 256 * static_cast<std::int64_t>(scaled))
              << "gain " << gain << " outlier " << outlier << " frame " << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tapeloom
