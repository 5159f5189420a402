// The mix export: every mode against the reference mixer and read back by sox, its refusals, and
// what write failures and signals leave on the disk.
#include "mix/mix_export.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <iomanip>
#include <set>
#include <sstream>

#include "app/settings_file.h"
#include "reference_mix.h"
#include "support/console_harness.h"
#include "support/file_faults.h"
#include "support/run_command.h"
#include "support/typed_input.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

using Samples = std::vector<std::int32_t>;

void WriteWave(const std::string& name, const Samples& s) { WriteBytes(name, WaveBuilder().Samples(s).Build()); }

// The samples of a file whose sizes agree with it; with `channels`, an export's: its layout, and
// sox reads the same samples.
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
std::int32_t Saw(int t, std::int64_t f) {
  return static_cast<std::int32_t>((f * (9 + 2 * t) + 1000 * t) % 20001) - 10000;
}

// A value as printf's "%.<digits>f" writes it.
std::string Fixed(double value, int digits) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(digits) << value;
  return text.str();
}

std::string PeakLine(const std::string& label, std::int64_t peak) {
  return label + (peak <= 0 ? ": -144" : ": " + Fixed(20.0 * std::log10(static_cast<double>(peak) / 8388607.0), 2)) +
         " dBFS\n";
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

// Every mode (0 to 2 mix as 1) as one stereo and two mono files against the reference: the text
// in full (volume resets, tracks opened, progress, peaks, "c" asked until typed) and the samples.
TEST_F(ExportTest, EveryModeMixesAsTheReferenceDoes) {
  const struct {
    std::vector<int> modes;
    std::string params;
    std::vector<std::pair<std::string, int>> tracks;  // the playlist: names and lengths, 0 for no file
    std::string opened;
    // clang-format off
  } cases[] = {
      // A skip line, a missing track, a short one and one beyond ch; the master; a cut block.
      {{0, 1, 2}, "ch\t5\ni\t1000\no\t11000\nv\t1\t-2\np\t1\t70\nv\t3\t20\np\t3\t50\nv\t5\t3\np\t5\t-100\nbusvl\t1\t-5\nbus\t1\t1,\nbus\t2\t3,\n",
       {{"a.wav", 20000}, {"-", 0}, {"c.wav", 6000}, {"gone.wav", 0}, {"e.wav", 9000}, {"f.wav", 9000}},
       "Cannot find file in track list called gone.wav!!\nVolume of channel 3 is too high.\nIt has been reset to 12 dB, the maximum.\nEnter mix filename\nMixing channels  1 3 5\n"},
      // Busses into the master; a bus beyond ch / 2 is not heard; an unrouted track is not opened.
      {{3}, "ch\t6\no\t9000\nv\t2\t-6\np\t2\t50\nv\t3\t2\np\t3\t-40\np\t4\t20\nbusvl\t1\t-5\nbusvl\t2\t-10\nbus\t1\t1,\nbus\t2\t2,3,\n"
       "bus\t3\t4,1,\nbus\t5\t5,\n", {{"a.wav", 9000}, {"b.wav", 9000}, {"c.wav", 9000}, {"d.wav", 9000}, {"e.wav", 9000},
       {"f.wav", 9000}}, "Enter mix filename\nMixing channels  1 2 3 4 5\n"},
      {{1}, "ch\t1\no\t3000\np\t1\t-60\n", {{"a.wav", 3000}, {"b.wav", 3000}}, "Enter mix filename\nMixing channels  1\n"},
  };
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
        Samples left, right, interleaved;
        std::string expected = c.opened;
        for (std::int64_t pos = settings.i; pos < settings.o; pos += kMixBlockFrames) {
          expected += "\rExport Progress: " + Fixed((pos - settings.i) * 100.0 / (settings.o - settings.i), 0) + " %";
          Block block = MakeBlock(std::max(settings.ch, 2));
          for (int t = 0; t < settings.ch; ++t) {
            const std::int64_t end = std::min<std::int64_t>(settings.o, c.tracks[t].second);
            for (int i = 0; i < kMixBlockFrames && pos + i < end; ++i) SetSample(block, t, i, Saw(t, pos + i));
          }
          const ReferenceResult r = ReferenceMix(block, m);
          for (int i = 0; i < kMixBlockFrames && pos + i < settings.o; ++i) {
            left.push_back(SampleAt(r.block, 0, i));
            right.push_back(SampleAt(r.block, 1, i));
            interleaved.insert(interleaved.end(), {left.back(), right.back()});
          }
          GrowPeaks(peaks, r.peaks);
        }
        expected += mode == 3 ? "\n\nBus Peaks:\n" : "\n";
        for (int b = 1; mode == 3 && b < kMaxBusses; ++b) {
          if (m.busActive[b])
            expected += PeakLine("Bus " + std::to_string(b + 1) + " L", peaks.busLeft[b]) +
                        PeakLine("Bus " + std::to_string(b + 1) + " R", peaks.busRight[b]);
        }
        expected += "\nOutput Peaks:\n" + PeakLine("channel 1", mode == 3 ? peaks.busLeft[0] : peaks.left) +
                    PeakLine("channel 2", mode == 3 ? peaks.busRight[0] : peaks.right) +
                    "\nEnter 'c' to continue\nEnter 'c' to continue\n";
        EXPECT_EQ(printed, expected);
        EXPECT_EQ(word == "exp-i" ? SamplesOf("mix.wav", 2) : SamplesOf("mix_L.wav", 1),
                  word == "exp-i" ? interleaved : left);
        EXPECT_EQ(word == "exp-i" ? right : SamplesOf("mix_R.wav", 1), right);
      }
    }
  }
}

// Refusals leave the files as they were: an empty range, one longer than a file holds (the longest
// passes, to the name it then asks for), a playlist or an output that cannot be used, a track's name.
TEST_F(ExportTest, RefusesWhatItCannotReadOrMustNotReplace) {
  const std::string range = "Cannot export until in and out points are set incorrectly.\n",
                    name = "Enter mix filename\n";
  const std::string stereo = ": a stereo wave file holds at most 4:08:33.08 at 48000 Hz (715827876 frames)\n";
  const std::string mono = ": a mono wave file holds at most 8:17:06.16 at 48000 Hz (1431655753 frames)\n";
  const std::int64_t longI = LongestExport(ExportKind::kInterleaved), longS = LongestExport(ExportKind::kSplit);
  const struct {
    const char *plant, *word, *typed;  // plant: "-" removes the file, "/" makes a folder of it, "|" a FIFO
    std::int64_t in, out;
    std::string printed;
    // clang-format off
  } refusals[] = {
      {"", "exp-i", "mix\n", 4096, 4096, range}, {"", "exp-s", "mix\n", 4096, 1024, range},
      {"", "exp-i", "mix\n", 0, 800000000, "Cannot export 4:37:46.66" + stereo},
      {"", "exp-i", "", 1000, 1000 + longI, name}, {"", "exp-s", "", 1000, 1000 + longS, name},
      {"", "exp-i", "", 1000, 1001 + longI, "Cannot export 4:08:33.08" + stereo},
      {"", "exp-s", "", 1000, 1001 + longS, "Cannot export 8:17:06.16" + mono},
      {"-play.txt", "exp-i", "mix\n", 0, 100, "Can't open play.txt: No such file or directory\n"},
      {"/mix.wav", "exp-i", "mix\n", 0, 100, name + "Can't create mix.wav: Is a directory\n"},
      {"|mix_R.wav", "exp-s", "mix\n", 0, 100, name + "Can't create mix_R.wav: Not a regular file\n"},
      {"", "exp-i", "a\n", 0, 100, name + "a.wav is track 1 of the playlist; the mix needs another name\n"},
      {"", "exp-i", "none/mix\n", 0, 100, name + "Mixing channels  1\nCan't create none/mix.wav: No such file or directory\n"
       "The export failed: none/mix.wav was not written\n"},
  };
  // clang-format on
  for (const auto& r : refusals) {
    SCOPED_TRACE(testing::Message() << r.plant << " " << r.word << " " << r.in << ".." << r.out << " typing "
                                    << r.typed);
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

// A track that goes between its check and the export is left out and the rest is mixed.
TEST_F(ExportTest, TracksThatCannotBeReadAreLeftOutAndTheRestIsMixed) {
  WriteWave("b.wav", {256, -512});
  settings.ch = 2;
  settings.busGain[0] = 1.0f / 256.0f;
  gains.left[1] = 181.23f;
  ExportPlan plan{.kind = ExportKind::kSplit, .baseName = "gone", .entries = {"gone.wav", "b.wav"}, .length = 2};
  plan.flags = {1, 1};
  plan.attributes[0].length = plan.attributes[1].length = 2;
  plan.attributes[1].dataOffset = 44;
  MixPeaks peaks;
  testing::internal::CaptureStdout();
  ExportMix(plan, settings, engine, gains, peaks);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Mixing channels Can't open gone.wav for Mixing\n 2\n"),
            std::string::npos);
  EXPECT_EQ(SamplesOf("gone_L.wav", 1), (Samples{181, -362}));
}

// Every write and flush failing in turn: the failure named, no report, the earlier files of those
// names as they were. A split export whose right output cannot take its name (a folder made there
// meanwhile) puts the left back as it was, or frees its name.
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
    const int points = SweepWriteFailures([&] { printed = Export(kind == ExportKind::kSplit ? "exp-s" : "exp-i"); },
                                          [&](int n) {
                                            EXPECT_NE(printed.find(": Input/output error\n"), std::string::npos) << n;
                                            EXPECT_TRUE(printed.ends_with(" not written\n")) << n << printed;
                                            EXPECT_EQ(printed.find("Output Peaks"), std::string::npos) << n;
                                            EXPECT_EQ(Files(), files) << n;
                                            for (const std::string& name : names)
                                              EXPECT_EQ(SamplesOf(name), (Samples{7, 7, 7})) << n;
                                          });
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

// A signal while the real program exports stops it between two blocks; its temporary goes and the
// earlier file stays. After Ctrl-C the session goes on; SIGTERM ends it as "x" does.
TEST(ExportConsole, ASignalStopsTheExportAndRemovesItsTemporary) {
  for (const auto& [sig, after, status] : {std::tuple{SIGINT, "Play: 0.00   Rec: 0.00   Stop: 1800.00", 0},
                                           std::tuple{SIGTERM, "\nSession ended by signal 15", 143}}) {
    SCOPED_TRACE(sig);
    ConsoleSession session;
    WriteWave(session / "a.wav", {1000, 2000, 3000});
    WriteWave(session / "mix.wav", {7, 7, 7});
    session.Write("play.txt", "a.wav\n");
    session.Write("record.txt", "");
    // Half an hour, mostly silence: far longer than it takes to see the temporary and signal.
    session.Write("param.txt", SimCardParams(2, 2, 1) + "int\t0\nmix\t1\no\t86400000\n");
    bool signalled = false;
    const int sent = sig;
    const RunResult result = session.Run("exp-i\nmix\n", std::chrono::seconds(120), std::nullopt, [&](pid_t pid) {
      if (!signalled && session.Exists("mix.wav.tmp")) signalled = ::kill(pid, sent) == 0;
    });
    ASSERT_TRUE(signalled);
    EXPECT_EQ(result.status, status) << result.err;
    EXPECT_NE(result.out.find(std::string("\nExport stopped: mix.wav was not written\n") + after), std::string::npos)
        << result.out.substr(result.out.size() - 300);
    EXPECT_EQ(session.Files(), (std::vector<std::string>{"a.wav", "card-in.raw", "card-out.raw", "mix.wav", "param.txt",
                                                         "play.txt", "record.txt"}));
    EXPECT_EQ(SamplesOf(session / "mix.wav"), (Samples{7, 7, 7}));
  }
}

}  // namespace
}  // namespace tapeloom::test
