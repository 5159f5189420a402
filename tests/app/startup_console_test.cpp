// Start-up of the real program on the simulated card: the banner, param.txt or the first-run
// questions, the list files, the configuration block, the driver report, the exit statuses.
#include <gtest/gtest.h>

#include "support/console_harness.h"

namespace tapeloom::test {
namespace {

const std::string kBanner = "\nTapeloom 3.76 (r52)\n";
const std::string kDashes = "-------------------------\n";

std::string Configuration(const std::string& device, int rate, int buf, int inputs, int outputs, int ch) {
  return kDashes + "Requested Parameters:\nDevice\t" + device + "\nRate\t" + std::to_string(rate) + "\nBuffer\t" +
         std::to_string(buf) + "\n" + kDashes + "\nConfiguration:\nInterface inputs  = " + std::to_string(inputs) +
         "\nInterface outputs = " + std::to_string(outputs) + "\nTracks (maximum)  = " + std::to_string(ch) + "\n";
}

std::string DriverReport(int period, int periods, int rate, int outputs, int inputs) {
  const std::string columns = std::to_string(period) + "\t" + std::to_string(periods) + "\t" + std::to_string(rate);
  return "\nReturned Driver Parameters:\n\tBuffer\tPeriods\tRate\tChannels\nPlay\t" + columns + "\t" +
         std::to_string(outputs) + "\nRecord\t" + columns + "\t" + std::to_string(inputs) +
         "\n-----------------------------------------\n\n";
}

const std::string kFirstRunQuestions =
    "\nThe param.txt file was not found.\nParameters are stored in this file.\n"
    "\nEnter 'c' to create this file now or 'x' to exit\n";

const std::string kMissingRecordList = kDashes +
                                       "Could not find the record file list called record.txt\n"
                                       "Created a file called record.txt that you will need.\n"
                                       "Put a list of wave files in this list, one per line.\n"
                                       "Each line will be assigned to an input hardware channel.\n"
                                       "Use a '-' on a line to skip over channel.\n" +
                                       kDashes;

const std::string kMissingPlaylist = kDashes +
                                     "Cound not find the playlist file called play.txt\n"
                                     "Created a file called play.txt that you will need.\n"
                                     "Put a list of wave files in this list, one per line.\n"
                                     "Each line will be assigned to an output hardware channel.\n"
                                     "Use a '-' on a line to skip over channel.\n" +
                                     kDashes;

class StartupConsole : public testing::Test {
 protected:
  void WriteLists() const {
    session.Write("record.txt", "take.wav\n");
    session.Write("play.txt", "");
  }
  ConsoleSession session;
};

TEST_F(StartupConsole, NormalStartAndExit) {
  session.Write("param.txt", SimCardParams(2, 2, 4));
  WriteLists();
  const RunResult run = session.Run("x\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBanner + Configuration("tapeloom_sim", 48000, 1024, 2, 2, 4) +
                         DriverReport(1024, 4, 48000, 2, 2) + ZeroStatusDisplay());
  EXPECT_EQ(run.err, "");
}

TEST_F(StartupConsole, EndOfInputEndsTheSessionCleanly) {
  session.Write("param.txt", SimCardParams());
  WriteLists();
  const RunResult run = session.Run("");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(AfterDriverReport(run.out), ZeroStatusDisplay());
}

TEST_F(StartupConsole, FirstRunAsksSetsUpTheCardAndSavesSevenLines) {
  WriteLists();
  const RunResult run = session.Run("c\n4\n2\n8\ntapeloom_sim\n2\nx\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBanner + kFirstRunQuestions + "\nEnter the number of audio interface INPUTS: " +
                         "\nEnter the number of audio interface OUTPUTS: " +
                         "\nEnter the maxiumum number of audio TRACKS needed: " +
                         "\nEnter soundcard device name or 'd' for default: " +
                         "\nEnter project sample rate or\n1 = 44100,  2 = 48000,  3 = 88200,  4 = 96000\n" +
                         Configuration("tapeloom_sim", 48000, 1024, 4, 2, 8) + DriverReport(1024, 4, 48000, 2, 4) +
                         "Created param.txt file\n" + ZeroStatusDisplay());
  EXPECT_EQ(session.Read("param.txt"),
            "dv\ttapeloom_sim\nsr\t48000\ninputs\t4\noutputs\t2\nch\t8\nbuf\t1024\nint\t1\n");
}

TEST_F(StartupConsole, AFirstRunRateOutsideWhatACardTakesKeepsTheDefaultAndSaysSo) {
  WriteLists();
  const RunResult run = session.Run("c\n2\n2\n2\ntapeloom_sim\n0\nx\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\n0 is not a sample rate from 8000 to 384000 Hz: the rate stays at 44100 Hz.\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(session.Read("param.txt").find("sr\t44100\n"), std::string::npos);
}

TEST_F(StartupConsole, FirstRunDeclinedCreatesNothing) {
  const RunResult run = session.Run("later\nx\n");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, kBanner + kFirstRunQuestions);
  EXPECT_EQ(session.Files(), std::vector<std::string>{"card-in.raw"});
}

TEST_F(StartupConsole, FirstRunEndOfInputIsDeclined) {
  EXPECT_EQ(session.Run("").status, 2);
  EXPECT_EQ(session.Run("c\n4\n").status, 2);
  EXPECT_FALSE(session.Exists("param.txt"));
}

TEST_F(StartupConsole, FirstRunOnAMissingDeviceSavesNothing) {
  WriteLists();
  const RunResult run = session.Run("c\n2\n2\n2\nno_such_card\n2\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Playback device could not be opened: No such file or directory\n"), std::string::npos)
      << run.err;
  EXPECT_FALSE(session.Exists("param.txt")) << "the questions come again at the next start";
}

TEST_F(StartupConsole, MissingListFilesAreCreatedEmpty) {
  session.Write("param.txt", SimCardParams());
  const RunResult run = session.Run("x\n");
  EXPECT_EQ(run.status, 0);
  // Each notice closes with its own line of dashes, before those of the configuration.
  const std::string expected = kBanner + kMissingRecordList + kMissingPlaylist + kDashes + "Requested Parameters:";
  EXPECT_EQ(run.out.substr(0, expected.size()), expected);
  EXPECT_EQ(session.Read("record.txt"), "");
  EXPECT_EQ(session.Read("play.txt"), "");
}

TEST_F(StartupConsole, EmptyRecordListIsNotedAndEmptyPlaylistIsNot) {
  session.Write("param.txt", SimCardParams());
  session.Write("record.txt", "");
  session.Write("play.txt", "");
  const RunResult run = session.Run("x\n");
  EXPECT_EQ(run.out.substr(0, kBanner.size() + 3 * kDashes.size() + 36),
            kBanner + kDashes + "Note: The record.txt file is empty!\n" + kDashes + kDashes);
}

TEST_F(StartupConsole, AMissingListInUseIsNamedAndTheDefaultFileCreatedOnlyWhenThereIsNone) {
  // The messages name the list in use, the file created is always record.txt or play.txt, and a
  // user's record.txt and play.txt, or links of those names with the files they point to, are
  // left exactly as they are.
  enum class Defaults { kNone, kFiles, kLinks };
  for (const Defaults defaults : {Defaults::kNone, Defaults::kFiles, Defaults::kLinks}) {
    SCOPED_TRACE(static_cast<int>(defaults));
    ConsoleSession here;
    here.Write("param.txt", SimCardParams() + "rec\t1\ttakes.txt\nplay\t1\tsongs.txt\n");
    const std::string records = defaults == Defaults::kLinks ? "kept-records.txt" : "record.txt";
    const std::string plays = defaults == Defaults::kLinks ? "kept-plays.txt" : "play.txt";
    const std::string recordText = defaults == Defaults::kNone ? "" : "vocal.wav\nguitar.wav\n";
    const std::string playText = defaults == Defaults::kNone ? "" : "drums.wav\n";
    if (defaults != Defaults::kNone) {
      here.Write(records, recordText);
      here.Write(plays, playText);
    }
    if (defaults == Defaults::kLinks) {
      std::filesystem::create_symlink(here / records, here / "record.txt");
      std::filesystem::create_symlink(here / plays, here / "play.txt");
    }
    const RunResult run = here.Run("x\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Could not find the record file list called takes.txt\n"
                           "Created a file called record.txt that you will need.\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("Cound not find the playlist file called songs.txt\n"
                           "Created a file called play.txt that you will need.\n"),
              std::string::npos);
    EXPECT_EQ(here.Read("record.txt"), recordText);
    EXPECT_EQ(here.Read("play.txt"), playText);
    EXPECT_EQ(std::filesystem::is_symlink(here / "record.txt"), defaults == Defaults::kLinks);
    EXPECT_FALSE(here.Exists("takes.txt"));
    EXPECT_FALSE(here.Exists("songs.txt"));
  }
}

TEST_F(StartupConsole, CountsResolvedFromAnEmptySettingsFile) {
  // An existing but empty param.txt: every default, counts of 2, and it is not rewritten.
  session.Write("param.txt", "");
  WriteLists();
  const RunResult run = session.Run("x\n");
  EXPECT_NE(run.out.find(Configuration("default", 44100, 1024, 2, 2, 2)), std::string::npos);
  EXPECT_EQ(session.Read("param.txt"), "");
}

TEST_F(StartupConsole, DeviceThatDoesNotExist) {
  session.Write("param.txt", "dv\tno_such_card\nsr\t48000\n");
  WriteLists();
  const RunResult run = session.Run("x\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kBanner + Configuration("no_such_card", 48000, 1024, 2, 2, 2));
  const std::string message = "Playback device could not be opened: No such file or directory\n";
  ASSERT_GE(run.err.size(), message.size());
  EXPECT_EQ(run.err.substr(run.err.size() - message.size()), message);
}

TEST_F(StartupConsole, FormatRefusedByPlayback) {
  session.Write("param.txt", "dv\ttapeloom_sim_play_no_s24\nsr\t48000\n");
  WriteLists();
  const RunResult run = session.Run("x\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Problem setting playback format: Invalid argument\n"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("Returned Driver Parameters"), std::string::npos);
}

TEST_F(StartupConsole, FormatRefusedByCapture) {
  session.Write("param.txt", "dv\ttapeloom_sim_rec_no_s24\nsr\t48000\n");
  WriteLists();
  const RunResult run = session.Run("x\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Problem setting recording format: Invalid argument\n"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("Returned Driver Parameters"), std::string::npos);
}

TEST_F(StartupConsole, CaptureThatCannotOpen) {
  session.Write("param.txt", SimCardParams());
  WriteLists();
  std::filesystem::remove(session / "card-in.raw");  // the simulated capture reads this file
  const RunResult run = session.Run("x\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("unable to open pcm record device: No such file or directory\n"), std::string::npos);
}

TEST_F(StartupConsole, PeriodRequestIsLimitedAndTheLimitIsSaved) {
  session.Write("param.txt", SimCardParams(2, 2, 2, 8));
  WriteLists();
  RunResult run = session.Run("s\n");
  EXPECT_NE(run.out.find("Buffer\t8\n"), std::string::npos) << "the request is shown as it was given";
  EXPECT_NE(run.out.find(DriverReport(16, 4, 48000, 2, 2)), std::string::npos);
  EXPECT_NE(session.Read("param.txt").find("\nbuf\t16\n"), std::string::npos);

  session.Write("param.txt", SimCardParams(2, 2, 2, 5000));
  run = session.Run("x\n");
  EXPECT_NE(run.out.find(DriverReport(4096, 4, 48000, 2, 2)), std::string::npos);
}

TEST_F(StartupConsole, ChannelCountsReachTheDevice) {
  session.Write("param.txt", "dv\ttapeloom_sim\nsr\t44100\ninputs\t6\noutputs\t0\n");
  WriteLists();
  const RunResult run = session.Run("x\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find(Configuration("tapeloom_sim", 44100, 1024, 6, 0, 6)), std::string::npos);
  EXPECT_NE(run.out.find("Record\t1024\t4\t44100\t6\n"), std::string::npos);
}

// Words on the command line answer without starting a session: nothing is asked, read or
// written, even where a first start would create param.txt at the first "c".
TEST(CommandLine, KnownWordsAnswerAndAnyOtherIsRefusedWithoutStartingASession) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    bool usageOnStandardOutput;
  };
  const Case cases[] = {
      {{"--version"}, 0, false},
      {{"--help"}, 0, true},
      {{"--verbose"}, 2, false},
      {{"-h"}, 2, false},
      {{"version"}, 2, false},
      {{""}, 2, false},
      {{"--help", "--version"}, 2, false},
      {{"--version", "--version"}, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    ConsoleSession session;
    const RunResult run = session.RunWithArguments(c.arguments, "c\n2\n2\n4\n1024\ntapeloom_sim\n48000\n");
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(session.Files(), std::vector<std::string>{"card-in.raw"}) << "a session started";
    if (c.arguments == std::vector<std::string>{"--version"}) {
      EXPECT_EQ(run.out, "Tapeloom 3.76 (r52)\n");
      EXPECT_EQ(run.err, "");
    } else if (c.usageOnStandardOutput) {
      EXPECT_EQ(run.out.rfind("Usage: tapeloom [--help | --version]\n", 0), 0u) << run.out;
      EXPECT_NE(run.out.find("param.txt"), std::string::npos);
      EXPECT_NE(run.out.find("man tapeloom"), std::string::npos);
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err.rfind("tapeloom: ", 0), 0u) << run.err;
      EXPECT_NE(run.err.find("Usage: tapeloom [--help | --version]\n"), std::string::npos) << run.err;
    }
  }
}

}  // namespace
}  // namespace tapeloom::test
