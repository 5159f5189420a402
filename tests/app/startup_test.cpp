// Start-up of the real program on the simulated card, and its command line.
#include <gtest/gtest.h>

#include "app/startup.h"
#include "support/console_harness.h"
#include "support/typed_input.h"

namespace tapeloom::test {
namespace {

const std::string kBanner = "\nTapeloom 3.76 (r52)\n", kDashes = "-------------------------\n";
const std::string kQuestions =
    "\nThe param.txt file was not found.\nParameters are stored in this file.\n"
    "\nEnter 'c' to create this file now or 'x' to exit\n";

std::string Configuration(const std::string& device, int rate, int buf, int inputs, int outputs, int ch) {
  return kDashes + "Requested Parameters:\nDevice\t" + device + "\nRate\t" + std::to_string(rate) + "\nBuffer\t" +
         std::to_string(buf) + "\n" + kDashes + "\nConfiguration:\nInterface inputs  = " + std::to_string(inputs) +
         "\nInterface outputs = " + std::to_string(outputs) + "\nTracks (maximum)  = " + std::to_string(ch) + "\n";
}

std::string DriverReport(int period, int rate, int outputs, int inputs) {
  const std::string columns = std::to_string(period) + "\t4\t" + std::to_string(rate) + "\t";
  return "\nReturned Driver Parameters:\n\tBuffer\tPeriods\tRate\tChannels\nPlay\t" + columns +
         std::to_string(outputs) + "\nRecord\t" + columns + std::to_string(inputs) +
         "\n-----------------------------------------\n\n";
}

std::string MissingList(const std::string& says, const std::string& file, const std::string& direction) {
  return kDashes + says + " " + file + "\nCreated a file called " + file +
         " that you will need.\nPut a list of wave files in this list, one per line.\n"
         "Each line will be assigned to an " +
         direction + " hardware channel.\nUse a '-' on a line to skip over channel.\n" + kDashes;
}

TEST(StartupConsole, ScenariosOnTheSimulatedCard) {
  struct Case {
    std::optional<std::string> params;   // param.txt, or none: the first start
    std::optional<std::string> records;  // record.txt (and an empty play.txt), or none
    std::string typed;
    int status;
    std::vector<std::string> printed;           // the output starts with the first, ends with the last
    std::string err = "";                       // found in standard error; empty: nothing there
    std::optional<std::string> saved = params;  // found in param.txt afterwards; nullopt: none
    bool capture = true;                        // the simulated capture's file is there
  };
  const std::string take = "take.wav\n";
  const std::string asked = kBanner + kQuestions +
                            "\nEnter the number of audio interface INPUTS: \nEnter the number "
                            "of audio interface OUTPUTS: \nEnter the maxiumum number of audio TRACKS needed: \nEnter "
                            "soundcard device name or 'd' for default: \nEnter project sample rate or\n1 = 44100,  "
                            "2 = 48000,  3 = 88200,  4 = 96000\n";
  // clang-format off
  const Case cases[] = {
      {SimCardParams(2, 2, 4), take, "", 0, {kBanner + Configuration("tapeloom_sim", 48000, 1024, 2, 2, 4) +
       DriverReport(1024, 48000, 2, 2) + ZeroStatusDisplay()}},
      {std::nullopt, take, "c\n4\n2\n8\ntapeloom_sim\n2\nx\n", 0, {asked + Configuration("tapeloom_sim", 48000, 1024,
       4, 2, 8) + DriverReport(1024, 48000, 2, 4) + "Created param.txt file\n" + ZeroStatusDisplay()},
       "", "dv\ttapeloom_sim\nsr\t48000\ninputs\t4\noutputs\t2\nch\t8\nbuf\t1024\nint\t1\n"},
      {std::nullopt, std::nullopt, "later\nx\n", 2, {kBanner + kQuestions}},
      // Missing lists are created empty; each notice closes with its own dashes.
      {SimCardParams(), std::nullopt, "x\n", 0, {kBanner + MissingList("Could not find the record file list called",
       "record.txt", "input") + MissingList("Cound not find the playlist file called", "play.txt", "output") + kDashes +
       "Requested Parameters:", ZeroStatusDisplay()}},
      // An empty record list is noted, an empty playlist not; a long period is limited.
      {SimCardParams(2, 2, 2, 5000), "", "x\n", 0, {kBanner + kDashes + "Note: The record.txt file is empty!\n" +
       kDashes + kDashes, DriverReport(4096, 48000, 2, 2) + ZeroStatusDisplay()}},
      {"dv\ttapeloom_sim_play_no_s24\n", take, "x\n", 1, {kBanner +
       Configuration("tapeloom_sim_play_no_s24", 44100, 1024, 2, 2, 2)},
       "Problem setting playback format: Invalid argument\n"},
      {"dv\ttapeloom_sim_rec_no_s24\n", take, "x\n", 1, {kBanner + Configuration("tapeloom_sim_rec_no_s24", 44100, 1024,
       2, 2, 2)}, "Problem setting recording format: Invalid argument\n"},
      // A first start on a device that does not exist saves nothing: the questions come again.
      {std::nullopt, take, "c\n2\n2\n2\nno_such_card\n2\n", 1, {asked + Configuration("no_such_card", 48000, 1024, 2,
       2, 2)}, "Playback device could not be opened: No such file or directory\n"},
      {SimCardParams(), take, "x\n", 1, {kBanner + Configuration("tapeloom_sim", 48000, 1024, 2, 2, 4)},
       "unable to open pcm record device: No such file or directory\n", SimCardParams(), false}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.value_or("none") + c.typed);
    ConsoleSession session;
    if (c.params) session.Write("param.txt", *c.params);
    if (c.records) session.Write("record.txt", *c.records);
    if (c.records) session.Write("play.txt", "");
    if (!c.capture) std::filesystem::remove(session / "card-in.raw");
    const RunResult run = session.Run(c.typed);
    EXPECT_EQ(run.status, c.status);
    std::size_t at = 0;
    for (const std::string& piece : c.printed) {
      at = run.out.find(piece, at);
      ASSERT_NE(at, std::string::npos) << piece << "\nin\n" << run.out;
    }
    EXPECT_TRUE(run.out.starts_with(c.printed.front()) && run.out.ends_with(c.printed.back())) << run.out;
    EXPECT_TRUE(c.err.empty() ? run.err.empty() : run.err.find(c.err) != std::string::npos) << run.err;
    EXPECT_TRUE(c.saved ? session.Read("param.txt").find(*c.saved) != std::string::npos : !session.Exists("param.txt"));
    // Declined, nothing is made; missing lists are otherwise made empty.
    EXPECT_TRUE(c.status == 2 ? session.Files() == std::vector<std::string>{"card-in.raw"}
                              : c.records || session.Read("record.txt") + session.Read("play.txt") == "");
  }
}

TEST(StartupConsole, AMissingListInUseIsNamedAndTheDefaultFileCreatedOnlyWhenThereIsNone) {
  // Only a missing record.txt or play.txt is made; a user's file or link of the name stays as it is.
  for (const std::string kept : {"", "files", "links"}) {
    SCOPED_TRACE(kept);
    ConsoleSession here;
    here.Write("param.txt", SimCardParams() + "rec\t1\ttakes.txt\nplay\t1\tsongs.txt\n");
    for (const char* name : {"record.txt", "play.txt"}) {
      if (kept == "files") here.Write(name, "vocal.wav\n");
      if (kept == "links") std::filesystem::create_symlink(here / "kept.txt", here / name);
    }
    if (kept == "links") here.Write("kept.txt", "vocal.wav\n");
    const RunResult run = here.Run("x\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("called takes.txt\nCreated a file called record.txt that you will need.\n"), run.out.npos);
    EXPECT_NE(run.out.find("called songs.txt\nCreated a file called play.txt that you will need.\n"), run.out.npos);
    EXPECT_EQ(here.Read("record.txt") + here.Read("play.txt"), kept.empty() ? "" : "vocal.wav\nvocal.wav\n");
    EXPECT_EQ(std::filesystem::is_symlink(here / "record.txt"), kept == "links");
    EXPECT_FALSE(here.Exists("takes.txt") || here.Exists("songs.txt"));
  }
}

// The first-run answers: numbers as C reads them (0x10, 010), an unreadable one passed over leaving its default,
// a device name of any length, the rate picks 1-4 and any other rate from 8000 to 384000 Hz.
TEST(FirstRunDialogue, AnswersFillTheSettings) {
  const std::string name(150, 'k');
  const auto refused = [](const std::string& rate) {
    return rate + " is not a sample rate from 8000 to 384000 Hz: the rate stays at 44100 Hz.\n";
  };
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"c 0x10 010 0 hw:1,0 4", "16 8 0 hw:1,0 96000", ""},
      {"yes c four 6 8 card 1", "-1 6 8 card 44100", ""},  // words before the "c" are passed over
      {"c 1 1 1 " + name + " 3", "1 1 1 " + name + " 88200", ""},
      {"c 1 1 1 d 2", "1 1 1 default 48000", ""},
      {"c 1 1 1 d rate", "1 1 1 default 44100", ""},
      {"c 1 1 1 d 5", "1 1 1 default 44100", refused("5")},
      {"c 1 1 1 d 0", "1 1 1 default 44100", refused("0")},
      {"c 1 1 1 d -48000", "1 1 1 default 44100", refused("-48000")},
      {"c 1 1 1 d 8000", "1 1 1 default 8000", ""},
      {"c 1 1 1 d 7999", "1 1 1 default 44100", refused("7999")},
      {"c 1 1 1 d 384000", "1 1 1 default 384000", ""},
      {"c 1 1 1 d 384001", "1 1 1 default 44100", refused("384001")}};
  for (const auto& [answers, settings, said] : cases) {
    SessionSettings s;
    TypedInput input(answers);
    testing::internal::CaptureStdout();
    RunFirstRunDialogue(s, input);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::to_string(s.inputs) + " " + std::to_string(s.outputs) + " " + std::to_string(s.ch) + " " + s.dv +
                  " " + std::to_string(s.sr),
              settings);
    EXPECT_EQ(printed.substr(printed.find("4 = 96000\n") + 10), said) << answers;
    EXPECT_EQ(s.firstRun, 1) << answers;
  }
}

// Words on the command line answer without starting a session, which would make param.txt here.
TEST(CommandLine, KnownWordsAnswerAndAnyOtherIsRefusedWithoutStartingASession) {
  const std::string usage = "Usage: tapeloom [--help | --version]\n";
  // The status, and standard output exactly or the usage at its start.
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {// clang-format off
      {{"--version"}, 0, "Tapeloom 3.76 (r52)\n"}, {{"--help"}, 0, usage}, {{"--verbose"}, 2, ""}, {{"-h"}, 2, ""},
      {{"version"}, 2, ""}, {{""}, 2, ""}, {{"--help", "--version"}, 2, ""}, {{"--version", "--version"}, 2, ""}};
  // clang-format on
  for (const auto& [arguments, status, out] : cases) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    ConsoleSession session;
    const RunResult run = session.RunWithArguments(arguments, "c\n2\n2\n4\n1024\ntapeloom_sim\n48000\n");
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(session.Files(), std::vector<std::string>{"card-in.raw"}) << "a session started";
    EXPECT_EQ(out == usage ? run.out.substr(0, usage.size()) : run.out, out);
    EXPECT_TRUE(out != usage || run.out.find("man tapeloom") != std::string::npos);
    EXPECT_TRUE(status == 0 ? run.err.empty()
                            : run.err.starts_with("tapeloom: ") && run.err.find(usage) != std::string::npos)
        << run.err;
  }
}

}  // namespace
}  // namespace tapeloom::test
