// Kernels beside faulting pages, the engine and export against a reference mixer and sox, gains, the mixer's words and
// the consoles.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <set>

#include "app/settings_file.h"
#include "mix/block_kernels.h"
#include "mix/gains.h"
#include "mix/mix_block.h"
#include "mix/mix_engine.h"
#include "mix/mix_export.h"
#include "mix/mixer_console.h"
#include "support/console_harness.h"
#include "support/file_faults.h"
#include "support/typed_input.h"
#include "support/wave_builder.h"

#if defined(__arm__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace tapeloom::test {
namespace {

// The reference mixer's block: plain loops, integer gains truncated, 64-bit sums, float bus scaling, 24-bit limits.
using Block = std::vector<unsigned char>;

Block MakeBlock(int regions) { return Block(regions * kMixRegionBytes); }
std::int32_t SampleAt(const Block& b, int region, int frame) {
  const std::size_t at = region * kMixRegionBytes + 3 * frame;
  return b[at] + 256 * b[at + 1] + 65536 * static_cast<signed char>(b[at + 2]);
}
void SetSample(Block& b, int region, int frame, std::int32_t value) {  // beyond the block: dropped
  for (std::size_t k = 0, at = region * kMixRegionBytes + 3 * frame; k < 3 && at + 3 <= b.size(); ++k)
    b[at + k] = static_cast<unsigned char>(value >> 8 * k);
}

struct MixSetup {
  int n = 0, mix = 1, busCount = 0;
  std::array<int, kMaxTracks> play{};
  std::array<float, kMaxTracks> gainL{}, gainR{};
  std::array<int, kMaxBusses> busActive{};
  BusAssignTable busAssign{};
  std::array<float, kMaxBusses> busGain{};  // busGain[0] is also the master of mode 1
};

Block ReferenceMix(Block r, const MixSetup& s, MixPeaks& peaks) {  // the peaks grow by the block's
  std::vector<std::array<std::array<std::int64_t, kMixBlockFrames>, 2>> bus(kMaxBusses);  // [bus][side][frame]
  for (int b = 0; b < (s.mix == 1 ? 1 : kMaxBusses); ++b)
    for (int t = 0; t < s.n; ++t)
      for (int side = 0; side < 2 && s.play[t] == 1 && (s.mix == 1 || s.busAssign[b][t] == 1); ++side)
        for (int i = 0; i < kMixBlockFrames; ++i)
          bus[b][side][i] += SampleAt(r, t, i) * std::int64_t((side ? s.gainR : s.gainL)[t]);
  const auto scaled = [&](int b, int side, int i) {
    const auto v = static_cast<std::int64_t>(static_cast<float>(bus[b][side][i]) * s.busGain[b]);
    std::int64_t& peak = s.mix == 1 ? (side ? peaks.right : peaks.left) : (side ? peaks.busRight : peaks.busLeft)[b];
    return peak = std::max(peak, std::abs(v)), v;
  };
  constexpr std::int64_t kFeedLimit = std::int64_t{1} << 47;  // so that the master's sum cannot overflow
  for (int b = 1; s.mix == 3 && b < s.busCount; ++b)
    for (int side = 0; side < 2 && s.busActive[b] == 1; ++side)
      for (int i = 0; i < kMixBlockFrames; ++i)
        bus[0][side][i] += 256 * std::clamp(scaled(b, side, i), -kFeedLimit, kFeedLimit);
  for (int b = 0; b < (s.mix == 2 ? s.busCount : 1); ++b)
    for (int i = 0; i < kMixBlockFrames && (s.mix != 2 || s.busActive[b] == 1); ++i)
      for (int side = 0; side < 2; ++side)
        SetSample(r, 2 * b + side, i, std::clamp<std::int64_t>(scaled(b, side, i), -8388608, 8388607));
  return r;
}

constexpr std::size_t kFrames = kKernelFrames;

KernelSet ExpectedSet([[maybe_unused]] bool best) {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return best && __builtin_cpu_supports("avx2") ? KernelSet::kAvx2 : KernelSet::kSse2;
#elif defined(__arm__)
  return best && (getauxval(AT_HWCAP) & HWCAP_NEON) ? KernelSet::kNeon : KernelSet::kPlain;
#endif
  return KernelSet::kPlain;
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

// The forms chosen follow the processor, found apart from the program's own detection.
TEST(KernelChoice, BestFollowsTheProcessorAndBaselineNeverTakesItsExtensions) {
  for (const bool best : {false, true}) {
    UseKernelForms(best ? KernelForms::kBest : KernelForms::kBaseline);
    EXPECT_EQ(KernelSetInUse(), ExpectedSet(best)) << best;
  }
}

class KernelForm : public testing::TestWithParam<KernelForms> {
  void SetUp() override { UseKernelForms(GetParam()); }
  void TearDown() override { UseKernelForms(KernelForms::kBest); }
};
INSTANTIATE_TEST_SUITE_P(Forms, KernelForm, testing::Values(KernelForms::kBest, KernelForms::kBaseline),
                         [](const auto& forms) { return forms.param == KernelForms::kBest ? "Best" : "Baseline"; });

// Decoding, accumulation, output stages down to subnormal gains at the sums where vector forms hand over, splits.
TEST_P(KernelForm, EachKernelMatchesPlainArithmetic) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t k47 = std::int64_t{1} << 47;
  using Gains = std::vector<std::pair<std::int32_t, std::int32_t>>;
  const std::int32_t edges[] = {-8388608, 8388607, 0, -1, 1, 0x123456, -0x654321, 0x7f0080, -0x7fff};
  std::mt19937_64 random(31);
  for (const bool atEnd : {true, false}) {
    Guarded<unsigned char> region(3 * kFrames, atEnd);
    Guarded<std::uint32_t> rows[] = {{kFrames, atEnd}, {kFrames, atEnd}, {kFrames, atEnd}, {kFrames, atEnd}};
    Guarded<std::uint64_t> accL(kFrames, atEnd), accR(kFrames, atEnd);
    Guarded<std::int64_t> extra(kFrames, atEnd), master(kFrames, atEnd);
    Samples samples(kFrames);
    for (std::size_t i = 0; i < kFrames; ++i) {
      samples[i] = i % 3 == 2 ? static_cast<std::int32_t>(random() % 16777216) - 8388608 : edges[(i * 7 + atEnd) % 9];
      for (int k = 0; k < 3; ++k) region.data[3 * i + k] = static_cast<unsigned char>(samples[i] >> 8 * k);
    }
    DecodeOffsetSamples(region.data, rows[0].data);
    for (std::size_t i = 0; i < kFrames; ++i) ASSERT_EQ(rows[0].data[i], samples[i] + 8388608u) << i;
    // Groups of 1-4 taps, stored or added, wrap modulo 2^64 (the last group's gains signed).
    for (const Gains& group :
         {Gains{{kMax, 0}}, Gains{{kMax, kMax}, {1, kMax}}, Gains{{0, 181}, {kMax, 3}, {kMax, kMax}},
          Gains(4, {kMax, kMax}), Gains{{256, 0}, {0, 256}, {-1, 7}, {kMax, -kMax - 1}}}) {
      std::vector<TrackTap> taps;
      for (std::size_t k = 0; k < group.size(); ++k) {  // mostly the largest offset sample
        for (std::size_t i = 0; i < kFrames; ++i) rows[k].data[i] = i % 5 == k ? i * 4099 : 0xffffff;
        taps.push_back(TrackTap{rows[k].data, group[k].first, group[k].second});
      }
      for (const bool first : {true, false}) {
        for (std::size_t i = 0; i < kFrames; ++i) accR.data[i] = ~(accL.data[i] = ~std::uint64_t{0} - i * 977);
        AccumulateGroup(taps, accL.data, accR.data, first);
        for (std::size_t i = 0; i < kFrames; ++i) {
          std::uint64_t left = first ? 0 : ~std::uint64_t{0} - i * 977, right = first ? 0 : i * 977;
          for (const TrackTap& t : taps)
            left += t.samples[i] * std::uint64_t(t.gainL), right += t.samples[i] * std::uint64_t(t.gainR);
          ASSERT_EQ(std::tie(accL.data[i], accR.data[i]), std::tie(left, right)) << taps.size() << first << i;
        }
      }
    }

    for (const float gain : {1.0f / 256, 1.5f, 1e-30f, 1e-40f, std::numeric_limits<float>::denorm_min(), -0.75f}) {
      // 2^49 + 2^25 + 1 rounds up only when converted in one rounding. Odd outliers on an even frame: both lanes.
      for (const std::int64_t outlier : {std::int64_t{0}, k47 - 1, -k47, k47, -k47 - 1, 4 * k47 + (1 << 25) + 1,
                                         16 * k47 + 3, -64 * k47 - 5, 64 * k47}) {
        std::vector<std::int64_t> sums(kFrames);
        std::int64_t peak = 0;
        for (std::size_t i = 0; i < kFrames; ++i) {  // magnitudes up to 2^44, both signs, and 0
          sums[i] = i % 13 == 0 ? 0 : static_cast<std::int64_t>(random() >> (19 + i % 45)) * (i % 2 ? 1 : -1);
          sums[i] = i == 777 + std::size_t(outlier & 1) && outlier != 0 ? outlier : sums[i];
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
          const unsigned char* at = region.data + 3 * i;
          const auto limited = std::int32_t(std::clamp(scaled, -0x1p23f, 0x1p23f - 1));
          ASSERT_EQ(at[0] | at[1] << 8 | static_cast<signed char>(at[2]) * 65536, limited) << i;
          const auto feed = static_cast<std::int64_t>(std::clamp(scaled, -0x1p47f, 0x1p47f));
          ASSERT_EQ(master.data[i], static_cast<std::int64_t>(i) - 500 + 256 * feed) << i;
        }
      }
    }
  }
  // The split conversions, at the ends of 32 and 53 bits and at random magnitudes.
  std::vector<std::int64_t> values = {
      0, 1, -1, 16777217, -16777219, 2147483647, -2147483648LL, 6048185647, (1LL << 53) - 1, 1 - (1LL << 53)};
  for (int k = 0; k < 20000; ++k) values.push_back(std::int64_t(random() >> (11 + k % 40)) * (k % 2 ? 1 : -1));
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

// Random blocks (1 in 4 holding only the tracks) in every mode via one engine; volume/pan gains, any, or past 2^51.
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
      const int whole = round % 4 != 3, range = loud ? 8388607 : 4095;
      const int regions = std::max({s.n, 1 + whole, whole && s.mix == 2 ? 2 * s.busCount : 0});
      Block block = MakeBlock(regions);
      for (int i = 0; i < regions * kMixBlockFrames; ++i) SetSample(block, 0, i, pick(-range - 1, range));
      std::array<float, kMaxTracks> v{}, p{};
      std::array<int, kMaxTracks> all;
      for (std::size_t t = 0; t < kMaxTracks; ++t) {
        s.play[t] = pick(0, 5) ? 1 : 2 * pick(0, 1), all[t] = 1;  // only 1 plays
        std::tie(v[t], p[t]) = std::tuple(pick(loud ? -20 : -60, 12), pick(-100, 100));
        const int most = gains == kHuge ? 1 << 30 : 100000;
        std::tie(s.gainL[t], s.gainR[t]) = std::tuple(float(pick(-most, most)) / 3.0f, float(pick(-most, most)) / 7.0f);
      }
      if (gains == kVolumeAndPan) SetVolume(p, v, s.gainL, s.gainR, kMaxTracks, all, kTrackGainScale);
      for (int b = 0; b < kMaxBusses; ++b) {
        s.busActive[b] = pick(0, 3) ? 1 : 2 * pick(0, 1);
        SetBusVolume(s.busGain, static_cast<float>(pick(-40, loud ? 15 : 0)), b, kBusGainDivisor);
        if (loud && pick(0, 9) == 0) s.busGain[b] = 1.0f;  // the start-up gain
        for (std::size_t t = 0; t < kMaxTracks; ++t) s.busAssign[b][t] = pick(0, 3) == 0 ? 1 : 2 * pick(0, 1);
      }
      const Block expected = ReferenceMix(block, s, expectedPeaks);
      MixBlock(engine, block, s, peaks);
      ASSERT_EQ(block, expected) << "loud " << loud << " gains " << gains << " round " << round;
      ASSERT_EQ(std::tie(peaks.left, peaks.right, peaks.busLeft, peaks.busRight),
                std::tie(expectedPeaks.left, expectedPeaks.right, expectedPeaks.busLeft, expectedPeaks.busRight));
    }
  }
}

// The pan law (-3 dB centre, near side linear in dB), clamps with a message, only playing tracks among n.
TEST(TrackGains, PanLawVolumeClampsAndOnlyPlayingTracks) {
  constexpr float kC = 0.70794576f;
  const auto near = [](float pan) { return kC * std::pow(10.0f, 3 * pan / 2000); };
  const std::string low = "Volume of channel 1 is too low.\nIt has been reset to -144 dB, the minimum.\n";
  const std::string high = "Volume of channel 1 is too high.\nIt has been reset to 12 dB, the maximum.\n";
  const std::string pan = "Pan of channel 1 is too extreme.\nIt has been reset to ";
  // clang-format off
  const struct { float volume, pan, keptVolume, keptPan, left, right; std::string printed; } cases[] = {
      {0, 0, 0, 0, kC, kC, ""}, {6, 25, 6, 25, kC * 0.75f, near(25), ""}, {-144, -99, -144, -99, near(99), kC / 100, ""},
      {12, 1, 12, 1, kC * 0.99f, near(1), ""}, {-200, 150, -144, 100, 0, near(100), low + pan + "100, fully right\n"},
      {20, -150, 12, -100, near(100), 0, high + pan + "-100, fully left\n"}};  // left, right: the pan law's factors
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.volume << " dB, pan " << c.pan);
    std::array<float, kMaxTracks> v{c.volume, 0, 50}, p{c.pan}, gainL{42, 42, 42}, gainR{};
    std::array<int, kMaxTracks> play{1, 2, 1};  // only 1 plays; track 3 is beyond n
    EXPECT_EQ(Printed([&] { SetVolume(p, v, gainL, gainR, 2, play, kTrackGainScale); }), c.printed);
    const double level = 256.0 * std::pow(10.0, c.keptVolume / 20.0);
    EXPECT_NEAR(gainL[0], level * c.left, level * c.left * 2e-6);
    EXPECT_NEAR(gainR[0], level * c.right, level * c.right * 2e-6);
    EXPECT_EQ(std::tie(v[0], p[0], gainL[1], gainL[2], v[2]), std::tuple(c.keptVolume, c.keptPan, 42.0f, 42.0f, 50.0f));
  }
}

void WriteWave(const std::string& name, const Samples& s) { WriteBytes(name, WaveBuilder().Samples(s).Build()); }

// The samples of a file whose sizes agree with it; with `channels`, an export's: its layout, and sox reads the same.
Samples SamplesOf(const std::string& name, unsigned channels = 0) {
  const Bytes bytes = ReadBytes(name);
  if (bytes.size() < 44) return {};
  EXPECT_EQ(std::tuple(Field32(bytes, 4) + 8, Field32(bytes, 40) + 44), std::tuple(bytes.size(), bytes.size()));
  const Samples samples = Unpack24(std::span(bytes).subspan(44));
  if (channels == 0) return samples;
  EXPECT_EQ(std::tuple(Field16(bytes, 22), Field32(bytes, 24)), std::tuple(channels, 48000u)) << name;
  const CommandResult sox = RunCommand({"sox", name, "-t", "s24", "-"});
  EXPECT_EQ(Unpack24(Bytes(sox.out.begin(), sox.out.end())), samples) << "sox reads " << name << sox.err;
  return samples;
}

// Frame f of track t (from 0): a saw of its own through both signs.
std::int32_t Saw(int t, std::int64_t f) { return std::int32_t((f * (9 + 2 * t) + 1000 * t) % 20001) - 10000; }

// A value as printf's "%.<digits>f" writes it.
std::string Fixed(double value, int digits) {
  char text[64];
  return std::string(text, std::snprintf(text, sizeof text, "%.*f", digits, value));
}

std::string Peaks(const std::string& label, const std::string& left, const std::string& right, std::int64_t l,
                  std::int64_t r) {
  const auto dB = [](std::int64_t p) { return p <= 0 ? "-144" : Fixed(20.0 * std::log10(double(p) / 8388607.0), 2); };
  return label + left + ": " + dB(l) + " dBFS\n" + label + right + ": " + dB(r) + " dBFS\n";
}

std::set<std::string> Files() {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".")) names.insert(entry.path().filename());
  return names;
}

class ExportTest : public testing::Test {
 protected:
  // The command with the words typed at its prompts; what it printed.
  std::string Export(const std::string& word, const std::string& typed = "mix\nc\n") {
    TypedInput input(typed);
    testing::internal::CaptureStdout();
    try {
      ExportCommand(settings, input, engine, gains, word);
    } catch (const InputEnded&) {
    }
    return testing::internal::GetCapturedStdout();
  }

  TempDir dir;
  WorkingDirectory inDir{dir.path()};
  SessionSettings settings{.ch = 1, .sr = 48000};
  MixEngine engine;
  TrackGains gains;
};

// Every mode as stereo and split files against the reference: the text in full (progress, peaks) and samples.
TEST_F(ExportTest, EveryModeMixesAsTheReferenceDoes) {
  const std::string name = "Enter mix filename\nMixing channels  1";
  // clang-format off
  const struct { std::vector<int> modes; std::string params; std::vector<std::pair<std::string, int>> tracks; std::string opened; } cases[] = {
      // A skip line, a missing track, a short one and one beyond ch; the master; a cut block. Tracks: name, frames.
      {{0, 1, 2}, "ch\t5\ni\t1000\no\t11000\nv\t1\t-2\np\t1\t70\nv\t3\t20\np\t3\t50\nv\t5\t3\np\t5\t-100\nbusvl\t1\t-5\nbus\t1\t1,\nbus\t2\t3,\n",
       {{"a.wav", 20000}, {"-", 0}, {"c.wav", 6000}, {"gone.wav", 0}, {"e.wav", 9000}, {"f.wav", 9000}},
       "Cannot find file in track list called gone.wav!!\nVolume of channel 3 is too high.\nIt has been reset to 12 dB, the maximum.\n" + name + " 3 5\n"},
      // Busses into the master; a bus beyond ch / 2 is not heard; an unrouted track is not opened.
      {{3}, "ch\t6\no\t9000\nv\t2\t-6\np\t2\t50\nv\t3\t2\np\t3\t-40\np\t4\t20\nbusvl\t1\t-5\nbusvl\t2\t-10\nbus\t1\t1,\nbus\t2\t2,3,\nbus\t3\t4,1,\nbus\t5\t5,\n",
       {{"a.wav", 9000}, {"b.wav", 9000}, {"c.wav", 9000}, {"d.wav", 9000}, {"e.wav", 9000}, {"f.wav", 9000}}, name + " 2 3 4 5\n"},
      {{1}, "ch\t1\no\t3000\np\t1\t-60\n", {{"a.wav", 3000}, {"b.wav", 3000}}, name + "\n"}};
  // clang-format on
  for (const auto& c : cases) {
    std::string playlist;
    for (std::size_t t = 0; t < c.tracks.size(); ++t) {
      Samples saw;
      for (int f = 0; f < c.tracks[t].second; ++f) saw.push_back(Saw(static_cast<int>(t), f));
      if (!saw.empty()) WriteWave(c.tracks[t].first, saw);
      playlist += c.tracks[t].first + "\n";
    }
    dir.Write("play.txt", playlist);
    for (const int mode : c.modes) {
      for (const std::string word : {"exp-i", "exp-s"}) {
        SCOPED_TRACE(testing::Message() << c.params << "mode " << mode << ", " << word);
        settings = SessionSettings{.sr = 48000};
        GET_PARAMS(c.params, settings);
        settings.mix = static_cast<MixMode>(mode);
        SetSessionBusGains(settings);
        const std::string printed = Export(word, "mix\nno\nc\n");
        // The reference: the blocks as the export reads them, gains made from the volumes and pans.
        MixSetup m{.n = settings.ch, .mix = mode == 3 ? 3 : 1, .busCount = settings.ch / 2};
        std::tie(m.busActive, m.busAssign, m.busGain) =
            std::tie(settings.busActive, settings.busAssign, settings.busGain);
        for (int t = 0; t < settings.ch; ++t) m.play[t] = c.tracks[t].second > 0;
        SetVolume(settings.p, settings.v, m.gainL, m.gainR, settings.ch, m.play, kTrackGainScale);
        MixPeaks peaks;
        Samples left, right, both;
        std::string expected = c.opened;
        for (std::int64_t pos = settings.i; pos < settings.o; pos += kMixBlockFrames) {
          expected += "\rExport Progress: " + Fixed((pos - settings.i) * 100.0 / (settings.o - settings.i), 0) + " %";
          Block block = MakeBlock(std::max(settings.ch, 2));
          for (int t = 0; t < settings.ch; ++t)
            for (int i = 0; i < kMixBlockFrames; ++i)
              SetSample(block, t, i,
                        pos + i < std::min<std::int64_t>(settings.o, c.tracks[t].second) ? Saw(t, pos + i) : 0);
          const Block mixed = ReferenceMix(block, m, peaks);
          for (int i = 0; i < kMixBlockFrames && pos + i < settings.o; ++i) {
            left.push_back(SampleAt(mixed, 0, i));
            right.push_back(SampleAt(mixed, 1, i));
            both.insert(both.end(), {left.back(), right.back()});
          }
        }
        expected += mode == 3 ? "\n\nBus Peaks:\n" : "\n";
        if (mode == 3) std::tie(peaks.left, peaks.right) = std::tie(peaks.busLeft[0], peaks.busRight[0]);
        for (int b = 1; mode == 3 && b < kMaxBusses; ++b)
          if (m.busActive[b])
            expected += Peaks("Bus " + std::to_string(b + 1), " L", " R", peaks.busLeft[b], peaks.busRight[b]);
        expected +=
            "\nOutput Peaks:\n" + Peaks("channel ", "1", "2", peaks.left, peaks.right) + "\nEnter 'c' to continue\n";
        expected += "Enter 'c' to continue\n";
        EXPECT_EQ(printed, expected);
        const bool one = word == "exp-i";
        EXPECT_EQ(one ? SamplesOf("mix.wav", 2) : SamplesOf("mix_L.wav", 1), one ? both : left);
        EXPECT_EQ(one ? right : SamplesOf("mix_R.wav", 1), right);
      }
    }
  }
}

// Refusals leave the files: empty range, too long for a file (the longest passes), unusable files, a track's name.
TEST_F(ExportTest, RefusesWhatItCannotReadOrMustNotReplace) {
  const std::string range = "Cannot export until in and out points are set incorrectly.\n",
                    name = "Enter mix filename\n";
  const std::string stereo = ": a stereo wave file holds at most 4:08:33.08 at 48000 Hz (715827876 frames)\n";
  const std::string mono = ": a mono wave file holds at most 8:17:06.16 at 48000 Hz (1431655753 frames)\n";
  const std::int64_t longI = LongestExport(ExportKind::kInterleaved), longS = LongestExport(ExportKind::kSplit);
  // clang-format off
  const struct { const char *plant, *word, *typed; std::int64_t in, out; std::string printed; } refusals[] = {
      {"", "exp-i", "mix\n", 4096, 4096, range}, {"", "exp-s", "mix\n", 4096, 1024, range},
      {"", "exp-i", "mix\n", 0, 800000000, "Cannot export 4:37:46.66" + stereo},
      {"", "exp-i", "", 1000, 1000 + longI, name}, {"", "exp-s", "", 1000, 1000 + longS, name},
      {"", "exp-i", "", 1000, 1001 + longI, "Cannot export 4:08:33.08" + stereo},
      {"", "exp-s", "", 1000, 1001 + longS, "Cannot export 8:17:06.16" + mono},  // plant: "-" removes, "/" a folder, "|" a FIFO
      {"-play.txt", "exp-i", "mix\n", 0, 100, "Can't open play.txt: No such file or directory\n"},
      {"/mix.wav", "exp-i", "mix\n", 0, 100, name + "Can't create mix.wav: Is a directory\n"},
      {"|mix_R.wav", "exp-s", "mix\n", 0, 100, name + "Can't create mix_R.wav: Not a regular file\n"},
      {"", "exp-i", "a\n", 0, 100, name + "a.wav is track 1 of the playlist; the mix needs another name\n"},
      {"", "exp-i", "none/mix\n", 0, 100, name + "Mixing channels  1\nCan't create none/mix.wav: No such file or directory\nThe export failed: none/mix.wav was not written\n"}};
  // clang-format on
  for (const auto& r : refusals) {
    SCOPED_TRACE(testing::Message() << r.plant << " " << r.word << " " << r.in << ".." << r.out << " " << r.typed);
    for (const std::string& file : Files()) std::filesystem::remove_all(file);
    WriteWave("a.wav", {1, 2, 3});
    dir.Write("play.txt", "a.wav\n");
    std::tie(settings.i, settings.o) = std::tuple(r.in, r.out);
    const std::string plant = r.plant;
    if (plant.starts_with('-')) std::filesystem::remove(plant.substr(1));
    if (plant.starts_with('/')) std::filesystem::create_directory(plant.substr(1));
    ASSERT_TRUE(!plant.starts_with('|') || ::mkfifo(plant.c_str() + 1, 0600) == 0);
    const std::set<std::string> before = Files();
    EXPECT_EQ(Export(r.word, r.typed), r.printed);
    EXPECT_EQ(Files(), before);
  }
}

// Every write failing in turn leaves earlier files as they were; a right name taken meanwhile puts the left back.
TEST_F(ExportTest, AFailedExportLeavesTheEarlierFilesAsTheyWere) {
  Samples track;
  for (int f = 0; f < 70000; ++f) track.push_back(Saw(0, f));
  WriteWave("a.wav", track);  // more than one write of 16 blocks, and a cut block
  dir.Write("play.txt", "a.wav\n");
  settings.o = 70000;
  for (const ExportKind kind : {ExportKind::kInterleaved, ExportKind::kSplit}) {
    const std::vector<std::string> names = ExportNames(kind, "mix");
    for (const std::string& name : names) WriteWave(name, {7, 7, 7});
    const std::set<std::string> files = Files();
    std::string printed;
    const auto check = [&](int n) {  // the failure named, no report, the earlier files as they were
      EXPECT_TRUE(printed.find(": Input/output error\n") != std::string::npos && printed.ends_with(" not written\n") &&
                  printed.find("Output Peaks") == std::string::npos && Files() == files)
          << n << printed;
      for (const auto& name : names) EXPECT_EQ(SamplesOf(name), Samples(3, 7)) << n;
    };
    const int points =
        SweepWriteFailures([&] { printed = Export(kind == ExportKind::kSplit ? "exp-s" : "exp-i"); }, check);
    EXPECT_GE(points, 3 * static_cast<int>(names.size())) << "a header, two writes of samples and a flush each";
    EXPECT_EQ(SamplesOf(names[0]).size(), names.size() == 1 ? 140000u : 70000u) << "the run without failure";
  }
  settings.o = 3;
  for (const bool leftExisted : {true, false}) {
    std::filesystem::remove_all("mix_R.wav");
    if (!leftExisted) std::filesystem::remove("mix_L.wav");
    SetFileFaultHook([](int) { return std::filesystem::create_directory("mix_R.wav"), 0; });
    EXPECT_TRUE(
        Export("exp-s").ends_with(": Is a directory\nThe export failed: mix_L.wav and mix_R.wav were not written\n"));
    SetFileFaultHook(nullptr);
    EXPECT_EQ(Files().contains("mix_L.wav") ? SamplesOf("mix_L.wav").size() : 0, leftExisted ? 70000u : 0u);
    EXPECT_EQ(Files().size(), 5u - !leftExisted) << "no temporary stays";
  }
}

// A signal while the real program exports stops it between blocks, its temporary gone; SIGTERM ends the session.
TEST(ExportConsole, ASignalStopsTheExportAndRemovesItsTemporary) {
  for (const auto& [sig, after, status] : {std::tuple{SIGINT, "Play: 0.00   Rec: 0.00   Stop: 1800.00", 0},
                                           std::tuple{SIGTERM, "\nSession ended by signal 15", 143}}) {
    SCOPED_TRACE(sig);
    ConsoleSession session;
    WriteWave(session / "a.wav", {1000, 2000, 3000});
    WriteWave(session / "mix.wav", {7, 7, 7});
    session.Write("play.txt", "a.wav\n");
    session.Write("record.txt", "");
    session.Write("param.txt", SimCardParams(2, 2, 1) + "int\t0\nmix\t1\no\t86400000\n");  // half an hour
    bool signalled = false;
    const int sent = sig;
    const RunResult result = session.Run("exp-i\nmix\n", std::chrono::seconds(120), std::nullopt, [&](pid_t pid) {
      if (!signalled && session.Exists("mix.wav.tmp")) signalled = ::kill(pid, sent) == 0;
    });
    ASSERT_TRUE(signalled);
    EXPECT_EQ(result.status, status) << result.err;
    EXPECT_NE(result.out.find(std::string("\nExport stopped: mix.wav was not written\n") + after), std::string::npos);
    EXPECT_EQ(session.Files().size(), 7u) << "no temporary stays";
    EXPECT_EQ(SamplesOf(session / "mix.wav"), (Samples{7, 7, 7}));
  }
}

// One word at the mixer prompt of a 3-track session, its playlist missing: what it sets and nothing else, and the word
// left for the session's commands. Rows: word, track (from 1; 0 none), volume, pan, bus (from 1; 0 none), level.
TEST(MixerEdits, VolumesPansAndBusLevelsAndWordsThatChangeNothing) {
  // clang-format off
  const struct { const char* word; int track = 0; float volume = 0, pan = 0; int bus = 0; float level = 0; } cases[] = {
      {"2v-6", 2, -6}, {"3v12.5", 3, 12.5f}, {"3p-40", 3, 0, -40}, {"1p100", 1, 0, 100}, {"1b-4", 0, 0, 0, 1, -4},
      {"64b20", 0, 0, 0, 64, 15}, {"2b-200", 0, 0, 0, 2, -200},  // below -144 dB: kept, the gain stays
      // Tracks outside 1..ch, busses outside 1..64, values missing or no finite number, commands with a 'p'.
      {"0v-6"}, {"4v-6"}, {"300v-6"}, {"3v"}, {"v-6"}, {"2vx"}, {"2vnan"}, {"2vinf"}, {"0b-4"}, {"65b-4"}, {"1b"},
      {"0p10"}, {"4p10"}, {"2p"}, {"sp"}, {"opt"}, {"lp"}, {"exp-i"}, {"exp-s"}, {"tempo"}, {"pf"}, {"b"}, {"u"}};
  // clang-format on
  for (const auto& c : cases) {
    TempDir dir;
    WorkingDirectory inDir(dir.path());
    SessionSettings s{.ch = 3};
    SetSessionBusGains(s);
    SessionSettings want = s;
    if (c.track) std::tie(want.v[c.track - 1], want.p[c.track - 1]) = std::tuple(c.volume, c.pan);
    if (c.bus) want.busvl[c.bus - 1] = c.level, SetBusVolume(want.busGain, c.level, c.bus - 1, kBusGainDivisor);
    TypedInput input(c.word);
    std::string left;
    EXPECT_NE(
        Printed([&] { MixerConsoleWord(s, input, left); }).find("\nPlaylist file called play.txt was not found!\n"),
        std::string::npos);
    EXPECT_EQ(left, c.word);
    EXPECT_EQ(std::tie(s.v, s.p, s.busvl, s.busGain), std::tie(want.v, want.p, want.busvl, want.busGain)) << c.word;
  }
}

// The view in each mode as the menu sets it, the help until "c", a command from the view, the bus page, the save.
class MixerConsole : public ConsoleTest {};
TEST_F(MixerConsole, ViewModeMenuHelpAndBusPage) {
  session.Write("play.txt", "kick-drum-close-mic.wav\n-\n\nbass.wav\nbeyond.wav\n");
  const std::string out = Prompt(
      SimCardParams(2, 2, 3, 1024) +
          "int\t0\nclock\thc\nmeter\t0\nmix\t2\nv\t1\t-6\np\t1\t-40\np\t3\t100\nbusvl\t1\t-3\nbusvl\t3\t-1.5\n",
      "mix\nh\nzz\nc\nmod\n4\nx\n01\n3\nmod\n0\nmod\n1\ni1\nd\nbus\na\n2\n1,2,300,x\na\n1\n3\nzz\nr\n1\n3\na\n65\n"
      "1\na\n0\n1\nc\nmix\nmix\ns\n");
  const std::string status = "Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n",
                    moved = "Play: 1.00" + status.substr(10);
  const auto view = [](const std::string& levels, const std::string& line) {
    return "\nSource:\nkick-drum-close\tCh 1\tVol -6.00\tPan  -40\nbass.wav\tCh 3\tVol 0.00\tPan  100\n\n" + levels +
           std::string(79, '-') + "\n\n" + line + "\nMix commands are active.  Enter 'h' for help.\n";
  };
  const std::string busses = "Bus 1\t  -3.00 dB\nBus 3\t  -1.50 dB\n", master = "Master\t  -3.00 dB\n";
  const std::string current[] = {"channels are using", "all channels are", "channels are routed", "busses are routed"};
  const std::string choice[] = {"assign channels", "route all", "route channels", "route busses"};
  const std::string header = "Stereo Bus Assignments: (2 outputs, 1 busses)\n";
  const std::string page =
      "\nEnter 'a' to add a channel to a bus\nEnter 'r' to remove a channel from a bus\nEnter 'c' to continue\n";
  const std::string add = "Enter bus number\nEnter channel to add, or multiple if comma separated\n" + header;
  const std::string bus1 = "\nBus 1\t\tOut 01-02\t\tCh: ", bus2 = "\nBus 2\t\tOut 03-04\t\tCh: 1 2 " + page;
  std::vector<std::string> expected = {status + view(busses, status), "\nMixer Help:\n",
                                       "Enter 'c' to continue\n" + view(busses, status)};
  for (const auto& [mode, next] :
       {std::pair{2, view(busses, status)}, {3, view("", status)}, {0, view(master, status)}}) {
    const std::string m = std::to_string(mode);
    expected.push_back("\nCurrently using mixmode [" + m + "]:\n'" + m + "'  Playback = " + current[mode]);
    for (int k = 0; k < 4; ++k)
      if (k != mode) expected.push_back("\n\n'" + std::to_string(k) + "'  Playback = " + choice[k]);
    expected.push_back("\n\n\nSelect a mix mode\n" + next);
  }
  expected.push_back(view(master, moved) + moved + header + page + add + bus2 + add + bus1 + "3 " + bus2 + header +
                     bus1 + "3 " + bus2 + "Enter a bus number\nEnter the channel to remove, or multiple if comma " +
                     "separated\n" + header + bus1 + bus2 + add + bus1 + bus2 + add + bus1 + bus2 + moved +
                     view(master, moved) + moved + "\nStored Settings\n" + moved);
  std::size_t at = 0;
  for (const std::string& piece : expected) {
    const std::size_t found = out.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: " << piece << "\nafter: " << out.substr(at);
    at = found + piece.size();
  }
  EXPECT_EQ(at, out.size()) << out.substr(at);
  const std::size_t help = out.find("\nMixer Help:\n");
  EXPECT_EQ(std::count(out.begin() + help, out.begin() + out.find("Enter 'c'", help), '\n'), 26) << "a help line lost";
  for (const char* line : {"\nmix\t1\n", "\nBus Assignments:\nbus\t1\t\nbus\t2\t1,2,\n"})
    EXPECT_NE(Saved().find(line), std::string::npos) << Saved();
}

}  // namespace
}  // namespace tapeloom::test
