// The mix engine on hand-computed blocks in every mode, the limits of loud mixes, and a
// cross-check against the plain reference mixer on random blocks, gains and routing.
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "mix/block_kernels.h"
#include "mix/gains.h"
#include "mix/mix_engine.h"
#include "reference_mix.h"

namespace tapeloom {
namespace {

using test::Block;
using test::MakeBlock;
using test::MixSetup;
using test::SampleAt;
using test::SetSample;

constexpr float kUnityBus = 1.0f / 256.0f;  // a bus or master at 0 dB

void MixBlock(MixEngine& engine, Block& block, const MixSetup& s, MixPeaks& peaks) {
  if (s.mix == 1) {
    engine.Mix(block, s.n, s.play, s.gainL, s.gainR, peaks, s.busGain[0]);
  } else {
    engine.MixMultiple(block, s.n, s.play, s.gainL, s.gainR, peaks, s.busActive, s.busAssign, s.busCount, s.busGain,
                       static_cast<MixMode>(s.mix));
  }
}

TEST(MixModeOne, SumsTracksWithIntegerGainsAndTruncatesTowardZero) {
  Block block = MakeBlock(3);
  MixSetup s;
  s.n = 3;
  s.play = {1, 1, 1};
  s.gainL = {181.23f, 0.0f, 1.0f};  // track 2 panned fully right, track 3 barely left
  s.gainR = {181.23f, 256.0f, 0.99f};
  s.busGain[0] = kUnityBus;
  SetSample(block, 0, 0, 1000);
  SetSample(block, 1, 0, 2000);
  SetSample(block, 0, 1, -1000);
  SetSample(block, 2, 1, 77);
  SetSample(block, 2, 4095, -8388608);
  MixPeaks peaks;
  MixEngine engine;
  MixBlock(engine, block, s, peaks);
  EXPECT_EQ(SampleAt(block, 0, 0), 707);   // 1000 × 181 / 256 = 707.03
  EXPECT_EQ(SampleAt(block, 1, 0), 2707);  // (181000 + 2000 × 256) / 256
  EXPECT_EQ(SampleAt(block, 0, 1), -706);  // (-181000 + 77) / 256 = -706.7, not -707
  EXPECT_EQ(SampleAt(block, 1, 1), -707);  // gain 0.99 truncates to 0
  EXPECT_EQ(SampleAt(block, 0, 4095), -32768);
  EXPECT_EQ(SampleAt(block, 2, 1), 77) << "regions past the outputs keep their tracks";
  EXPECT_EQ(peaks.left, 32768);
  EXPECT_EQ(peaks.right, 2707);
}

TEST(MixModeOne, MasterScalesInSinglePrecision) {
  Block block = MakeBlock(2);
  MixSetup s;
  s.n = 2;
  s.play = {1, 1};
  s.gainL = {2.9f, 1.0f};
  s.busGain[0] = 0.2f;
  SetSample(block, 0, 0, 8388607);
  SetSample(block, 1, 0, 5);
  MixPeaks peaks;
  MixEngine engine;
  MixBlock(engine, block, s, peaks);
  // 2 × 8388607 + 5 = 16777219 is 16777220 as a float; × 0.2f gives 3355444 in single
  // precision, where the exact product is 3355443.85.
  EXPECT_EQ(SampleAt(block, 0, 0), 3355444);
}

TEST(MixModeOne, LoudMixesClipAndReportTheOver) {
  Block block = MakeBlock(2);
  MixSetup s;
  s.n = 2;
  s.play = {1, 0};
  s.gainL = {721.5f, 0};  // a full-scale track at +12 dB overflows 32 bits: 8388607 × 721
  s.gainR = {181.2f, 0};
  s.busGain[0] = kUnityBus;
  SetSample(block, 0, 0, 8388607);
  SetSample(block, 0, 1, -8388608);
  SetSample(block, 1, 2, 8388607);  // not playing
  MixPeaks peaks;
  MixEngine engine;
  MixBlock(engine, block, s, peaks);
  EXPECT_EQ(SampleAt(block, 0, 0), 8388607);
  EXPECT_EQ(SampleAt(block, 0, 1), -8388608);
  EXPECT_EQ(SampleAt(block, 0, 2), 0);
  EXPECT_EQ(peaks.left, 23625728);  // -8388608 × 721 / 256: peaks are magnitudes, above full scale
  EXPECT_EQ(peaks.right, 5931008);  // 8388608 × 181 / 256
  // Peaks only grow: a quiet block leaves them.
  Block quiet = MakeBlock(2);
  MixBlock(engine, quiet, s, peaks);
  EXPECT_EQ(peaks.left, 23625728);
  // A gain that is not a number mutes instead of being undefined.
  s.busGain[0] = std::numeric_limits<float>::quiet_NaN();
  MixBlock(engine, block, s, peaks);
  EXPECT_EQ(SampleAt(block, 0, 0), 0);
}

TEST(MixModeTwo, RoutesTracksToBusPairs) {
  Block block = MakeBlock(8);
  for (int region = 0; region < 8; ++region) SetSample(block, region, 0, 100 * (region + 1));
  MixSetup s;
  s.mix = 2;
  s.n = 3;
  s.busCount = 3;
  s.play = {1, 1, 1};
  s.gainL = {256, 512, 1024};
  s.gainR = {0, 256, 256};
  s.busGain = {kUnityBus, 0.5f * kUnityBus, kUnityBus, kUnityBus};
  s.busActive = {1, 1, 1, 1};  // bus 3 has no track, bus 4 is beyond the bus count
  s.busAssign[0] = {1, 1, 0};  // bus 1: tracks 1 and 2
  s.busAssign[1] = {1, 0, 1};  // bus 2: tracks 1 (mixed after bus 1 overwrote its region) and 3
  s.busAssign[3] = {0, 0, 1};
  MixPeaks peaks;
  MixEngine engine;
  MixBlock(engine, block, s, peaks);
  EXPECT_EQ(SampleAt(block, 0, 0), 100 + 400);         // (100 × 256 + 200 × 512) / 256
  EXPECT_EQ(SampleAt(block, 1, 0), 200);               // 200 × 256 / 256
  EXPECT_EQ(SampleAt(block, 2, 0), (100 + 1200) / 2);  // -6 dB bus: (100 × 256 + 300 × 1024) / 512
  EXPECT_EQ(SampleAt(block, 3, 0), 150);
  EXPECT_EQ(SampleAt(block, 4, 0), 0) << "an active bus without tracks plays silence";
  EXPECT_EQ(SampleAt(block, 5, 0), 0);
  EXPECT_EQ(SampleAt(block, 6, 0), 700) << "busses past the count write nothing";
  EXPECT_EQ(peaks.busLeft[1], 650);
  EXPECT_EQ(peaks.busLeft[3], 0);
  // Inactive busses write nothing either, and modes other than 2 and 3 do nothing at all.
  s.busActive = {0, 1, 1};
  for (const int mode : {2, 0, 1, 4}) {
    Block again = MakeBlock(8);
    for (int region = 0; region < 3; ++region) SetSample(again, region, 0, 11);
    engine.MixMultiple(again, s.n, s.play, s.gainL, s.gainR, peaks, s.busActive, s.busAssign, s.busCount, s.busGain,
                       static_cast<MixMode>(mode));
    EXPECT_EQ(SampleAt(again, 0, 0), 11) << "mode " << mode;
    EXPECT_EQ(SampleAt(again, 2, 0), mode == 2 ? (11 * 256 + 11 * 1024) / 512 : 11) << "mode " << mode;
  }
}

TEST(MixModeThree, BussesFeedTheMaster) {
  Block block = MakeBlock(4);
  for (int region = 0; region < 4; ++region) SetSample(block, region, 0, 1000 * (region + 1));
  MixSetup s;
  s.mix = 3;
  s.n = 4;
  s.busCount = 2;  // ch / 2 with 4 or 5 tracks
  s.play = {1, 1, 1, 1};
  s.gainL = {256, 256, 256, 256};
  s.gainR = {256, 256, 256, 256};
  s.busGain = {0.5f * kUnityBus, 0.25f * kUnityBus, kUnityBus};
  s.busActive = {0, 1, 1};  // the master mixes even when its flag is clear
  s.busAssign[0] = {1, 0, 0, 0};
  s.busAssign[1] = {0, 1, 0, 1};
  s.busAssign[2] = {0, 0, 1, 0};  // bus 3 is beyond the bus count: never heard
  MixPeaks peaks;
  MixEngine engine;
  MixBlock(engine, block, s, peaks);
  // bus 2: (2000 + 4000) × 256 / 1024 = 1500; master: (1000 × 256 + 256 × 1500) / 512 = 1250
  EXPECT_EQ(SampleAt(block, 0, 0), 1250);
  EXPECT_EQ(SampleAt(block, 1, 0), 1250);
  EXPECT_EQ(SampleAt(block, 2, 0), 3000);
  EXPECT_EQ(peaks.busLeft[1], 1500);
  EXPECT_EQ(peaks.busLeft[0], 1250);
  EXPECT_EQ(peaks.busLeft[2], 0);
  // With one bus or none only the master's own tracks reach the output.
  for (const int busses : {1, 0}) {
    s.busCount = busses;
    Block again = MakeBlock(4);
    SetSample(again, 0, 0, 1000);
    SetSample(again, 1, 0, 3000);
    MixBlock(engine, again, s, peaks);
    EXPECT_EQ(SampleAt(again, 0, 0), 500) << busses;
  }
}

TEST(MixEngine, OutputsBeyondTheBlockAreDropped) {
  // One region: the right side of mode 1, and bus pairs past the end, have nowhere to go.
  Block block = MakeBlock(1);
  SetSample(block, 0, 0, 1000);
  MixSetup s;
  s.n = 4;
  s.play = {1, 1, 1, 1};
  s.gainL = {256};
  s.gainR = {512};
  s.busGain = {kUnityBus, kUnityBus};
  MixPeaks peaks;
  MixEngine engine;
  MixBlock(engine, block, s, peaks);
  EXPECT_EQ(SampleAt(block, 0, 0), 1000);
  EXPECT_EQ(peaks.right, 2000);
  s.mix = 2;
  s.busCount = 64;
  s.busActive.fill(1);
  s.busAssign[1][0] = 1;
  MixBlock(engine, block, s, peaks);
  EXPECT_EQ(peaks.busRight[1], 2000) << "bus 2 was mixed though its outputs lie beyond the block";
}

TEST(WideConversions, SplitFormsMatchTheDirectOnes) {
  std::mt19937_64 random(7);
  std::vector<std::int64_t> values = {0,
                                      1,
                                      -1,
                                      16777217,
                                      -16777219,
                                      2147483647,
                                      -2147483648LL,
                                      6048185647,
                                      (std::int64_t{1} << 53) - 1,
                                      -(std::int64_t{1} << 53) + 1};
  for (int k = 0; k < 20000; ++k) {  // magnitudes of 2^13 to 2^53, both signs
    values.push_back(static_cast<std::int64_t>(random() >> (11 + k % 40)) * (k % 2 ? 1 : -1));
  }
  for (const std::int64_t v : values) {
    EXPECT_EQ(SplitToFloat(v), static_cast<float>(v)) << v;
    const float f = static_cast<float>(v) / 64.0f;
    if (std::fabs(f) <= 140737488355328.0f) {
      EXPECT_EQ(SplitTruncate(f), static_cast<std::int64_t>(f)) << f;
    }
  }
}

// How large the random gains are: as volume and pan make them, any integer gains of
// everyday size, or gains so large that sums pass 2^51, where the vector forms hand frames
// to the direct conversions.
enum class Gains { kVolumeAndPan, kAny, kHuge };

// Random blocks, gains and routing in every mode, run through one engine in turn, so that
// nothing of one block can leak into the next.
void CrossCheck(bool loud, Gains gains) {
  std::mt19937 random(loud ? 1234u : 99u);
  const auto pick = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  MixEngine engine;
  int overs = 0;
  int beyondDoubleRange = 0;
  for (int round = 0; round < 60; ++round) {
    MixSetup s;
    s.mix = 1 + round % 3;
    s.n = pick(1, 24);
    s.busCount = pick(0, 12);
    const int regions = std::max({s.n, 2, s.mix == 2 ? 2 * s.busCount : 0});
    Block block = MakeBlock(regions);
    const int range = loud ? 8388607 : 4095;
    for (int r = 0; r < regions; ++r) {
      for (int i = 0; i < kMixBlockFrames; ++i) SetSample(block, r, i, pick(-range - 1, range));
    }
    std::array<float, kMaxTracks> v{};
    std::array<float, kMaxTracks> p{};
    std::array<int, kMaxTracks> all{};
    for (std::size_t t = 0; t < kMaxTracks; ++t) {
      s.play[t] = pick(0, 5) ? 1 : 2 * pick(0, 1);  // only 1 plays
      all[t] = 1;
      v[t] = static_cast<float>(pick(loud ? -20 : -60, 12));
      p[t] = static_cast<float>(pick(-100, 100));
      const int largest = gains == Gains::kHuge ? 1 << 30 : 100000;
      s.gainL[t] = static_cast<float>(pick(-largest, largest)) / 3.0f;
      s.gainR[t] = static_cast<float>(pick(-largest, largest)) / 7.0f;
    }
    if (gains == Gains::kVolumeAndPan) SetVolume(p, v, s.gainL, s.gainR, kMaxTracks, all, kTrackGainScale);
    for (int b = 0; b < kMaxBusses; ++b) {
      const auto bus = static_cast<std::size_t>(b);
      s.busActive[bus] = pick(0, 3) ? 1 : 2 * pick(0, 1);
      SetBusVolume(s.busGain, static_cast<float>(pick(-40, loud ? 15 : 0)), b, kBusGainDivisor);
      if (loud && pick(0, 9) == 0) s.busGain[bus] = 1.0f;  // the start-up gain
      for (std::size_t t = 0; t < kMaxTracks; ++t) s.busAssign[bus][t] = pick(0, 3) == 0 ? 1 : 2 * pick(0, 1);
    }
    const test::ReferenceResult expected = test::ReferenceMix(block, s);
    MixPeaks peaks;
    MixBlock(engine, block, s, peaks);
    ASSERT_EQ(block, expected.block) << "round " << round << " mode " << s.mix;
    EXPECT_EQ(peaks.left, expected.peaks.left) << round;
    EXPECT_EQ(peaks.right, expected.peaks.right) << round;
    EXPECT_EQ(peaks.busLeft, expected.peaks.busLeft) << round;
    EXPECT_EQ(peaks.busRight, expected.peaks.busRight) << round;
    if (!loud) {
      ASSERT_LT(expected.largestSum, std::int64_t{1} << 31) << "a quiet case must stay within 32 bits";
      ASSERT_LE(expected.largestOut, 8388607) << "and within 24 bits";
    }
    overs += expected.largestOut > 8388607 ? 1 : 0;
    beyondDoubleRange += expected.largestSum >= std::int64_t{1} << 51 ? 1 : 0;
  }
  if (loud) {
    EXPECT_GT(overs, 20) << "the loud cases must go over";
  }
  if (gains == Gains::kHuge) {
    EXPECT_GT(beyondDoubleRange, 20) << "the huge gains must take sums past 2^51";
  }
}

// Each check runs the kernels' best forms for this processor and the build's baseline forms.
class MixCrossCheck : public testing::TestWithParam<KernelForms> {
 protected:
  void SetUp() override { UseKernelForms(GetParam()); }
  void TearDown() override { UseKernelForms(KernelForms::kBest); }
};

INSTANTIATE_TEST_SUITE_P(Forms, MixCrossCheck, testing::Values(KernelForms::kBest, KernelForms::kBaseline),
                         [](const testing::TestParamInfo<KernelForms>& forms) {
                           return forms.param == KernelForms::kBest ? "Best" : "Baseline";
                         });

TEST_P(MixCrossCheck, QuietMixesMatchTheReference) { CrossCheck(false, Gains::kVolumeAndPan); }
TEST_P(MixCrossCheck, LoudMixesMatchTheLimitedReference) { CrossCheck(true, Gains::kVolumeAndPan); }
TEST_P(MixCrossCheck, AnyIntegerGainsMatchTheReference) { CrossCheck(true, Gains::kAny); }
TEST_P(MixCrossCheck, HugeGainsMatchTheReference) { CrossCheck(true, Gains::kHuge); }

}  // namespace
}  // namespace tapeloom
