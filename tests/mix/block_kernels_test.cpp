// The mix kernels in every form the build holds, their buffers beside pages that fault when
// touched; the engine against the reference mixer in every form; the gains it is given.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <random>

#include "mix/block_kernels.h"
#include "mix/gains.h"
#include "mix/mix_engine.h"
#include "reference_mix.h"

#if defined(__arm__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace tapeloom::test {
namespace {

constexpr std::size_t kFrames = kKernelFrames;

// The forms chosen follow the processor, found here apart from the program's own detection.
TEST(KernelChoice, BestFollowsTheProcessorAndBaselineNeverTakesItsExtensions) {
  KernelSet best = KernelSet::kPlain, base = KernelSet::kPlain;
#if defined(__x86_64__)
  __builtin_cpu_init();
  best = base = KernelSet::kSse2;
  if (__builtin_cpu_supports("avx2")) best = KernelSet::kAvx2;
#elif defined(__arm__)
  if (getauxval(AT_HWCAP) & HWCAP_NEON) best = KernelSet::kNeon;
#endif
  UseKernelForms(KernelForms::kBaseline);
  EXPECT_EQ(KernelSetInUse(), base);
  UseKernelForms(KernelForms::kBest);
  EXPECT_EQ(KernelSetInUse(), best);
}

// `count` Ts that end where an inaccessible page begins (atEnd), or start where one ends.
template <typename T>
struct Guarded {
  Guarded(std::size_t count, bool atEnd) : size((count * sizeof(T) + kPage - 1) / kPage * kPage) {
    base = static_cast<char*>(mmap(nullptr, size + 2 * kPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    EXPECT_EQ(mprotect(base + kPage, size, PROT_READ | PROT_WRITE), 0);
    data = static_cast<T*>(static_cast<void*>(base + kPage + (atEnd ? size - count * sizeof(T) : 0)));
  }
  ~Guarded() { munmap(base, size + 2 * kPage); }
  static inline const auto kPage = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  std::size_t size;
  char* base;
  T* data;
};

class KernelForm : public testing::TestWithParam<KernelForms> {
  void SetUp() override { UseKernelForms(GetParam()); }
  void TearDown() override { UseKernelForms(KernelForms::kBest); }
};
INSTANTIATE_TEST_SUITE_P(Forms, KernelForm, testing::Values(KernelForms::kBest, KernelForms::kBaseline),
                         [](const auto& forms) { return forms.param == KernelForms::kBest ? "Best" : "Baseline"; });

// Each kernel against plain arithmetic, its buffers beside faulting pages. Decoding keeps the range
// ends; groups of one to four taps, stored or added, wrap modulo 2^64 (the last group's gains
// signed); the output stages match single precision at gains down to the smallest subnormal (a
// unit that flushes them to zero must not change a bit), for sums at the bounds where a vector
// form hands a part to the scalar one (2^47 on ARM, 2^51 on x86); the split conversions.
TEST_P(KernelForm, EachKernelMatchesPlainArithmetic) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t k47 = std::int64_t{1} << 47;
  const std::int32_t edges[] = {-8388608, 8388607, 0, -1, 1, 0x123456, -0x654321, 0x7f0080, -0x7fff};
  using Gains = std::vector<std::pair<std::int32_t, std::int32_t>>;
  std::mt19937_64 random(31);
  for (const bool atEnd : {true, false}) {
    Guarded<unsigned char> region(3 * kFrames, atEnd);
    Guarded<std::uint32_t> rows[] = {{kFrames, atEnd}, {kFrames, atEnd}, {kFrames, atEnd}, {kFrames, atEnd}};
    Guarded<std::uint64_t> accL(kFrames, atEnd), accR(kFrames, atEnd);
    Guarded<std::int64_t> extra(kFrames, atEnd), master(kFrames, atEnd);
    std::vector<std::int32_t> samples(kFrames);
    for (std::size_t i = 0; i < kFrames; ++i) {
      samples[i] = i % 3 == 2 ? static_cast<std::int32_t>(random() % 16777216) - 8388608 : edges[(i * 7 + atEnd) % 9];
      for (int k = 0; k < 3; ++k) region.data[3 * i + k] = static_cast<unsigned char>(samples[i] >> 8 * k);
    }
    DecodeOffsetSamples(region.data, rows[0].data);
    for (std::size_t i = 0; i < kFrames; ++i) ASSERT_EQ(rows[0].data[i], samples[i] + 8388608u) << i;

    for (const Gains& group :
         {Gains{{kMax, 0}}, Gains{{kMax, kMax}, {1, kMax}}, Gains{{0, 181}, {kMax, 3}, {kMax, kMax}},
          Gains(4, {kMax, kMax}), Gains{{256, 0}, {0, 256}, {-1, 7}, {kMax, -kMax - 1}}}) {
      std::vector<TrackTap> taps;
      for (std::size_t k = 0; k < group.size(); ++k) {
        // Mostly the largest offset sample, so that four of the largest products pass 2^64.
        for (std::size_t i = 0; i < kFrames; ++i) rows[k].data[i] = i % 5 == k ? i * 4099 : 0xffffff;
        taps.push_back(TrackTap{rows[k].data, group[k].first, group[k].second});
      }
      for (const bool first : {true, false}) {
        for (std::size_t i = 0; i < kFrames; ++i) accR.data[i] = ~(accL.data[i] = ~std::uint64_t{0} - i * 977);
        AccumulateGroup(taps, accL.data, accR.data, first);
        for (std::size_t i = 0; i < kFrames; ++i) {
          std::uint64_t left = first ? 0 : ~std::uint64_t{0} - i * 977, right = first ? 0 : i * 977;
          for (const TrackTap& tap : taps) {
            left += tap.samples[i] * static_cast<std::uint64_t>(std::int64_t{tap.gainL});
            right += tap.samples[i] * static_cast<std::uint64_t>(std::int64_t{tap.gainR});
          }
          ASSERT_EQ(std::tie(accL.data[i], accR.data[i]), std::tie(left, right)) << taps.size() << first << i;
        }
      }
    }

    for (const float gain : {1.0f / 256, 1.5f, 1e-30f, 1e-40f, std::numeric_limits<float>::denorm_min(), -0.75f}) {
      // 2^49 + 2^25 + 1 rounds up only when converted in one rounding.
      for (const std::int64_t outlier :
           {std::int64_t{0}, k47 - 1, -k47, k47, -k47 - 1, 4 * k47 + (1 << 25) + 1, 16 * k47 + 3}) {
        std::vector<std::int64_t> sums(kFrames);
        std::int64_t peak = 0;
        for (std::size_t i = 0; i < kFrames; ++i) {  // magnitudes up to 2^44, both signs, and 0
          sums[i] = i % 13 == 0 ? 0 : static_cast<std::int64_t>(random() >> (19 + i % 45)) * (i % 2 ? 1 : -1);
          sums[i] = i == 777 && outlier != 0 ? outlier : sums[i];
          accL.data[i] = static_cast<std::uint64_t>(sums[i] - 7) + OffsetCorrection(1000);
          extra.data[i] = 7;
          master.data[i] = static_cast<std::int64_t>(i) - 500;
          peak = std::max(peak, static_cast<std::int64_t>(std::fabs(static_cast<float>(sums[i]) * gain)));
        }
        SCOPED_TRACE(testing::Message() << "gain " << gain << " outlier " << outlier);
        EXPECT_EQ(PeakFromBits(ScaleToRegion(accL.data, OffsetCorrection(1000), extra.data, gain, region.data)), peak);
        EXPECT_EQ(PeakFromBits(ScaleIntoMaster(accL.data, OffsetCorrection(1000) - 7, gain, master.data, false)), peak);
        for (std::size_t i = 0; i < kFrames; ++i) {
          const float scaled = static_cast<float>(sums[i]) * gain;
          const unsigned char* bytes = region.data + 3 * i;
          ASSERT_EQ(bytes[0] | bytes[1] << 8 | static_cast<signed char>(bytes[2]) * 65536,
                    static_cast<std::int32_t>(std::clamp(scaled, -8388608.0f, 8388607.0f)))
              << i;
          const auto feed = static_cast<std::int64_t>(std::clamp(scaled, -0x1p47f, 0x1p47f));
          ASSERT_EQ(master.data[i], static_cast<std::int64_t>(i) - 500 + 256 * feed) << i;
        }
      }
    }
  }
  std::vector<std::int64_t> values = {
      0, 1, -1, 16777217, -16777219, 2147483647, -2147483648LL, 6048185647, (1LL << 53) - 1, 1 - (1LL << 53)};
  for (int k = 0; k < 20000; ++k)
    values.push_back(static_cast<std::int64_t>(random() >> (11 + k % 40)) * (k % 2 ? 1 : -1));
  for (const std::int64_t v : values) {
    ASSERT_EQ(SplitToFloat(v), static_cast<float>(v)) << v;
    const float f = static_cast<float>(v) / 64;
    ASSERT_TRUE(std::fabs(f) > 0x1p47f || SplitTruncate(f) == static_cast<std::int64_t>(f)) << f;
  }
}

void MixBlock(MixEngine& engine, Block& block, const MixSetup& s, MixPeaks& peaks) {
  if (s.mix == 1) return engine.Mix(block, s.n, s.play, s.gainL, s.gainR, peaks, s.busGain[0]);
  engine.MixMultiple(block, s.n, s.play, s.gainL, s.gainR, peaks, s.busActive, s.busAssign, s.busCount, s.busGain,
                     static_cast<MixMode>(s.mix));
}

// Random blocks in every mode through one engine (nothing of a block may leak into the next) and
// one set of peaks, which only grow. Gains as volume and pan make them, any integer gains of
// everyday size, or gains so large that sums pass 2^51, where the vector forms go to the scalar one.
TEST_P(KernelForm, QuietLoudAndHugeMixesMatchTheReference) {
  enum Gains { kVolumeAndPan, kAny, kHuge };
  for (const auto& [loud, gains] :
       {std::pair{false, kVolumeAndPan}, {true, kVolumeAndPan}, {true, kAny}, {true, kHuge}}) {
    std::mt19937 random(loud ? 1234u : 99u);
    const auto pick = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    MixEngine engine;
    MixPeaks peaks, expectedPeaks;
    for (int round = 0; round < 60; ++round) {
      MixSetup s{.n = pick(1, 24), .mix = 1 + round % 3, .busCount = pick(0, 12)};
      const int regions = std::max({s.n, 2, s.mix == 2 ? 2 * s.busCount : 0}), range = loud ? 8388607 : 4095;
      Block block = MakeBlock(regions);
      for (int i = 0; i < regions * kMixBlockFrames; ++i) SetSample(block, 0, i, pick(-range - 1, range));
      std::array<float, kMaxTracks> v{}, p{};
      std::array<int, kMaxTracks> all;
      all.fill(1);
      for (std::size_t t = 0; t < kMaxTracks; ++t) {
        s.play[t] = pick(0, 5) ? 1 : 2 * pick(0, 1);  // only 1 plays
        v[t] = static_cast<float>(pick(loud ? -20 : -60, 12));
        p[t] = static_cast<float>(pick(-100, 100));
        const int largest = gains == kHuge ? 1 << 30 : 100000;
        s.gainL[t] = static_cast<float>(pick(-largest, largest)) / 3.0f;
        s.gainR[t] = static_cast<float>(pick(-largest, largest)) / 7.0f;
      }
      if (gains == kVolumeAndPan) SetVolume(p, v, s.gainL, s.gainR, kMaxTracks, all, kTrackGainScale);
      for (int b = 0; b < kMaxBusses; ++b) {
        s.busActive[b] = pick(0, 3) ? 1 : 2 * pick(0, 1);
        SetBusVolume(s.busGain, static_cast<float>(pick(-40, loud ? 15 : 0)), b, kBusGainDivisor);
        if (loud && pick(0, 9) == 0) s.busGain[b] = 1.0f;  // the start-up gain
        for (std::size_t t = 0; t < kMaxTracks; ++t) s.busAssign[b][t] = pick(0, 3) == 0 ? 1 : 2 * pick(0, 1);
      }
      const ReferenceResult expected = ReferenceMix(block, s);
      MixBlock(engine, block, s, peaks);
      ASSERT_EQ(block, expected.block) << "loud " << loud << " gains " << gains << " round " << round;
      GrowPeaks(expectedPeaks, expected.peaks);
      ASSERT_EQ(std::tie(peaks.left, peaks.right, peaks.busLeft, peaks.busRight),
                std::tie(expectedPeaks.left, expectedPeaks.right, expectedPeaks.busLeft, expectedPeaks.busRight));
    }
  }
}

// Outputs beyond a one-region block go nowhere yet are measured; a master gain that is no number
// mutes; MixMultiple does nothing in modes 0 and 4; a gain of 181.23 acts as 181.
TEST(MixEngine, OutputsBeyondTheBlockAndGainsThatAreNoNumber) {
  MixSetup s{.n = 4, .mix = 1, .busCount = 64};
  s.play = {1, 1, 1, 1};
  s.gainL = {181.23f};  // -1000 × 181 / 256 = -707.03: truncated toward zero
  s.gainR = {512};
  s.busGain = {1.0f / 256, 1.0f / 256};
  s.busActive.fill(1);
  s.busAssign[1][0] = 1;
  Block block = MakeBlock(1);
  MixPeaks peaks;
  MixEngine engine;
  for (const auto& [mode, masterGain, sample] :
       {std::tuple{1, 1.0f / 256, -707}, {2, NAN, 0}, {1, NAN, 0}, {0, 1.0f, -1000}, {4, 1.0f, -1000}}) {
    std::tie(s.mix, s.busGain[0]) = std::tuple(mode, masterGain);
    SetSample(block, 0, 0, -1000);
    MixBlock(engine, block, s, peaks);
    EXPECT_EQ(SampleAt(block, 0, 0), sample) << "mode " << mode << ", master " << masterGain;
  }
  EXPECT_EQ(std::tie(peaks.right, peaks.busRight[1]), std::tuple(2000, 2000)) << "measured, though not heard";
}

// The pan law (-3 dB at the centre, the near side rising linear in dB), volumes and pans clamped
// with a message, gains set only for playing tracks among the first n.
TEST(TrackGains, PanLawVolumeClampsAndOnlyPlayingTracks) {
  constexpr float kC = 0.70794576f;
  const auto near = [](float pan) { return kC * std::pow(10.0f, 3 * pan / 2000); };
  const std::string low = "Volume of channel 1 is too low.\nIt has been reset to -144 dB, the minimum.\n";
  const std::string high = "Volume of channel 1 is too high.\nIt has been reset to 12 dB, the maximum.\n";
  const std::string pan = "Pan of channel 1 is too extreme.\nIt has been reset to ";
  const struct {
    float volume, pan, keptVolume, keptPan, left, right;  // left and right: the pan law's factors
    std::string printed;
  } cases[] = {{0, 0, 0, 0, kC, kC, ""},
               {6, 25, 6, 25, kC * 0.75f, near(25), ""},
               {-144, -99, -144, -99, near(99), kC / 100, ""},
               {12, 1, 12, 1, kC * 0.99f, near(1), ""},
               {-200, 150, -144, 100, 0, near(100), low + pan + "100, fully right\n"},
               {20, -150, 12, -100, near(100), 0, high + pan + "-100, fully left\n"}};
  for (const auto& c : cases) {
    std::array<float, kMaxTracks> v{c.volume, 0, 50}, p{c.pan}, gainL{}, gainR{};
    gainL.fill(42.0f);
    std::array<int, kMaxTracks> play{1, 2, 1};  // only 1 plays; track 3 is beyond n
    testing::internal::CaptureStdout();
    SetVolume(p, v, gainL, gainR, 2, play, kTrackGainScale);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    const double level = 256.0 * std::pow(10.0, c.keptVolume / 20.0);
    EXPECT_NEAR(gainL[0], level * c.left, level * c.left * 2e-6) << c.volume << " dB, pan " << c.pan;
    EXPECT_NEAR(gainR[0], level * c.right, level * c.right * 2e-6) << c.volume << " dB, pan " << c.pan;
    EXPECT_EQ(std::tie(v[0], p[0], gainL[1], gainL[2], v[2]), std::tuple(c.keptVolume, c.keptPan, 42.0f, 42.0f, 50.0f));
  }
}

// A bus gain only for a valid bus, level and divisor; session gains clamp the stored levels; busses
// 2..64 are active exactly when a track feeds them, bus 1 as it was.
TEST(Busses, GainsOnlyForAValidBusAndLevelAndActivityFollowsRoutingExceptForBusOne) {
  const std::tuple<float, int, int> calls[] = {{15, 63, 1}, {-144, 1, 1},    {0, 64, 0}, {0, -1, 0},
                                               {16, 1, 0},  {-144.5f, 1, 0}, {NAN, 1, 0}};
  std::array<float, kMaxBusses> gains;
  for (const auto& [level, bus, valid] : calls) {
    gains.fill(1);
    EXPECT_EQ(SetBusVolume(gains, level, bus, kBusGainDivisor), valid) << level << " dB on bus " << bus;
    EXPECT_EQ(gains[std::clamp(bus, 0, 63)], valid ? static_cast<float>(std::pow(10.0, level / 20) / 256) : 1) << level;
  }
  EXPECT_EQ(SetBusVolume(gains, 0, 1, 0), 0) << "a divisor below 1";
  SessionSettings s;
  s.busvl = {0, -6, 20, -200, NAN};
  SetSessionBusGains(s);  // beyond a limit: that limit's gain, never the start-up 1.0; no number keeps it
  EXPECT_EQ(std::tie(s.busGain[0], s.busGain[1], s.busGain[2], s.busGain[3], s.busGain[4], s.busGain[63]),
            std::tuple(1.0f / 256, dBtoRatio(-6, 1) / 256, dBtoRatio(15, 1) / 256, dBtoRatio(-144, 1) / 256, 1.0f,
                       1.0f / 256));
  std::array<int, kMaxBusses> expected{1, 0, 0, 1};  // bus 1 stays as it was, bus 6 lost its tracks
  s.busActive = {1, 0, 0, 0, 0, 1};
  s.busAssign[3][255] = s.busAssign[63][0] = expected[63] = 1;
  UpdateBusses(s.busAssign, s.busActive);
  EXPECT_EQ(s.busActive, expected);
}

}  // namespace
}  // namespace tapeloom::test
