// The take menu after a recording, at the real prompt: every command, and the files it leaves
// behind, byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <ctime>
#include <regex>

#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

// What the simulated inputs deliver: frame j of input k.
std::int32_t InputSample(std::int64_t j, int k) { return static_cast<std::int32_t>(-((j % 30000 + 1) * 256 + k + 1)); }
// An old file's frame f.
std::int32_t OldSample(std::int64_t f) { return static_cast<std::int32_t>((f % 30000 + 1) * 16); }

const std::string kShortMenu = "Recording finished.  Enter a take handling command.\n";
constexpr int kRecordStart = 10240;
constexpr int kTakeFrames = 10240;

class TakeMenuConsole : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    std::vector<std::int32_t> input;
    for (std::int64_t j = 0; j < 100000; ++j) {
      input.push_back(InputSample(j, 0));
      input.push_back(InputSample(j, 1));
    }
    WriteBytes(session / "card-in.raw", Pack24(input));
    session.Write("record.txt", "a.wav\nb.wav\n");
  }
  // Records both inputs from the record start (R) and answers the menu with `answers`.
  // The short menu unless `full`.
  std::string Record(const std::string& answers, const std::string& settings = "", int start = kRecordStart,
                     bool full = false) {
    return Prompt(SimCardParams(2, 2, 2, 1024) + (full ? "" : "int\t0\n") + "clock\thc\nmeter\t0\ne\t" +
                      std::to_string(start) + "\no\t" + std::to_string(start + kTakeFrames) + "\n" + settings,
                  "R\n" + answers);
  }
  void OldFile(const std::string& name, std::int64_t frames) {
    std::vector<std::int32_t> samples;
    for (std::int64_t f = 0; f < frames; ++f) samples.push_back(OldSample(f));
    WriteBytes(session / name, WaveBuilder().Samples(samples).Build());
  }
  std::vector<std::string> Matching(const std::string& pattern) const {
    std::vector<std::string> names;
    for (const std::string& name : session.Files()) {
      if (std::regex_match(name, std::regex(pattern))) names.push_back(name);
    }
    return names;
  }
  std::string Take(int channel) const {
    const auto names = Matching("audio_ch_" + std::to_string(channel) + "_[0-9]+(_stp_[0-9]+)?\\.wav");
    EXPECT_EQ(names.size(), 1u);
    return names.empty() ? std::string() : names[0];
  }
  // The samples of a file with a canonical header, after checking that header's sizes.
  std::vector<std::int32_t> Samples(const std::string& name) const {
    const Bytes bytes = ReadBytes(session / name);
    EXPECT_GE(bytes.size(), 44u) << name;
    if (bytes.size() < 44) return {};
    EXPECT_EQ(Field32(bytes, 4), bytes.size() - 8) << name << ": RIFF size";
    EXPECT_EQ(Field32(bytes, 40), bytes.size() - 44) << name << ": data size";
    return Unpack24(std::span<const unsigned char>(bytes).subspan(44));
  }
  // A take of input k recorded from `start`, padded with `start` frames of silence or not.
  static std::vector<std::int32_t> Recorded(int k, std::int64_t padding) {
    std::vector<std::int32_t> samples(static_cast<std::size_t>(padding), 0);
    for (std::int64_t j = 0; j < kTakeFrames; ++j) samples.push_back(InputSample(j, k));
    return samples;
  }
  std::vector<std::string> FilesBeforeTakes() const {
    return {"card-in.raw", "card-out.raw", "param.txt", "play.txt", "record.txt"};
  }
  // Back to the files of SetUp, for the next case of a table.
  void Reset() {
    for (const std::string& name : session.Files()) {
      if (name != "card-in.raw") std::filesystem::remove(session / name);
    }
    session.Write("record.txt", "a.wav\nb.wav\n");
    session.Write("play.txt", "");
  }
  // The stamp the clock gives now.
  static std::int32_t Now() { return static_cast<std::int32_t>(std::time(nullptr) - 1349885340); }
};

TEST_F(TakeMenuConsole, FullMenuText) {
  const std::string out = Prompt(SimCardParams(2, 2, 2, 1024) + "clock\thc\nmeter\t0\no\t4096\n", "R\nwhat\ndel\n");
  const std::string menu =
      "\nRecording finished.  Enter a take handling command.\n\n"
      "Current take files:\n\t'aud' to audition current take\n\t'del' to delete current take\n"
      "\nChange files in record.txt (permanently):\n"
      "\t'rep' to replace files in record.txt with current take\n"
      "\t'ins' to insert new take into record.txt files\n\t'cin' to make a backup copy before inserting\n"
      "\nMake new files using record.txt names as base:\n"
      "\t'awp' to append base name, with padding (audio in sync)\n"
      "\t'aws' to append base name, with time stamp\n\t'app' to append base name, no padding or time stamp\n"
      "\nMake file names automatically:\n\t'pad' to save as padded files (audio in sync)\n"
      "\t'stp' to save with time stamp\n\n";
  const std::size_t first = out.find(menu);
  ASSERT_NE(first, std::string::npos) << out;
  EXPECT_EQ(out.substr(first + menu.size(), menu.size()), menu) << "an unknown word shows the menu again";
}

TEST_F(TakeMenuConsole, DeleteLeavesNothingBehind) {
  const std::string out = Record("x\ndel\n");
  EXPECT_NE(out.find(kShortMenu + kShortMenu + "Play: "), std::string::npos) << out;
  EXPECT_EQ(session.Files(), FilesBeforeTakes());
}

TEST_F(TakeMenuConsole, EndOfInputKeepsTheTakes) {
  Record("");
  EXPECT_EQ(last.status, 0);
  EXPECT_EQ(Samples(Take(1)), Recorded(0, 0));
  EXPECT_EQ(Samples(Take(2)), Recorded(1, 0));
}

TEST_F(TakeMenuConsole, ReplaceMakesThePaddedTakesTheRecordListFiles) {
  Record("rep\n");
  EXPECT_EQ(Samples("a.wav"), Recorded(0, kRecordStart));
  EXPECT_EQ(Samples("b.wav"), Recorded(1, kRecordStart));
  std::vector<std::string> expected = FilesBeforeTakes();
  expected.insert(expected.begin(), {"a.wav", "b.wav"});
  EXPECT_EQ(session.Files(), expected) << "the takes became the files; nothing else is left";
}

TEST_F(TakeMenuConsole, ReplaceAsksBeforeOverwritingAndCanGoBack) {
  OldFile("a.wav", 500);
  const Bytes old = ReadBytes(session / "a.wav");
  const std::string question =
      "-------------------------\n1 file exists!\nEnter 'w' to overwrite\n"
      "Enter 'W' to overwrite and don't ask again.\nEnter 'r' to return to previous menu.\n";
  const std::string out = Record("rep\nr\nrep\nw\n");
  EXPECT_NE(out.find(kShortMenu + question + kShortMenu + question + "Play: "), std::string::npos) << out;
  EXPECT_NE(ReadBytes(session / "a.wav"), old);
  EXPECT_EQ(Samples("a.wav"), Recorded(0, kRecordStart));
}

TEST_F(TakeMenuConsole, DontAskAgainLastsForTheSession) {
  OldFile("a.wav", 500);
  const std::string out =
      Prompt(SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\no\t4096\n", "R\nrep\nW\nR\nrep\n");
  // The first "rep" asks about a.wav; after "W" the second, with a.wav and b.wav there, does not.
  EXPECT_NE(out.find("1 file exists!"), std::string::npos) << out;
  EXPECT_EQ(out.find("files exists!"), std::string::npos) << out;
  EXPECT_EQ(out.find("1 file exists!"), out.rfind("1 file exists!"));
}

TEST_F(TakeMenuConsole, SafetyModeAsksAndTakesTheAnswerAsTheNextCommand) {
  OldFile("a.wav", 500);
  const Bytes old = ReadBytes(session / "a.wav");
  const std::string safety =
      "The file safety switch is on.\n"
      "Do you really want to replace a whole file rather than insert? (y,n)\n";
  const std::string out = Record("rep\nn\nrep\ndel\n", "safe\t1\n");
  EXPECT_NE(out.find(kShortMenu + safety + kShortMenu + safety + "Play: "), std::string::npos) << out;
  EXPECT_EQ(ReadBytes(session / "a.wav"), old);
  EXPECT_TRUE(Matching("audio_ch_.*").empty()) << "\"del\" given as the answer deleted the takes";
}

TEST_F(TakeMenuConsole, CommandsThatKeepTheTakesUnderNewNames) {
  // Each command from each record start: the files its takes become, and whether they are
  // padded to start at position 0.
  struct Case {
    std::string answers;
    int start;
    std::string input1, input2;  // the takes' new names, as patterns
    bool padded;
  };
  const Case cases[] = {
      {"app\nv1\n", kRecordStart, "a_v1\\.wav", "b_v1\\.wav", false},
      {"aws\nv1\n", kRecordStart, "a_v1_stp_10240\\.wav", "b_v1_stp_10240\\.wav", false},
      {"awp\nv2\n", kRecordStart, "a_v2\\.wav", "b_v2\\.wav", true},
      {"stp\n", 0, "audio_ch_1_[0-9]+_stp_0\\.wav", "audio_ch_2_[0-9]+_stp_0\\.wav", false},
      {"stp\n", kRecordStart, "audio_ch_1_[0-9]+_stp_10240\\.wav", "audio_ch_2_[0-9]+_stp_10240\\.wav", false},
      {"pad\n", kRecordStart, "audio_ch_1_[0-9]+\\.wav", "audio_ch_2_[0-9]+\\.wav", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers + " from " + std::to_string(c.start));
    Reset();
    const std::string out = Record(c.answers, "", c.start);
    const std::vector<std::string> first = Matching(c.input1), second = Matching(c.input2);
    ASSERT_EQ(first.size(), 1u) << out;
    ASSERT_EQ(second.size(), 1u) << out;
    const std::int64_t padding = c.padded ? c.start : 0;
    EXPECT_EQ(Samples(first[0]), Recorded(0, padding));
    EXPECT_EQ(Samples(second[0]), Recorded(1, padding));
    EXPECT_EQ(session.Files().size(), FilesBeforeTakes().size() + 2) << "nothing else is left";
    if (c.answers.starts_with("a")) {
      EXPECT_NE(out.find("Enter characters to append with.\n"), std::string::npos);
      EXPECT_NE(out.find(" -> " + first[0] + "\n"), std::string::npos) << out;
    }
  }
}

TEST_F(TakeMenuConsole, InsertWithoutCrossfadeReplacesExactlyTheTakesSpan) {
  OldFile("a.wav", 40000);
  Record("ins\n");
  const std::vector<std::int32_t> a = Samples("a.wav");
  ASSERT_EQ(a.size(), 40000u);
  for (std::size_t f = 0; f < a.size(); ++f) {
    const bool inTake = f >= kRecordStart && f < kRecordStart + kTakeFrames;
    ASSERT_EQ(a[f], inTake ? InputSample(static_cast<std::int64_t>(f) - kRecordStart, 0)
                           : OldSample(static_cast<std::int64_t>(f)))
        << f;
  }
  // b.wav did not exist: the padded take became it.
  EXPECT_EQ(Samples("b.wav"), Recorded(1, kRecordStart));
  EXPECT_TRUE(Matching("audio_ch_.*").empty()) << "the takes are gone";
}

TEST_F(TakeMenuConsole, InsertWithCrossfades) {
  OldFile("a.wav", 40000);
  OldFile("b.wav", 40000);
  // 10 ms at 48000 Hz: fades of 480 frames.
  Record("ins\n", "xfade\t10.0\n");
  const std::vector<std::int32_t> a = Samples("a.wav");
  ASSERT_EQ(a.size(), 40000u);
  const auto fade = [](std::int32_t out, std::int32_t in, int i) {
    const double theta = (i / 480.0) * 1.570796327;
    return static_cast<std::int32_t>(std::trunc(out * std::cos(theta) + in * std::sin(theta)));
  };
  const int s = kRecordStart;
  EXPECT_EQ(a[s - 1], OldSample(s - 1));
  EXPECT_EQ(a[s], OldSample(s)) << "the fade starts on the old audio";
  EXPECT_EQ(a[s + 479], fade(OldSample(s + 479), InputSample(479, 0), 479));
  EXPECT_EQ(a[s + 480], InputSample(480, 0));
  const int seam = s + kTakeFrames - 480;
  EXPECT_EQ(a[seam - 1], InputSample(kTakeFrames - 481, 0));
  EXPECT_EQ(a[seam], InputSample(kTakeFrames - 480, 0)) << "the fade-out starts on the take";
  EXPECT_EQ(a[seam + 100], fade(InputSample(kTakeFrames - 380, 0), OldSample(seam + 100), 100));
  EXPECT_EQ(a[s + kTakeFrames], OldSample(s + kTakeFrames));
}

TEST_F(TakeMenuConsole, TakesWhoseInsertionFailedAreKept) {
  OldFile("a.wav", 5000);
  session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\ne\t10240\no\t20480\n");
  // Room for the takes (30764 bytes) but not for a file of the record start plus the take.
  last = session.Run("R\nins\n", std::chrono::seconds(120), 40000);
  EXPECT_EQ(last.status, 0);
  EXPECT_NE(last.out.find("Can't write to a.wav: File too large\n"), std::string::npos) << last.out;
  EXPECT_NE(last.out.find("was not padded; it is unchanged\n"), std::string::npos);
  EXPECT_EQ(Samples(Take(1)), Recorded(0, 0)) << "the take is still whole";
  EXPECT_EQ(Samples(Take(2)), Recorded(1, 0));
  EXPECT_FALSE(session.Exists("b.wav"));
}

TEST_F(TakeMenuConsole, CopyBeforeInserting) {
  OldFile("a.wav", 40000);
  const Bytes old = ReadBytes(session / "a.wav");
  const std::string out = Record("cin\n");
  const std::vector<std::string> backups = Matching("a_bkup_[0-9]+\\.wav");
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(ReadBytes(session / backups[0]), old);
  EXPECT_NE(out.find("Copied a.wav to " + backups[0] + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("File b.wav does not exist\n"), std::string::npos);
  EXPECT_EQ(Samples("a.wav")[kRecordStart], InputSample(0, 0));
  EXPECT_EQ(Samples("b.wav"), Recorded(1, kRecordStart));
}

TEST_F(TakeMenuConsole, AuditionAQuarterThenDecide) {
  session.Write("play.txt", "-\nold2.wav\n");
  session.Write("record.txt", "a.wav\n-\n");
  OldFile("old2.wav", 40000);
  const std::string out = Record("aud\n2\ndel\n", "", kRecordStart, true);
  // A quarter of 10240 frames is 2560: the second quarter plays 12800..15360.
  EXPECT_NE(out.find("0 = hear whole take   1 = 1st 1/4   2 = 2nd 1/4   3 = 3rd 1/4   4 = 4th 1/4\n"
                     "Playing...\nAuditioning...\nplayback start = 0.27 sec\nplayback stop  = 0.32 sec\n"),
            std::string::npos)
      << out;
  // Input 1's take plays on output 1 from the record start; track 2 plays its own file.
  const std::vector<std::int32_t> played = Unpack24(ReadBytes(session / "card-out.raw"));
  ASSERT_GT(played.size(), 2u * (4096 + 100));
  EXPECT_EQ(played[2 * 4096], InputSample(2560, 0));
  EXPECT_EQ(played[2 * 4096 + 1], OldSample(12800));
  EXPECT_EQ(session.Files(), (std::vector<std::string>{"card-in.raw", "card-out.raw", "old2.wav", "param.txt",
                                                       "play.txt", "record.txt"}))
      << "the menu came back after the audition and \"del\" settled the takes";
}

TEST_F(TakeMenuConsole, TakesFromRecordingAtThePlayStartUseTheirOwnRecordStart) {
  // "ri" records from the play start (20480); the record start it had (4096) comes back before
  // the audition runs, but the takes keep the place they were recorded at.
  const std::string out = Prompt(SimCardParams(2, 2, 2, 1024) +
                                     "int\t0\nclock\thc\nmeter\t0\nproll\t0.1\n"
                                     "i\t20480\ne\t4096\no\t30720\n",
                                 "ri\naud\n0\npad\ns\n");
  EXPECT_NE(Saved().find("\ni\t20480\no\t30720\ne\t4096\n"), std::string::npos);
  const std::vector<std::string> padded = Matching("audio_ch_1_[0-9]+\\.wav");
  ASSERT_EQ(padded.size(), 1u);
  EXPECT_EQ(Samples(padded[0]).size(), 20480u + 10240u) << "padded by the run's record start";
}

}  // namespace
}  // namespace tapeloom::test

namespace tapeloom::test {
namespace {

TEST_F(TakeMenuConsole, RepeatedStampsNeverReplaceAFile) {
  // A clock without a battery gives stamps it gave before. Files under every name that the
  // stamps of the coming minute give are never replaced, whatever the menu is asked to do.
  struct Case {
    std::string answers;
    int start;
    std::vector<std::string> planted;  // patterns, %d for the stamp
  };
  const std::vector<std::string> all = {"audio_ch_1_%d.wav", "audio_ch_2_%d_stp_0.wav", "a_bkup_%d.wav"};
  const Case cases[] = {
      {"stp\n", 0, {"audio_ch_1_%d_stp_0.wav", "audio_ch_2_%d_stp_0.wav"}},
      {"pad\n", kRecordStart, {"audio_ch_1_%d.wav", "audio_ch_2_%d.wav"}},
      {"cin\n", kRecordStart, {"a_bkup_%d.wav"}},
      {"cin\n", 0, {"a_bkup_%d.wav", "b_bkup_%d.wav"}},
      {"ins\n", kRecordStart, all},
      {"app\nv1\n", kRecordStart, all},
      {"aws\nv1\n", kRecordStart, all},
      {"awp\nv1\n", kRecordStart, all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers + " from " + std::to_string(c.start));
    Reset();
    OldFile("a.wav", 40000);
    std::map<std::string, std::string> planted;
    const std::int32_t now = Now();
    for (std::int32_t stamp = now - 2; stamp <= now + 60; ++stamp) {
      for (const std::string& pattern : c.planted) {
        std::string name = pattern;
        name.replace(name.find("%d"), 2, std::to_string(stamp));
        planted[name] = "an earlier file called " + name;
        session.Write(name, planted[name]);
      }
    }
    const std::string out = Record(c.answers, "", c.start);
    EXPECT_EQ(out.find("Can't"), std::string::npos) << out;
    for (const auto& [name, content] : planted) ASSERT_EQ(session.Read(name), content) << name;
    EXPECT_TRUE(Matching("audio_ch_.*_stp_" + std::to_string(kRecordStart) + "\\.wav").empty())
        << "every take was settled";
  }
}

TEST_F(TakeMenuConsole, ABackupThatFailsLeavesNoFileUnderItsNameAndTheFileUnchanged) {
  OldFile("a.wav", 100000);  // 300 kB: more than the limit below lets any file hold
  const Bytes old = ReadBytes(session / "a.wav");
  session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\ne\t10240\no\t20480\n");
  last = session.Run("R\ncin\n", std::chrono::seconds(120), 100000);
  EXPECT_EQ(last.status, 0);
  EXPECT_TRUE(std::regex_search(last.out, std::regex("Can't write to a_bkup_[0-9]+\\.wav\\.tmp: File too large\n"
                                                     "Cannot create backup file a_bkup_[0-9]+\\.wav\n")))
      << last.out;
  EXPECT_EQ(last.out.find("Copied"), std::string::npos);
  EXPECT_TRUE(Matching(".*bkup.*").empty()) << "neither a backup nor its temporary";
  EXPECT_EQ(ReadBytes(session / "a.wav"), old) << "without its backup the file is not changed";
  EXPECT_EQ(Samples(Take(1)), Recorded(0, 0)) << "its take is kept";
  EXPECT_EQ(Samples("b.wav"), Recorded(1, kRecordStart)) << "b.wav did not exist: no backup needed";
}

TEST_F(TakeMenuConsole, ABackupKilledWhileItIsWrittenLeavesNoFileUnderItsName) {
  // Long enough that the copy is caught in the act.
  const std::size_t frames = 12 * 1000 * 1000;
  Bytes big = WaveBuilder().DataSize(static_cast<std::uint32_t>(3 * frames)).Build();
  big.resize(44 + 3 * frames);
  for (std::size_t i = 44; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 131 + i / 977);
  WriteBytes(session / "a.wav", big);
  session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\ne\t10240\no\t20480\n");
  bool killed = false;
  last = session.Run("R\ncin\n", std::chrono::seconds(120), std::nullopt, [&](pid_t pid) {
    if (!killed && !Matching(".*bkup.*").empty()) {
      ::kill(pid, SIGKILL);
      killed = true;
    }
  });
  ASSERT_TRUE(killed) << "no backup was begun";
  EXPECT_EQ(last.status, 128 + SIGKILL);
  for (const std::string& name : Matching("a_bkup_[0-9]+\\.wav")) {
    EXPECT_TRUE(ReadBytes(session / name) == big) << "a backup under its name is whole";
  }
  EXPECT_TRUE(ReadBytes(session / "a.wav") == big);
  EXPECT_EQ(Samples(Take(1)), Recorded(0, 0));
}

TEST_F(TakeMenuConsole, FilesAndLinksUnderTheNamesOfTemporariesAreLeftAlone) {
  struct Case {
    const char* temporary;
    const char* answers;
    const char* done;  // what the command printed when it had done its work
  };
  const Case cases[] = {
      {"temp_pad.wav", "pad\n", ""},
      {"xfade_temp1.wav", "ins\n", ""},
      {"xfade_temp2.wav", "ins\n", ""},
      {"param.txt.tmp", "del\ns\n", "\nStored Settings\n"},
  };
  for (const Case& c : cases) {
    for (const bool link : {false, true}) {
      SCOPED_TRACE(std::string(c.temporary) + (link ? " as a link" : " as a file"));
      Reset();
      OldFile("a.wav", 40000);
      OldFile("b.wav", 40000);
      session.Write("elsewhere.txt", "the file the link points to");
      if (link) {
        std::filesystem::create_symlink(session / "elsewhere.txt", session / c.temporary);
      } else {
        session.Write(c.temporary, "a user's file");
      }
      session.Write("card-out.raw", "");
      session.Write("param.txt", "");
      const std::vector<std::string> before = session.Files();
      const std::string out = Record(c.answers, "xfade\t10.0\n");
      EXPECT_NE(out.find(c.done), std::string::npos) << out;
      EXPECT_EQ(out.find("Can't"), std::string::npos) << out;
      EXPECT_EQ(session.Read("elsewhere.txt"), "the file the link points to");
      EXPECT_EQ(std::filesystem::is_symlink(session / c.temporary), link);
      if (!link) {
        EXPECT_EQ(session.Read(c.temporary), "a user's file");
      }
      if (std::string(c.answers) == "ins\n") {
        EXPECT_EQ(Samples("a.wav")[kRecordStart + 480], InputSample(480, 0)) << "the take went in";
        EXPECT_EQ(session.Files(), before) << "no temporary is left and the takes are gone";
      }
      if (std::string(c.answers) == "pad\n") {
        EXPECT_EQ(Samples(Take(1)), Recorded(0, kRecordStart)) << "the take was padded";
      }
    }
  }
}

TEST_F(TakeMenuConsole, TakesWhoseWritingFailedAreNamedAndLeftAsTheyAre) {
  // Room for the first blocks of each take only.
  for (const char* answers : {"rep\n", "ins\n", "pad\n", "stp\n", "awp\nv1\n"}) {
    SCOPED_TRACE(answers);
    Reset();
    session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\ne\t10240\no\t20480\n");
    last = session.Run(std::string("R\n") + answers, std::chrono::seconds(120), 20000);
    EXPECT_EQ(last.status, 0);
    for (int channel : {1, 2}) {
      const std::string take = Take(channel);
      EXPECT_NE(last.out.find(take + " was left as it is: writing it failed during the recording (File too large)\n"),
                std::string::npos)
          << last.out;
      EXPECT_EQ(ReadBytes(session / take).size(), 20000u) << "what was written is kept";
    }
    EXPECT_FALSE(session.Exists("a.wav"));
    EXPECT_FALSE(session.Exists("b.wav"));
  }
}

}  // namespace
}  // namespace tapeloom::test
