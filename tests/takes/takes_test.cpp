// The take operations in the test process, then the take menu at the real prompt.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>

#include "core/program_end.h"
#include "support/console_harness.h"
#include "support/file_faults.h"
#include "support/typed_input.h"
#include "support/wave_builder.h"
#include "takes/crossfade.h"
#include "takes/file_steps.h"
#include "takes/take_files.h"
#include "takes/take_naming.h"

namespace tapeloom::test {
namespace {

using Files = std::map<std::string, std::string>;  // name -> content; "/" a directory, "->x" a link to x
using Expected = std::vector<std::pair<std::string, std::optional<Samples>>>;  // name patterns, samples
constexpr std::uint64_t kBlock = kCopyBlockBytes, kAll = ~std::uint64_t{0};
constexpr Placement kKeep = Placement::kKeepExisting;

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
std::string Wave(const Samples& samples) { return Text(WaveBuilder().Samples(samples).Build()); }

// A ramp; of either sign, mixes cross zero where truncation toward zero matters.
Samples Ramp(std::size_t frames, std::int32_t first, std::int32_t step) {
  Samples s(frames);
  return std::generate(s.begin(), s.end(), [&] { return (first += step) - step; }), s;
}

// The old samples with the take over them from `at`, the first and last n frames faded by the equal-power law.
Samples Inserted(Samples old, const Samples& take, std::int64_t at, std::int64_t n, bool in = true, bool out = true) {
  const auto mix = [n](double a, double b, std::int64_t i) {
    const double theta = static_cast<double>(i) / static_cast<double>(n) * 1.570796327;
    return std::clamp(static_cast<std::int32_t>(a * std::cos(theta) + b * std::sin(theta)), -8388608, 8388607);
  };
  const auto l = static_cast<std::int64_t>(take.size());
  old.resize(std::max<std::size_t>(old.size(), at + take.size()), 0);
  for (std::int64_t j = 0; j < l; ++j)
    old[at + j] = in && j < n         ? mix(old[at + j], take[j], j)
                  : out && j >= l - n ? mix(take[j], old[at + j], j - l + n)
                                      : take[j];
  return old;
}

// Runs call on the kernel's path (copy_file_range, fallocate), then on a system's without them.
void OnBothPaths(const std::function<void()>& call) {
  for (const bool readWrite : {false, true}) {
    SCOPED_TRACE(readWrite ? "reads and writes" : "kernel");
    SetKernelCopiesRefused(readWrite), call(), SetKernelCopiesRefused(false);
  }
}

// A copy from source.bin (or silence) into out.bin through descriptors opened with these flags.
FileStatus Step(bool zeros, std::uint64_t from, std::uint64_t to, std::uint64_t n, int in = O_RDONLY,
                int out = O_RDWR) {
  const FileDescriptor source(::open("source.bin", in | O_LARGEFILE), "source.bin");
  const FileDescriptor target(::open("out.bin", out | O_LARGEFILE), "out.bin");
  return zeros ? WriteZeros(target, to, n) : CopyBytes(source, from, target, to, n);
}

class TakeFiles : public testing::Test {
 protected:
  Files Contents() const {
    Files files;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      files[e.path().filename()] = e.is_symlink()     ? "->" + std::filesystem::read_symlink(e).string()
                                   : e.is_directory() ? "/"
                                                      : dir.Read(e.path().filename().string());
    return files;
  }
  void Plant(const Files& files) const {
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove_all(entry);
    for (const auto& [name, content] : files) {
      if (content == "/") std::filesystem::create_directory(dir / name);
      if (content.starts_with("->")) std::filesystem::create_symlink(content.substr(2), dir / name);
      if (content != "/" && !content.starts_with("->")) dir.Write(name, content);
    }
  }
  // What a call prints; ended gets the status of a program end it causes, -1 for input that ran out.
  std::string Printed(const std::function<void()>& call) {
    testing::internal::CaptureStdout();
    ended = 0;
    try {
      call();
    } catch (const ProgramEnd& end) {
      ended = end.status();
    } catch (const InputEnded&) {
      ended = -1;
    }
    return testing::internal::GetCapturedStdout();
  }

  TempDir dir;
  WorkingDirectory inDir{dir.path()};
  std::string printed;
  int ended = 0;
};

// The take's span replaced, fades at the seams by the equal-power law, limited; no temporary left or taken over.
TEST_F(TakeFiles, InsertionsReplaceTheTakesSpanWithEqualPowerFadesAtTheSeams) {
  const std::string bad = "Invalid crossfade for ", src = bad + "source file at sample ";
  // Exact; silence past the end; a start at the end; a take shorter than both fades; 1.3 × full scale is limited.
  // clang-format off
  const struct { std::int64_t old, take, at, crossfade, fade; bool in, out; std::int32_t level; std::string printed; } cases[] = {
      {1000, 100, 300, 0, 0, false, false, 0, ""}, {5000, 2000, 0, 480, 480, true, true, 0, ""},
      {1000, 1500, 900, 480, 480, true, false, 0, src + "1920\n"}, {1000, 1000, 1000, 480, 480, true, false, 0, src + "1520\n"},
      {1000, 1000, 1500, 480, 480, false, false, 0, bad + "destination file at sample 1500\n" + src + "2020\n"},
      {5000, 101, 1000, 480, 50, true, true, 0, ""}, {5000, 1, 1000, 480, 0, true, true, 0, ""},
      {100, 40, 10, 20, 20, true, true, 8388607, ""}, {100, 40, 10, 20, 20, true, true, -8388608, ""}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.take << " frames at " << c.at << " into " << c.old);
    const Samples old = c.level ? Samples(c.old, c.level) : Ramp(c.old, 1000000, 37),
                  take = c.level ? Samples(c.take, c.level) : Ramp(c.take, -3000000, -101);
    // Files and links under the temporaries' names are left alone: other names are taken.
    Files files{
        {"xfade_temp1.wav", "mine"}, {"xfade_temp2.wav", "->x"}, {"take.wav", Wave(take)}, {"old.wav", Wave(old)}};
    Plant(files);
    bool ok = false;
    printed =
        Printed([&] { ok = InsertTakeWithCrossfades("old.wav", "take.wav", c.at, c.take, c.crossfade, 48000).ok(); });
    EXPECT_TRUE(ok && printed == c.printed) << printed;
    const Samples expected = Inserted(old, take, c.at, c.fade, c.in, c.out);
    files["old.wav"] = Wave(expected);
    EXPECT_EQ(Contents(), files) << "no temporary is left";
    EXPECT_EQ(RunCommand({"sox", "old.wav", "-t", "s24", "-"}).out, Text(Pack24(expected))) << "as sox reads it";
  }
}

// A failure is reported and leaves every file as it was; a file of its own without data ends the program.
TEST_F(TakeFiles, AFailureLeavesEveryFileAsItWasAndOwnFilesWithoutDataEndTheProgram) {
  // clang-format off
  Plant({{"good.wav", Wave(Ramp(10, 1000000, 37))}, {"taken.wav", "appeared"}, {"folder.wav", "/"}, {"good_v2.wav", "/"},
         {"good_bkup_1.wav", "earlier"}, {"good_stp_1.wav", "earlier"}, {"out.bin", "0123456789"}, {"out.wav", Wave({})},
         {"source.bin", std::string(2 * kBlock, 'x')}, {"broken.wav", Text(WaveBuilder().WithoutDataChunk().Build())}});
  const Files before = Contents();
  const std::string ends = "Can't find data block in wave file!\n", kept = "good.wav was not padded; it is unchanged\n";
  const std::string noDir = ": No such file or directory\n", badOut = "Can't write to out.bin: Bad file descriptor\n";
  const std::string gone = "Can't open gone.wav" + noDir, broken = "Data block not found error\n", bad = "Invalid crossfade for ";
  const std::string asked = "\nFile good_v2.wav exists!\n\n'o' to overwrite one file\n'O' (shift-o) to overwrite all conflicts,\n"
                            "'n' to try a new append name\n";
  const auto said = [](const FileStatus& status) { std::puts(status.Message().c_str()); };
  const auto append = [](const char* answers) { TypedInput in(answers); APPEND_NAMES(1, "good.wav\n", "good\n", "v2", {1}, in); };
  // Input that ends during a question keeps the take (-1).
  std::vector<std::tuple<std::function<void()>, std::string, int>> cases = {
      {[] { InsertTakeWithCrossfades("broken.wav", "good.wav", 0, 10, 4, 48000); }, broken + broken + ends, 2},
      {[] { INSERT_FILE("good.wav", "broken.wav", 0, 10); }, ends, 2}, {[] { PAD_FILE("broken.wav", 10); }, ends, 2},
      {[] { INSERT_FILE("broken.wav", "good.wav", 0, 10); }, ends, 2},
      {[] { EXPECT_FALSE(INSERT_FILE("folder.wav", "good.wav", 0, 10).ok()); },
       "Can't open folder.wav: Is a directory\n", 0},
      {[] { EXPECT_FALSE(PadTake("good.wav", 9, "no-dir/good.wav", kKeep).ok()); },
       "Can't create no-dir/temp_pad.wav" + noDir + kept, 0},
      {[] { EXPECT_FALSE(PAD_FILE("gone.wav", 9).ok()); }, gone, 0},
      {[] { EXPECT_FALSE(PadTake("good.wav", 2, "taken.wav", kKeep).ok()); },
       "Can't create taken.wav: File exists\n" + kept, 0},
      {[] { EXPECT_EQ(COPY_FILE(1, "gone.wav"), 0); }, "File gone.wav does not exist\n", 0},
      {[] { EXPECT_EQ(COPY_FILE(1, "good.wav"), 0); },
       "Can't create good_bkup_1.wav: File exists\nCannot create backup file good_bkup_1.wav\n", 0},
      {[] { RENAME_FILES(1, "good.wav\n", "no-dir/a.wav\n"); }, "Can't rename good.wav to no-dir/a.wav" + noDir, 0},
      {[] { STAMP_FILES(1, "good.wav\n", 1, {1}); }, "Can't rename good.wav to good_stp_1.wav: File exists\n", 0},
      {[] { REMOVE_FILES(1, "folder.wav\n"); }, "Can't remove folder.wav: Is a directory\n", 0},
      {[] { REMOVE_FILES(9, "gone.wav\n-\n"); RENAME_FILES(9, "gone.wav\n-\n", "e.wav\ngood.wav\n"); REMOVE_FILES(0,
       "good.wav\n"); RENAME_FILES(0, "good.wav\n", "e.wav\n"); STAMP_FILES(1, "\n-\ngood.wav", 2, {1,
       1}); STAMP_FILES(1, "good.wav", 2, {0}); }, "", 0},
      {[&] { append("o"); }, asked + "Can't rename good.wav to good_v2.wav: Is a directory\n", 0},
      {[&] { append(""); }, asked, -1},
      {[&] { said(Step(false, 0, 0, kAll, O_WRONLY)); }, "Can't read source.bin: Bad file descriptor\n", 0},
      {[&] { said(Step(false, 0, 0, kAll, O_RDONLY, O_RDONLY)); }, badOut, 0},
      {[&] { said(Step(true, 0, 100, 2 * kBlock, O_RDONLY, O_RDONLY)); }, badOut, 0}};
  // A crossfade's code names the file that failed: 1 for a, 2 for b, 3 for out.
  const struct Fade { int atA, atB; std::string a, b, out; int code; std::string says; } fades[] = {
      {0, 0, "gone", "good", "out", 1, gone}, {0, 0, "good", "gone", "out", 2, gone},
      {0, 0, "good", "good", "gone", 3, gone}, {0, 0, "broken", "broken", "out", 1, broken},
      {0, 0, "good", "broken", "out", 2, broken}, {0, 0, "good", "good", "broken", 3, broken},
      {-1, 0, "good", "good", "out", 1, bad + "destination file at sample -1\n"},
      {0, 11, "good", "good", "out", 2, bad + "source file at sample 11\n"},
      {11, 0, "good", "good", "out", 1, bad + "destination file at sample 11\n"}};
  // clang-format on
  for (const Fade& f : fades)
    cases.emplace_back(
        [f] { EXPECT_EQ(CROSSFADE(f.atA, f.atB, 4, f.a + ".wav", f.b + ".wav", f.out + ".wav"), f.code); }, f.says, 0);
  for (const auto& [call, message, status] : cases) {
    SCOPED_TRACE(message);
    OnBothPaths([&] {
      EXPECT_EQ(Printed(call), message);
      EXPECT_EQ(ended, status);
      EXPECT_TRUE(Contents() == before);
    });
  }
}

// A clock that came back to 500: a file under any name made from the stamp moves all takes on.
TEST_F(TakeFiles, TakesAreNamedWithAStampRaisedPastEveryNameTheTakeMenuCanMakeFromIt) {
  TrackFlags armed{1, 0, 1};
  TypedInput none("");
  // clang-format off
  const std::tuple<SamplePosition, Files, std::string> cases[] = {
      {0, {}, "500"}, {0, {{"audio_ch_3_500.wav", "the take"}}, "501"}, {96000, {{"audio_ch_1_500.wav", "pad"}}, "501_stp_96000"},
      {96000, {{"audio_ch_3_500_stp_96000.wav", "the take with its record start"}}, "501_stp_96000"},
      {0, {{"vocal_bkup_500.wav", "cin"}, {"vocal_bkup_501.wav", "cin"}}, "502"}, {0, {{"audio_ch_2_500_stp_0.wav", "no input 2"}}, "500"},
      {0, {{"gtr_bkup_500.wav", "cin"}, {"audio_ch_1_501_stp_0.wav", "stp"}}, "502"}, {0, {{"audio_ch_1_500.wav", "->elsewhere.wav"}}, "501"},
      {96000, {{"audio_ch_1_500_stp_0.wav", "stp renames nothing then"}}, "500_stp_96000"}};
  // clang-format on
  for (const auto& [recordStart, planted, stamp] : cases) {
    Plant(planted);
    const auto takes = NameAndCreateTakes(
        {3, &armed, recordStart, 44100, false, "", "vocal.wav\nbass.wav\ngtr.take.wav\n", 500}, none);
    EXPECT_EQ(takes.takeList, "audio_ch_1_" + stamp + ".wav\n-\naudio_ch_3_" + stamp + ".wav\n");
    Files expected = planted;  // headers that announce no frames yet: the run grows them
    expected[takes.names[0]] = expected[takes.names[2]] = Text(WaveBuilder().SampleRate(44100).Build());
    EXPECT_EQ(Contents(), expected);
  }
  armed = {1, 1};
  const auto failed = NameAndCreateTakes({2, &armed, 0, 48000, true, "t", "no/a\nb"}, none);
  EXPECT_EQ(failed.takeList + failed.failures[0].Message(),
            "-\nb_t.wav\nCan't create no/a_t.wav: No such file or directory");
  EXPECT_EQ(RETURN_NAME(9, "a\n\nz", 1) + RETURN_NAME(9, "a\n", -1), "z");
  EXPECT_EQ(RETURN_NAME(9, "a\n", 1) + RETURN_NAME(1, "a\nb", 1), "") << "beyond the list, beyond count";
}

// Every write failing in turn, on both paths: reported, no success claimed, nothing lost; else exactly what it means.
TEST_F(TakeFiles, NoTakeOperationLosesAFileOrReportsSuccessForWorkThatFailed) {
  // The take announces its planned length and has a chunk before its samples; a link is where a temporary goes.
  const Samples take = Ramp(70001, -4000000, 37), old = Ramp(140000, -4000000, -29);
  const std::string planned = Text(WaveBuilder().ChunkBeforeData("LIST", "odd").Samples(take).DataSize(999999).Build());
  const std::string padTake =
      Text(WaveBuilder().ChunkBeforeData("LIST", "odd").Samples(Inserted({}, take, 70000, 0)).Build());
  const auto insert = [](std::int64_t at, std::int64_t fade) {
    return [=] { return InsertTakeWithCrossfades("old.wav", "take.wav", at, 70001, fade, 48000).ok(); };
  };
  const std::string padded = "take.wav was not padded; it is unchanged\n";
  const std::string inserted = "take.wav was not inserted into old.wav; the take is kept\n";
  const std::string backup = "Cannot create backup file take_bkup_7.wav\n";
  const std::tuple<std::function<bool()>, std::string, Files> cases[] = {
      {[] { return PAD_FILE("take.wav", 70000).ok(); }, padded, {{"take.wav", padTake}}},
      {[] { return PadTake("take.wav", 70000, "padded.wav", kKeep).ok(); }, padded, {{"padded.wav", padTake}}},
      {[] { return COPY_FILE(7, "take.wav") == 1; }, backup, {{"take_bkup_7.wav", planned}}},
      {insert(1000, 9000), inserted, {{"old.wav", Wave(Inserted(old, take, 1000, 9000))}}},
      {insert(100000, 0), inserted, {{"old.wav", Wave(Inserted(old, take, 100000, 0))}}}};
  for (const auto& [run, lastLine, done] : cases)
    OnBothPaths([&] {
      SCOPED_TRACE(lastLine);
      Files before{{"take.wav", planned}, {"temp_pad.wav", "->nowhere"}}, after = done;
      if (done.contains("old.wav")) before["old.wav"] = Wave(old);
      after.insert(before.begin(), before.end());
      bool succeeded = false;
      const auto once = [&] { Plant(before), printed = Printed([&] { succeeded = run(); }); };
      const int points = SweepWriteFailures(once, [&](int n) {
        SCOPED_TRACE(testing::Message() << "write " << n << " failed: " << printed);
        EXPECT_FALSE(succeeded);
        EXPECT_TRUE(printed.ends_with(lastLine) && printed.find(": Input/output error\n") != std::string::npos &&
                    printed.find("Copied") == std::string::npos);
        Files now = Contents();
        // What was written stays, announced; a fade that failed stops it before the old file is touched.
        if (before.contains("old.wav") && now["old.wav"] != before.at("old.wav")) {
          EXPECT_EQ(printed.find("Can't write to xfade_temp"), std::string::npos);
          const bool corrected = printed.find("Can't correct the header") == std::string::npos;
          EXPECT_TRUE(!corrected || Field32(ReadBytes("old.wav"), 40) == now["old.wav"].size() - 44);
          now["old.wav"] = before.at("old.wav");
        }
        EXPECT_TRUE(now == before) << "no temporary, no part of a new file, the take unchanged";
      });
      EXPECT_GT(points, 2);
      EXPECT_TRUE(succeeded) << "without a failure it succeeds: " << printed;
      EXPECT_TRUE(Contents() == after) << "and leaves exactly what it means";
    });
}

constexpr int kStart = 10240, kFrames = 10240;  // the record start and the length of a take
const std::string kMenu = "Recording finished.  Enter a take handling command.\n";
const std::string kTake1 = "audio_ch_1_[0-9]+_stp_10240\\.wav", kTake2 = "audio_ch_2_[0-9]+_stp_10240\\.wav";
const Samples kOld = Ramp(40000, 16, 16);  // an old file under a record list name

Samples Input(int k, std::int64_t frames = kFrames) {
  Samples s;
  for (std::int64_t j = 0; j < frames; ++j) s.push_back(static_cast<std::int32_t>(-((j % 30000 + 1) * 256 + k + 1)));
  return s;
}

class TakeMenuConsole : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    Samples input, a = Input(0, 100000), b = Input(1, 100000);
    for (std::size_t j = 0; j < a.size(); ++j) input.insert(input.end(), {a[j], b[j]});
    WriteBytes(session / "card-in.raw", Pack24(input));
  }
  // An empty session recording into a.wav and b.wav, with these old files.
  void Reset(const std::vector<std::string>& old = {}) {
    for (const std::string& name : Matching("(?!card-in\\.raw$).*")) std::filesystem::remove(session / name);
    session.Write("record.txt", "a.wav\n\nb.wav\n");
    session.Write("play.txt", "");
    for (const std::string& name : old) WriteBytes(session / name, WaveBuilder().Samples(kOld).Build());
  }
  std::string Record(const std::string& input, const std::string& settings = "", int start = kStart,
                     std::optional<long> limit = {}) {
    session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + mode + "clock\thc\nmeter\t0\ne\t" +
                                   std::to_string(start) + "\no\t" + std::to_string(start + kFrames) + "\n" + settings);
    last = session.Run(input, std::chrono::seconds(120), limit);
    return last.out;
  }
  std::vector<std::string> Matching(const std::string& pattern) const {
    std::vector<std::string> names = session.Files();
    std::erase_if(names, [&](const std::string& name) { return !std::regex_match(name, std::regex(pattern)); });
    return names;
  }
  // Besides the session's 5 files, one file matches each pattern, the wave file of its samples where given.
  void ExpectFiles(const Expected& expected) const {
    EXPECT_EQ(Matching(".*").size(), expected.size() + 5) << testing::PrintToString(session.Files());
    for (const auto& [pattern, samples] : expected) {
      const std::vector<std::string> found = Matching(pattern);
      ASSERT_EQ(found.size(), 1u) << pattern;
      EXPECT_TRUE(!samples || ReadBytes(session / found[0]) == WaveBuilder().Samples(*samples).Build()) << found[0];
    }
  }
  std::string mode = "int\t0\n";  // the short menu
};

// Each command and answer of the take menu leaves exactly the files it promises, sample for sample.
TEST_F(TakeMenuConsole, EveryCommandLeavesTheFilesItPromises) {
  const Samples a = Input(0), b = Input(1), padA = Inserted({}, a, kStart, 0), padB = Inserted({}, b, kStart, 0);
  // clang-format off
  const std::string asked = "-------------------------\n1 file exists!\nEnter 'w' to overwrite\n"
                            "Enter 'W' to overwrite and don't ask again.\nEnter 'r' to return to previous menu.\n";
  const std::string safety = "The file safety switch is on.\nDo you really want to replace a whole file rather than insert? (y,n)\n";
  const std::string choices = " exists!\n\n'o' to overwrite one file\n'O' (shift-o) to overwrite all conflicts,\n'n' to try a new append name\n";
  const Expected takes = {{kTake1, a}, {kTake2, b}}, appended = {{"a_v1.wav", a}, {"b_v1.wav", b}};
  const Expected partial = {{kTake1, Input(0, 6652)}, {kTake2, Input(1, 6652)}};
  const std::string failed = "_stp_10240.wav was left as it is: writing it failed during the recording (File too large)\naudio_ch_2_";
  struct Case { std::string answers; std::vector<std::string> old; std::string said; Expected files; std::string settings = "";
                std::optional<long> limit = {}; int start = kStart; };
  // Input's end keeps the takes; with no room for a file, its backup or a take, each is kept, unchanged or as written.
  const Case cases[] = {
      {"", {}, kMenu, takes},
      {"rep\nr\nrep\nw\n", {"a.wav"}, kMenu + asked + kMenu + asked + "Play: ", {{"a.wav", padA}, {"b.wav", padB}}},
      {"rep\nn\nrep\ndel\n", {"a.wav"}, kMenu + safety + kMenu + safety + "Play: ", {{"a.wav", kOld}}, "safe\t1\n"},
      {"app\nv1\nx\no\n", {"a_v1.wav"},
       "Enter characters to append with.\n\nFile a_v1.wav" + choices + choices.substr(9) + "audio_ch_1_", appended},
      {"app\nv1\nO\n", {"a_v1.wav", "b_v1.wav"}, "", appended},
      {"app\nv1\nn\nv2\n", {"a_v1.wav"}, "Enter new append name\n", {{"a_v1.wav", kOld}, {"a_v2.wav", a}, {"b_v2.wav",
       b}}}, {"aws\nv1\n", {}, "", {{"a_v1_stp_10240.wav", a}, {"b_v1_stp_10240.wav", b}}},
      {"awp\nv2\n", {}, "", {{"a_v2.wav", padA}, {"b_v2.wav", padB}}},
      {"stp\n", {}, "", {{"audio_ch_1_[0-9]+_stp_0.wav", a}, {"audio_ch_2_[0-9]+_stp_0.wav", b}}, "", {}, 0},
      {"pad\n", {}, "", {{"audio_ch_1_[0-9]+.wav", padA}, {"audio_ch_2_[0-9]+.wav", padB}}},
      {"ins\n", {"a.wav"}, "", {{"a.wav", Inserted(kOld, a, kStart, 0)}, {"b.wav", padB}}},
      {"ins\n", {"a.wav", "b.wav"}, "", {{"a.wav", Inserted(kOld, a, kStart, 480)}, {"b.wav", Inserted(kOld, b, kStart,
       480)}}, "xfade\t10.0\n"},
      {"cin\n", {"a.wav"}, "File b.wav does not exist\n", {{"a_bkup_[0-9]+.wav", kOld}, {"a.wav", Inserted(kOld, a,
       kStart, 0)}, {"b.wav", padB}}},
      {"ins\n", {"a.wav"}, "Can't write to a.wav: File too large\n", {{"a.wav", {}}, takes[0], takes[1]}, "", 40000},
      {"cin\n", {"a.wav"}, "File too large\nCannot create backup file a_bkup_", {{"a.wav", kOld}, takes[0], {"b.wav",
       padB}}, "", 100000}, {"rep\n", {}, failed, partial, "", 20000}, {"ins\n", {}, failed, partial, "", 20000},
      {"pad\n", {}, failed, partial, "", 20000}, {"stp\n", {}, failed, partial, "", 20000},
      {"awp\nv1\n", {}, failed, partial, "", 20000}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers + " from " + std::to_string(c.start));
    Reset(c.old);
    EXPECT_NE(Record("R\n" + c.answers, c.settings, c.start, c.limit).find(c.said), std::string::npos) << last.out;
    EXPECT_EQ(last.status, 0);
    ExpectFiles(c.files);
  }
}

// The full menu, an unknown word showing it again, and "aud" playing the second quarter of the take.
TEST_F(TakeMenuConsole, TheFullMenuAndAnAuditionOfAQuarter) {
  Reset({"old2.wav"});
  session.Write("play.txt", "-\nold2.wav\n");
  session.Write("record.txt", "a.wav\n-\n");
  const std::string menu =
      "\nRecording finished.  Enter a take handling command.\n\nCurrent take files:\n\t'aud' to audition current take\n"
      "\t'del' to delete current take\n\nChange files in record.txt (permanently):\n"
      "\t'rep' to replace files in record.txt with current take\n\t'ins' to insert new take into record.txt files\n"
      "\t'cin' to make a backup copy before inserting\n\nMake new files using record.txt names as base:\n"
      "\t'awp' to append base name, with padding (audio in sync)\n\t'aws' to append base name, with time stamp\n"
      "\t'app' to append base name, no padding or time stamp\n\nMake file names automatically:\n"
      "\t'pad' to save as padded files (audio in sync)\n\t'stp' to save with time stamp\n\n";
  const std::string quarters =
      "0 = hear whole take   1 = 1st 1/4   2 = 2nd 1/4   3 = 3rd 1/4   4 = 4th 1/4\nPlaying...\n"
      "Auditioning...\nplayback start = 0.27 sec\nplayback stop  = 0.32 sec\n";
  mode = "";  // the second quarter of the take plays 12800..15360
  const std::string out = Record("R\nwhat\naud\n2\ndel\n");
  EXPECT_NE(out.find(menu + menu + quarters), std::string::npos) << out;
  const Samples played = Unpack24(ReadBytes(session / "card-out.raw"));  // input 1's take from the record start
  EXPECT_EQ(std::pair(played.at(2 * 4096), played.at(2 * 4096 + 1)), std::pair(Input(0)[2560], kOld[12800]));
  ExpectFiles({{"old2.wav", kOld}});  // the menu came back after the audition; "del" settled the takes
}

}  // namespace
}  // namespace tapeloom::test
