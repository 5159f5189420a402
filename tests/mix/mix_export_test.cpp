// The mix export: every mix mode sample for sample against a mix computed here from the
// volumes, pans and bus levels; the files it writes (headers, split sides, read back by sox);
// its console texts; its refusals; and what write failures and Ctrl-C leave on the disk.
#include "mix/mix_export.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

#include "mix/busses.h"
#include "support/console_harness.h"
#include "support/file_faults.h"
#include "support/typed_input.h"
#include "takes/take_files_support.h"

namespace tapeloom {
namespace {

using test::Samples;

// Frame f of track t (numbered from 1): a saw of its own through both signs.
std::int32_t TrackSample(int t, std::int64_t f) {
  return static_cast<std::int32_t>((f * (7 + 2 * t) + 1000 * t) % 20001) - 10000;
}

// The integer gains of a track: 256 × the volume × the pan law (-3 dB at the centre; the near
// side rises to 0 dB, linear in dB; the far side falls linearly to silence), cut toward zero.
// The volumes and pans of the tests keep them away from whole numbers, where single and double
// precision could cut differently.
std::array<std::int64_t, 2> IntegerGains(double v, double p) {
  const double centre = std::pow(10.0, -3.0 / 20.0);
  const double nearSide = std::pow(10.0, 3.0 * std::fabs(p) / 100.0 / 20.0) * centre;
  const double farSide = (100.0 - std::fabs(p)) / 100.0 * centre;
  const double level = 256.0 * std::pow(10.0, v / 20.0);
  const std::array<double, 2> sides = {level * (p == 0  ? centre
                                                : p < 0 ? nearSide
                                                        : farSide),
                                       level * (p == 0  ? centre
                                                : p > 0 ? nearSide
                                                        : farSide)};
  std::array<std::int64_t, 2> gains{};
  for (std::size_t k = 0; k < 2; ++k) {
    const double fraction = sides[k] - std::floor(sides[k]);
    EXPECT_TRUE(sides[k] == 0.0 || (fraction > 0.01 && fraction < 0.99)) << v << " dB, pan " << p;
    gains[k] = static_cast<std::int64_t>(sides[k]);
  }
  return gains;
}

// dB levels whose twentieth is exact in single precision, so that the bus gain is too.
float BusGain(float dB) { return static_cast<float>(std::pow(10.0, dB / 20.0) / 256.0); }

std::int64_t Scaled(std::int64_t sum, float gain) { return static_cast<std::int64_t>(static_cast<float>(sum) * gain); }

struct Track {
  std::string line;  // the playlist line
  std::int64_t frames = 0;
  float v = 0.0f;
  float p = 0.0f;
};

struct MixCase {
  const char* what;
  int mode;
  int ch;
  std::vector<Track> tracks;
  std::vector<std::vector<int>> busses;  // busses[n]: the tracks (from 1) that feed bus n + 1
  std::vector<float> levels;             // levels[n]: bus n + 1's level in dB; bus 1 is the master
  SamplePosition in;
  SamplePosition out;
  const char* mixing;
};

// The mix before it is limited to 24 bits, and its peaks.
struct Expected {
  std::vector<std::int64_t> left, right;
  std::map<int, std::array<std::int64_t, 2>> busPeaks;  // bus number: left, right
  std::array<std::int64_t, 2> outputPeaks{};
};

Expected Mix(const MixCase& c) {
  const auto level = [&](int bus) { return bus < static_cast<int>(c.levels.size()) ? c.levels[bus] : 0.0f; };
  const auto feeds = [&](int bus, int t) {
    return bus < static_cast<int>(c.busses.size()) &&
           std::find(c.busses[bus].begin(), c.busses[bus].end(), t + 1) != c.busses[bus].end();
  };
  Expected e;
  for (int b = 1; b < static_cast<int>(c.busses.size()); ++b) {
    if (!c.busses[b].empty()) e.busPeaks[b + 1] = {0, 0};
  }
  std::vector<std::array<std::int64_t, 2>> gains;
  for (const Track& track : c.tracks) gains.push_back(IntegerGains(track.v, track.p));
  for (std::int64_t pos = c.in; pos < c.out; ++pos) {
    std::array<std::array<std::int64_t, 2>, kMaxBusses> sums{};
    for (int t = 0; t < c.ch && t < static_cast<int>(c.tracks.size()); ++t) {
      const auto ti = static_cast<std::size_t>(t);
      if (c.tracks[ti].line == "-" || pos >= c.tracks[ti].frames) continue;
      for (int b = 0; b < (c.mode == 3 ? kMaxBusses : 1); ++b) {
        if (c.mode == 3 && !feeds(b, t)) continue;
        for (std::size_t side = 0; side < 2; ++side) sums[b][side] += TrackSample(t + 1, pos) * gains[ti][side];
      }
    }
    std::array<std::int64_t, 2> out{};
    for (std::size_t side = 0; side < 2; ++side) {
      std::int64_t master = sums[0][side];
      for (int b = 1; c.mode == 3 && b < c.ch / 2; ++b) {
        if (!e.busPeaks.contains(b + 1)) continue;
        const std::int64_t bus = Scaled(sums[b][side], BusGain(level(b)));
        e.busPeaks[b + 1][side] = std::max(e.busPeaks[b + 1][side], std::abs(bus));
        master += 256 * bus;
      }
      out[side] = Scaled(master, BusGain(level(0)));
      e.outputPeaks[side] = std::max(e.outputPeaks[side], std::abs(out[side]));
    }
    e.left.push_back(out[0]);
    e.right.push_back(out[1]);
  }
  return e;
}

Samples Limited(const std::vector<std::int64_t>& mix) {
  Samples s;
  for (const std::int64_t v : mix)
    s.push_back(static_cast<std::int32_t>(std::clamp<std::int64_t>(v, -8388608, 8388607)));
  return s;
}

// A report line as the peak reports print it.
std::string PeakLine(const std::string& label, std::int64_t peak) {
  if (peak <= 0) return label + ": -144 dBFS\n";
  const double dB = -20.0 * std::log10(8388607.0 / static_cast<double>(peak));
  char text[64];
  std::snprintf(text, sizeof text, "%s: %.2f dBFS%s\n", label.c_str(), dB,
                dB == 0.0  ? " WARNING!"
                : dB > 0.0 ? " OVER!! "
                           : "");
  return text;
}

std::string Report(const MixCase& c, const Expected& e) {
  std::string text;
  if (c.mode == 3) {
    text += "\n\nBus Peaks:\n";
    for (const auto& [bus, peak] : e.busPeaks) {
      text += PeakLine("Bus " + std::to_string(bus) + " L", peak[0]) +
              PeakLine("Bus " + std::to_string(bus) + " R", peak[1]);
    }
    text += "\nOutput Peaks:\n";
  } else {
    text += "\n\nOutput Peaks:\n";
  }
  return text + PeakLine("channel 1", e.outputPeaks[0]) + PeakLine("channel 2", e.outputPeaks[1]) + "\n";
}

// The samples of a file Tapeloom wrote, checked against its header: the sizes agree with the
// file (SamplesOf), the channel count and the rate are the export's, and sox reads the same.
Samples Written(const std::string& name, int channels) {
  const test::Bytes bytes = test::ReadBytes(name);
  EXPECT_EQ(test::Field16(bytes, 22), static_cast<std::uint32_t>(channels)) << name;
  EXPECT_EQ(test::Field32(bytes, 24), 48000u) << name;
  const Samples samples = test::SamplesOf(name);
  EXPECT_EQ(test::SoxSamples(name), samples) << name;
  return samples;
}

class ExportTest : public test::InTempDir {
 protected:
  void SetUp() override { settings.sr = 48000; }

  void Use(const MixCase& c) {
    settings = SessionSettings{};
    settings.sr = 48000;
    settings.ch = c.ch;
    settings.mix = static_cast<MixMode>(c.mode);
    settings.i = c.in;
    settings.o = c.out;
    std::string playlist;
    for (std::size_t t = 0; t < c.tracks.size(); ++t) {
      const Track& track = c.tracks[t];
      playlist += track.line + "\n";
      settings.v[t] = track.v;
      settings.p[t] = track.p;
      Samples samples;
      for (std::int64_t f = 0; f < track.frames; ++f) samples.push_back(TrackSample(static_cast<int>(t) + 1, f));
      if (track.frames > 0) test::WriteWave(track.line, samples);
    }
    dir.Write("play.txt", playlist);
    for (std::size_t b = 0; b < c.busses.size(); ++b) {
      for (const int t : c.busses[b]) settings.busAssign[b][static_cast<std::size_t>(t - 1)] = 1;
      settings.busActive[b] = c.busses[b].empty() ? 0 : 1;
    }
    for (std::size_t b = 0; b < c.levels.size(); ++b) settings.busvl[b] = c.levels[b];
    SetSessionBusGains(settings);
  }

  // The command as typed at the prompt; what it printed.
  std::string Export(const std::string& word, const std::string& typed = "mix\nc\n") {
    test::TypedInput input(typed);
    return test::Printed([&] { ExportCommand(settings, input, engine, gains, word); });
  }

  SessionSettings settings;
  MixEngine engine;
  TrackGains gains;
};

// clang-format off
const MixCase kMixCases[] = {
    {"mode 1: volumes and pans; a skip line keeps its track number; a short track; the last block cut", 1, 4,
     {{"a.wav", 20000, 0.0f, 0.0f}, {"-"}, {"c.wav", 6000, -6.0f, 50.0f}, {"d.wav", 20000, 3.0f, -30.0f}},
     {}, {}, 1000, 11000, "Mixing channels  1 3 4"},
    {"mode 0 mixes as mode 1, through the master level; lines beyond ch take no part", 0, 2,
     {{"a.wav", 9000, -2.0f, 70.0f}, {"b.wav", 9000, 1.0f, -100.0f}, {"c.wav", 9000}},
     {}, {-5.0f}, 0, 8192, "Mixing channels  1 2"},
    {"mode 2 mixes as mode 1, whatever the busses; a missing track is left out", 2, 3,
     {{"a.wav", 5000, 0.0f, 90.0f}, {"missing.wav"}, {"c.wav", 5000, -4.0f, 10.0f}},
     {{1}, {3}}, {}, 100, 4196, "Mixing channels  1 3"},
    {"mode 3: busses into the master; a bus beyond ch / 2 is not heard; an unrouted track is not opened", 3, 6,
     {{"a.wav", 9000, 0.0f, 0.0f}, {"b.wav", 9000, -6.0f, 50.0f}, {"c.wav", 9000, 2.0f, -40.0f},
      {"d.wav", 9000, 0.0f, 20.0f}, {"e.wav", 9000}, {"f.wav", 9000}},
     {{1}, {2, 3}, {4, 1}, {}, {5}}, {-5.0f, -10.0f}, 0, 9000, "Mixing channels  1 2 3 4 5"},
    {"one track: the mix still has two sides", 1, 1,
     {{"a.wav", 3000, 0.0f, -60.0f}, {"b.wav", 3000}},
     {}, {}, 0, 3000, "Mixing channels  1"},
};
// clang-format on

TEST_F(ExportTest, EveryModeMixesAsComputedHere) {
  for (const MixCase& c : kMixCases) {
    for (const ExportKind kind : {ExportKind::kInterleaved, ExportKind::kSplit}) {
      SCOPED_TRACE(std::string(c.what) + (kind == ExportKind::kSplit ? ", exp-s" : ", exp-i"));
      Use(c);
      const std::string printed = Export(kind == ExportKind::kSplit ? "exp-s" : "exp-i");
      EXPECT_NE(printed.find(std::string(c.mixing) + "\n"), std::string::npos) << printed;
      const Expected e = Mix(c);
      EXPECT_NE(printed.find(Report(c, e) + "Enter 'c' to continue\n"), std::string::npos) << printed;
      if (kind == ExportKind::kSplit) {
        EXPECT_EQ(Written("mix_L.wav", 1), Limited(e.left));
        EXPECT_EQ(Written("mix_R.wav", 1), Limited(e.right));
      } else {
        Samples interleaved;
        for (std::size_t f = 0; f < e.left.size(); ++f) {
          interleaved.push_back(Limited(e.left)[f]);
          interleaved.push_back(Limited(e.right)[f]);
        }
        EXPECT_EQ(Written("mix.wav", 2), interleaved);
      }
    }
  }
}

TEST_F(ExportTest, PrintsItsTextsInOrder) {
  // One full-scale sample at +12 dB, fully left: the left side goes over, the right is silent.
  test::WriteWave("a.wav", {0, 0, 8388607, -5});
  dir.Write("play.txt", "a.wav\n-\n");
  settings.ch = 2;
  settings.mix = MixMode::kStereo;
  settings.o = 10000;
  settings.v = {12.0f, 20.0f};
  settings.p[0] = -100.0f;
  settings.busGain[0] = 1.0f / 256.0f;
  const std::int64_t peak = Scaled(8388607 * IntegerGains(12.0, -100.0)[0], 1.0f / 256.0f);
  EXPECT_EQ(Export("exp-i", "mix\nno\nc\n"),
            "Volume of channel 2 is too high.\nIt has been reset to 12 dB, the maximum.\n"
            "Enter mix filename\nMixing channels  1\n"
            "\rExport Progress: 0 %\rExport Progress: 41 %\rExport Progress: 82 %"
            "\n\nOutput Peaks:\n" +
                PeakLine("channel 1", peak) + "channel 2: -144 dBFS\n\nEnter 'c' to continue\nEnter 'c' to continue\n");
  EXPECT_EQ(settings.v[1], 12.0f);
  const Samples written = Written("mix.wav", 2);
  ASSERT_EQ(written.size(), 20000u);
  EXPECT_EQ(Samples(written.begin(), written.begin() + 8), (Samples{0, 0, 0, 0, 8388607, 0, -19, 0}));
}

TEST_F(ExportTest, RangesThatCannotBeExportedAreRefusedBeforeAnything) {
  test::WriteWave("a.wav", {1, 2, 3});
  dir.Write("play.txt", "a.wav\n");
  settings.ch = 1;
  struct Range {
    const char* word;
    SamplePosition in, out;
    const char* message;
  };
  const Range ranges[] = {
      {"exp-i", 4096, 4096, "Cannot export until in and out points are set incorrectly.\n"},
      {"exp-s", 4096, 1024, "Cannot export until in and out points are set incorrectly.\n"},
      {"exp-i", 0, 800000000,
       "Cannot export 4:37:46.66: a stereo wave file holds at most 4:08:33.08 at 48000 Hz (715827876 frames)\n"},
      {"exp-s", 0, 2000000000,
       "Cannot export 11:34:26.66: a mono wave file holds at most 8:17:06.16 at 48000 Hz (1431655753 frames)\n"},
  };
  for (const Range& r : ranges) {
    settings.i = r.in;
    settings.o = r.out;
    EXPECT_EQ(Export(r.word), r.message);
    EXPECT_EQ(Files(), (std::set<std::string>{"a.wav", "play.txt"}));
  }
  // The longest range a file holds passes the check, and a frame more does not: the check is
  // left at the name it then asks for (the input ends there, and nothing is written).
  for (const ExportKind kind : {ExportKind::kInterleaved, ExportKind::kSplit}) {
    const char* word = kind == ExportKind::kSplit ? "exp-s" : "exp-i";
    SCOPED_TRACE(word);
    settings.i = 1000;
    for (const std::int64_t extra : {0, 1}) {
      settings.o = static_cast<SamplePosition>(1000 + LongestExport(kind) + extra);
      const std::string out = test::Printed([&] {
        test::TypedInput none("");
        try {
          ExportCommand(settings, none, engine, gains, word);
        } catch (const InputEnded&) {
          std::puts("(input ended)");
        }
      });
      EXPECT_EQ(out.starts_with("Enter mix filename\n"), extra == 0) << out;
      EXPECT_EQ(out.starts_with("Cannot export "), extra == 1) << out;
      EXPECT_EQ(Files(), (std::set<std::string>{"a.wav", "play.txt"}));
    }
  }
}

TEST_F(ExportTest, RefusesWhatItCannotReadOrMustNotReplace) {
  struct Refusal {
    const char* what;
    std::function<void()> setUp;
    const char* word;
    const char* typed;
    std::string printed;  // the end of what it printed
  };
  const auto fifo = [](const char* name) { ASSERT_EQ(::mkfifo(name, 0600), 0); };
  const Refusal refusals[] = {
      {"no playlist", [] { std::filesystem::remove("play.txt"); }, "exp-i", "mix\n",
       "Can't open play.txt: No such file or directory\n"},
      {"a playlist that is a directory",
       [] {
         std::filesystem::remove("play.txt");
         std::filesystem::create_directory("play.txt");
       },
       "exp-i", "mix\n", "Can't open play.txt: Is a directory\n"},
      {"an output name that is a directory", [] { std::filesystem::create_directory("mix.wav"); }, "exp-i", "mix\n",
       "Enter mix filename\nCan't create mix.wav: Is a directory\n"},
      {"an output name that is a FIFO", [&] { fifo("mix_R.wav"); }, "exp-s", "mix\n",
       "Enter mix filename\nCan't create mix_R.wav: Not a regular file\n"},
      {"an output that would replace a track", [] {}, "exp-i", "a\n",
       "Enter mix filename\na.wav is track 1 of the playlist; the mix needs another name\n"},
      {"an output in a folder that is not there", [] {}, "exp-i", "none/mix\n",
       "Enter mix filename\nMixing channels  1\nCan't create none/mix.wav: No such file or directory\n"
       "The export failed: none/mix.wav was not written\n"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.what);
    for (const std::string& name : Files()) std::filesystem::remove_all(name);
    test::WriteWave("a.wav", {1, 2, 3});
    dir.Write("play.txt", "a.wav\n");
    settings.ch = 1;
    settings.o = 100;
    r.setUp();
    const std::set<std::string> before = Files();
    const std::string printed = Export(r.word, r.typed);
    EXPECT_TRUE(printed.ends_with(r.printed)) << printed;
    EXPECT_EQ(Files(), before);
  }
}

TEST_F(ExportTest, TracksThatCannotBeReadAreLeftOutAndTheRestIsMixed) {
  ASSERT_EQ(::mkfifo("pipe.wav", 0600), 0);
  test::WriteWave("b.wav", {256, -512});
  dir.Write("play.txt", "pipe.wav\nb.wav\n");
  settings.ch = 2;
  settings.o = 2;
  settings.busGain[0] = 1.0f / 256.0f;
  const std::string printed = Export("exp-s");
  EXPECT_NE(printed.find("Can't read pipe.wav: Not a regular file\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("Mixing channels  2\n"), std::string::npos) << printed;
  EXPECT_EQ(Written("mix_L.wav", 1), (Samples{181, -362}));

  // A track that goes between its check and the export.
  ExportPlan plan{.kind = ExportKind::kSplit, .baseName = "gone", .entries = {"gone.wav", "b.wav"}, .length = 2};
  plan.flags = {1, 1};
  plan.attributes[0].length = plan.attributes[1].length = 2;
  plan.attributes[1].dataOffset = 44;
  MixPeaks peaks;
  EXPECT_NE(test::Printed([&] {
              ExportMix(plan, settings, engine, gains, peaks);
            }).find("Mixing channels Can't open gone.wav for Mixing\n 2\n"),
            std::string::npos);
  EXPECT_EQ(Written("gone_L.wav", 1), (Samples{181, -362}));
}

// Every write and flush failing in turn, and a full disk: the failure is named with the output
// and the reason, no report follows, and the earlier files of those names are as they were.
TEST_F(ExportTest, AFailedExportLeavesTheEarlierFilesAsTheyWere) {
  Samples track;
  for (int f = 0; f < 70000; ++f) track.push_back(TrackSample(1, f));
  test::WriteWave("a.wav", track);
  dir.Write("play.txt", "a.wav\n");
  settings.ch = 1;
  settings.o = 70000;  // more than one read of 16 blocks, and a cut block
  for (const char* word : {"exp-i", "exp-s"}) {
    SCOPED_TRACE(word);
    const std::vector<std::string> names =
        ExportNames(std::string(word) == "exp-s" ? ExportKind::kSplit : ExportKind::kInterleaved, "mix");
    for (const std::string& name : names) test::WriteWave(name, {7, 7, 7});
    const std::set<std::string> files = Files();
    std::string printed;
    const int points = test::SweepWriteFailures([&] { printed = Export(word); },
                                                [&](int n) {
                                                  SCOPED_TRACE(n);
                                                  EXPECT_NE(printed.find(": Input/output error\n"), std::string::npos);
                                                  EXPECT_TRUE(printed.ends_with(" not written\n")) << printed;
                                                  EXPECT_EQ(printed.find("Output Peaks"), std::string::npos);
                                                  EXPECT_EQ(Files(), files);
                                                  for (const std::string& name : names) {
                                                    EXPECT_EQ(test::SamplesOf(name), (Samples{7, 7, 7}));
                                                  }
                                                });
    EXPECT_GE(points, 3 * static_cast<int>(names.size())) << "a header, two writes of samples and a flush each";
    EXPECT_EQ(test::SamplesOf(names[0]).size(), names.size() == 1 ? 140000u : 70000u) << "the run without failure";
  }
  test::WriteWave("mix.wav", {7, 7, 7});
  {
    const test::FileSizeLimit limit(100000);
    EXPECT_TRUE(
        Export("exp-i").ends_with("Can't write to mix.wav: File too large\n"
                                  "The export failed: mix.wav was not written\n"));
  }
  EXPECT_EQ(test::SamplesOf("mix.wav"), (Samples{7, 7, 7}));
  EXPECT_EQ(Files(), (std::set<std::string>{"a.wav", "mix.wav", "mix_L.wav", "mix_R.wav", "play.txt"}));
}

// A split export appears whole or not at all: when the right output cannot take its name (a
// folder was made there while the mix was written), the left one is put back as it was, or
// freed again when nothing had its name, and no temporary stays.
TEST_F(ExportTest, ASplitExportWhoseRightOutputCannotTakeItsNameLeavesTheLeftAsItWas) {
  test::WriteWave("a.wav", {100, 200, 300});
  dir.Write("play.txt", "a.wav\n");
  settings.ch = 1;
  settings.o = 3;
  struct MakeFolder {
    static int Hook(int) {
      std::filesystem::create_directory("mix_R.wav");
      return 0;
    }
  };
  for (const bool leftExisted : {true, false}) {
    SCOPED_TRACE(leftExisted ? "an earlier left output" : "no earlier left output");
    for (const std::string& name : Files()) {
      if (name != "a.wav" && name != "play.txt") std::filesystem::remove_all(name);
    }
    if (leftExisted) test::WriteWave("mix_L.wav", {7, 7, 7});
    SetFileFaultHook(&MakeFolder::Hook);
    const std::string printed = Export("exp-s");
    SetFileFaultHook(nullptr);
    EXPECT_TRUE(printed.ends_with(": Is a directory\nThe export failed: mix_L.wav and mix_R.wav were not written\n"))
        << printed;
    std::set<std::string> expected = {"a.wav", "mix_R.wav", "play.txt"};
    if (leftExisted) expected.insert("mix_L.wav");
    EXPECT_EQ(Files(), expected);
    if (leftExisted) {
      EXPECT_EQ(test::SamplesOf("mix_L.wav"), (Samples{7, 7, 7}));
    }
  }
}

// A signal while the real program exports: the export stops between two blocks, its
// temporary goes and the earlier file stays. After Ctrl-C the session goes on at the prompt;
// SIGTERM ends it as "x" does, with 128 + the signal.
TEST(ExportConsole, ASignalStopsTheExportAndRemovesItsTemporary) {
  struct Stop {
    int signal;
    const char* after;  // what follows the message
    int status;
  };
  for (const Stop& stop : {Stop{SIGINT, "Play: 0.00   Rec: 0.00   Stop: 1800.00", 0},
                           Stop{SIGTERM, "\nSession ended by signal 15", 143}}) {
    SCOPED_TRACE(stop.signal);
    test::ConsoleSession session;
    test::WriteWave((session / "a.wav").string(), {1000, 2000, 3000});
    test::WriteWave((session / "mix.wav").string(), {7, 7, 7});
    session.Write("play.txt", "a.wav\n");
    session.Write("record.txt", "");
    // Half an hour, mostly silence: far longer than it takes to see the temporary and signal.
    session.Write("param.txt", test::SimCardParams(2, 2, 1) + "int\t0\nmix\t1\no\t86400000\n");
    bool signalled = false;
    const test::RunResult result = session.Run("exp-i\nmix\n", std::chrono::seconds(120), std::nullopt, [&](pid_t pid) {
      if (!signalled && session.Exists("mix.wav.tmp")) signalled = ::kill(pid, stop.signal) == 0;
    });
    ASSERT_TRUE(signalled);
    EXPECT_EQ(result.status, stop.status) << result.err;
    const std::string stopped = std::string("\nExport stopped: mix.wav was not written\n") + stop.after;
    EXPECT_NE(result.out.find(stopped), std::string::npos) << result.out.substr(result.out.size() - 300);
    EXPECT_EQ(session.Files(), (std::vector<std::string>{"a.wav", "card-in.raw", "card-out.raw", "mix.wav", "param.txt",
                                                         "play.txt", "record.txt"}));
    EXPECT_EQ(test::SamplesOf((session / "mix.wav").string()), (Samples{7, 7, 7}));
  }
}

}  // namespace
}  // namespace tapeloom
