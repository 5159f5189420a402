// Input that ends, signals, a full disk, names that are no regular files, a terminal: the real program copes.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstring>
#include <map>
#include <ranges>
#include <regex>

#include "support/console_harness.h"
#include "support/pseudo_terminal.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

namespace fs = std::filesystem;

// clang-format off
// A place where the program waits: the settings it needs, the words that bring it there, the last thing printed there
// (whether a number is asked). "-": no param.txt, the first-run questions.
struct Stop { std::string settings, words; const char* asks; bool numeric = false; };
const char* const kFirst = "'c' to create this file now";
const std::string kParams = SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\n";
const std::string kRec = "e\t4096\no\t8192\n", kIo = "i\t1024\no\t2048\n", kRange = "range\t1024\t2048\tx\n";
const Stop kStops[] = {
    {"", "", "Play: "}, {"", "+\n", "Enter 'c' continue"}, {"", "i\n", "Enter in-time in seconds.", true}, {"tmode\t1\n", "o\n", "Enter measure for stop time.", true}, {"", "nn\n", "Enter new nudge amount", true}, {"", "R\n", "Enter 'c' to continue and fix"}, {"", "i.l\n", "Enter locate point number", true},
    {"", "l.i\n", "Enter a locate point number", true}, {"", "ll\n", "Enter 'c' to continue"}, {"", "ll\nn\n", "Enter locate point", true}, {kIo, "io.\n", "Enter location to store to", true}, {kIo, "io.\n1\n", "Enter a range name"}, {kRange, ".io\n", "Enter location to recall", true}, {kRange, "lio\n", "Enter 'c' to continue"},
    {"", "lp\n", "Enter 'c' to continue"}, {"", "mr\n", "Enter monitor time in seconds.", true}, {"play\t1\tgone.txt\n", "p\n", "Create the file or enter a different name"}, {kRec, "R_x\nR_x\n", "or 'W' to overwrite all similar conflicts"}, {kRec, "R\n", "Enter a take handling command."}, {kRec, "R\naud\n", "4 = 4th 1/4", true},
    {kRec + "safe\t1\n", "R\nrep\n", "rather than insert? (y,n)"}, {kRec, "R\nrep\nR\nrep\n", "Enter 'r' to return to previous menu."}, {kRec, "R\napp\n", "Enter characters to append with."}, {kRec, "R\napp\nv\nR\napp\nv\n", "'n' to try a new append name"}, {"", "opt\n", "if done changing options"}, {"", "tempo\n", "4 = done", true},
    {"", "tempo\n2\n", "Enter tempo (beats per minute)", true}, {"", "tempo\n3\n", "Enter beats per measure", true}, {"", "safe\n", "Enter '2' to keep current settings"}, {"", "mtr\n", "Enter Meter Range", true}, {"", "pre\n", "Enter new preroll", true}, {"", "cf\n", "Enter 'd' if done or enter a new value", true}, {"", "aa\n", "Enter audition time", true},
    {"", "pf\n", "'d'   when done"}, {"", "rf\nrem\n", "Enter the number to remove", true}, {"", "pf\na\n", "Enter the filename to add"}, {"", "pf\na\nx.txt\n", "Enter the list position (1-128)", true}, {"", "so\n", "'a' add, 'r' remove, 'd' done"}, {"", "so\na\n", "Enter track number to add"}, {"", "mix\n", "Mix commands are active."},
    {"", "mix\nh\n", "Mixer Help:"}, {"", "mod\n", "Select a mix mode", true}, {"", "bus\n", "Enter 'a' to add a channel to a bus"}, {"", "bus\na\n", "Enter bus number", true}, {"", "bus\nr\n1\n", "Enter the channel to remove"}, {"o\t4096\n", "exp-i\n", "Enter mix filename"}, {"o\t4096\n", "exp-i\nmixdown\n", "Enter 'c' to continue"}, {"-", "", kFirst},
    {"-", "c\n", kFirst}, {"-", "c\n2\n", kFirst}, {"-", "c\n2\n2\n", kFirst}, {"-", "c\n2\n2\n4\n", kFirst}, {"-", "c\n2\n2\n4\nd\n", kFirst}, {"-", "maybe\n", kFirst}};
// clang-format on

TEST(EndOfInput, EveryPromptEndsTheSessionAsX) {
  ConsoleSession session;
  session.Write("card-in.raw", std::string(3 * 2 * 100000, '\x11'));
  WriteBytes(session / "t1.wav", WaveBuilder().Samples(std::vector<std::int32_t>(20000, 1000)).Build());
  session.Write("play.txt", "t1.wav\n");
  session.Write("record.txt", "a.wav\n");
  const std::string huge(1 << 20, 'w');
  int turn = 0;
  for (const Stop& stop : kStops) {
    const bool firstRun = stop.settings == "-";
    const std::string settings = firstRun ? "" : kParams + stop.settings;
    // Input ends there, after a non-number where a number is asked or a megabyte word; or a signal comes.
    const std::string first = stop.numeric ? "seven\n" : "";  // a device name of a megabyte is refused
    for (const std::string& last : {first, firstRun ? first : huge + "\n", std::string("signal")}) {
      SCOPED_TRACE(stop.words + " then " + last.substr(0, 10));
      if (firstRun) std::filesystem::remove(session / "param.txt");
      if (!firstRun) session.Write("param.txt", settings);
      const std::vector<std::string> before = session.Files();
      const int signal = last == "signal" ? std::array{SIGINT, SIGTERM, SIGHUP}[turn++ % 3] : 0;
      bool sent = false;  // once what is asked there is on the screen: the program waits, or is about to
      const RunResult run = signal == 0 ? session.Run(stop.words + last, std::chrono::seconds(60))
                                        : session.RunLive(stop.words, [&](pid_t pid, const std::string& out) {
                                            if (!sent && out.find(stop.asks) != std::string::npos)
                                              sent = ::kill(pid, signal) == 0;
                                          });
      const std::string ended =
          "\nSession ended by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")\n";
      EXPECT_NE(run.out.find(stop.asks), std::string::npos) << "never got there";
      EXPECT_EQ(run.status, signal != 0 ? 128 + signal : firstRun ? 2 : 0) << run.out.substr(run.out.size() / 2);
      EXPECT_TRUE(signal == 0 || run.out.ends_with(ended)) << run.out.substr(run.out.size() / 2);
      EXPECT_EQ(session.Exists("param.txt") ? session.Read("param.txt") : "", settings) << "nothing saved or created";
      for (const std::string& name : before) EXPECT_TRUE(session.Exists(name)) << name;
    }
  }
}

// Lines are edited, recalled and completed; a stray Ctrl-C or SIGINT only says how to leave, once,
// and what was typed goes; SIGTERM, SIGHUP and Ctrl-D end the session; the terminal is left as found.
TEST(TerminalConsole, EditingRecallCompletionCtrlCAndTheEnd) {
  // clang-format off
  const std::string reminder = "Ctrl-C stops a run; to leave, type x (s saves first).", cal = "Output (1 to 2; a word that is no number: 1): ";
  const std::map<std::string, int> signals = {{"!INT", SIGINT}, {"!TERM", SIGTERM}, {"!HUP", SIGHUP}};
  // The keys typed ("^C": Ctrl-C, "^D": Ctrl-D on an emptied line, "!INT": a signal) and what is then shown, "x" typed after them unless the session ended; the exit status.
  const std::tuple<std::vector<std::pair<std::string, std::string>>, int> cases[] = {
      {{{"i\r", "Enter in-time in seconds."}, {"3\r", "Play: 3.00 "}}, 0}, {{{"i 2 o 4\r", "Play: 2.00   Rec: 0.00   Stop: 4.00"}}, 0}, {{{"i 7\x7f" "5\x1b[D\x1b[D\x01o 1 \r", "Play: 5.00   Rec: 0.00   Stop: 1.00"}}, 0}, {{{"i 2\r", "Play: 2.00"}, {"i 3\r", "Play: 3.00"}, {"\x1b[A\r", "Play: 3.00"}, {"\x1b[A\x1b[A\r", "Play: 2.00"}}, 0},
      {{{"tem\t", "tempo "}, {"\r", "4 = done"}, {"4\r", "Play: 0.00"}}, 0}, {{{"ex\t", "exp-"}, {"\t", "exp-i  exp-s"}, {"\x15i 1\r", "Play: 1.00"}}, 0}, {{{"i", "i"}, {"^C", reminder}, {"i 2\r", "Play: 2.00"}}, 0}, {{{"!INT", reminder}, {"i 2\r", "Play: 2.00"}}, 0},
      {{{"cal\r", cal}, {"7", "7"}, {"^C", reminder}, {"", cal}, {"1\r", "Input (1 to 2"}, {"2\r", "Nothing was changed."}}, 0}, {{{"cal\r", cal}, {"!INT", reminder + "\r\n" + cal}, {"1\r", "Input (1 to 2"}, {"2\r", "Nothing was changed."}}, 0}, {{{"tempo\r", "4 = done"}, {"!INT", reminder}, {"4\r", "Play: 0.00"}}, 0},
      {{{"mod\r", "Select a mix mode"}, {"^C", reminder}, {"1\r", "Play: 0.00"}}, 0}, {{{"i 4", "i 4"}, {"!TERM", ""}}, 128 + SIGTERM}, {{{"i 4", "i 4"}, {"!HUP", ""}}, 128 + SIGHUP}, {{{"i 4", "i 4"}, {"^D", ""}}, 0}, {{{"", "'c' to create this file now"}, {"^C", reminder}}, 2}};
  // clang-format on
  ConsoleSession session;
  for (const auto& [steps, status] : cases) {
    SCOPED_TRACE(testing::PrintToString(steps));
    if (status != 2) session.Write("param.txt", SimCardParams(2, 2, 4, 128) + "int\t0\n");
    if (status == 2) std::filesystem::remove(session / "param.txt");
    TerminalProgram program(session.dir());
    ASSERT_TRUE(status == 2 || program.Await("Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00")) << program.Shown();
    for (const auto& [keys, shows] : steps) {
      if (keys.starts_with('!')) program.Signal(signals.at(keys));
      if (keys == "^D" && program.AwaitEditing()) program.Type("\x15\x04");
      if (!keys.starts_with('!') && keys != "^D") program.Type(keys == "^C" ? "\x03" : keys);
      ASSERT_TRUE(program.Await(shows)) << keys << program.Shown();
    }
    if (steps.back().second != "") program.Type("x\r");
    EXPECT_EQ(program.Finish(), status) << program.Shown();
    EXPECT_TRUE(program.InLineMode());
    const std::string& shown = program.Shown();
    EXPECT_EQ(shown.find("Session ended by signal") != std::string::npos, status > 128);
    EXPECT_EQ(shown.find("Play: 4.00"), std::string::npos);
    const auto count = [&](const std::string& part) {
      return std::ranges::distance(std::views::split(shown, part)) - 1;
    };
    EXPECT_EQ(count(reminder), std::ranges::count_if(
                                   steps, [](const auto& step) { return step.first == "^C" || step.first == "!INT"; }));
    EXPECT_LE(count(cal), 2) << "a question is shown again once";
    EXPECT_EQ(session.Exists("param.txt"), status != 2);
  }
}

std::int32_t InputSample(std::size_t j) { return static_cast<std::int32_t>(-((j % 30000 + 1) * 256 + 1)); }

// Files stay as they were, nothing new is left but takes, and a take on a full disk is a valid
// wave file of what it holds.
TEST(FullDisk, EveryOperationThatMeetsAFullDiskOrNoRegularFileSaysSoAndLosesNothing) {
  using Names = std::vector<std::string>;
  // clang-format off
  const std::string record = "e\t10240\no\t20480\n", no = ": Not a regular file\n", dir = ": Is a directory\n", full = ": No space left on device";
  // Settings, record.txt, play.txt, FIFOs ("|"), directories ("/") and links to /dev/zero ("@") planted, the words, room in 4096-byte pages left on a small disk (-1: none), what is said, the status.
  const std::tuple<std::string, std::string, std::string, Names, std::string, long, Names, int> cases[] = {
      {"e\t0\no\t96000\n", "a.wav\n", "", {}, "R\n", 16, {full, "Can't write to audio_ch_1_"}, 0}, {"", "a.wav\n", "", {}, "s\n", 0, {full, "Could not write param.txt"}, 0}, {record, "a.wav\n", "", {}, "R\npad\n", 9, {full, "was not padded; it is unchanged\n"}, 0}, {record, "a.wav\n", "", {}, "R\ncin\n", 9, {full, "Cannot create backup file a_bkup_"}, 0},
      {record + "xfade\t50\n", "a.wav\n", "", {}, "R\nins\n", 9, {full, "was not inserted into a.wav; the take is kept\n"}, 0}, {"play\t1\tmixlist.txt\no\t48128\n", "", "", {}, "exp-i\nmix\n", 16, {full, "The export failed: mix.wav was not written\n"}, 0}, {"", "", "", {"|param.txt"}, "", -1, {"Can't open param.txt" + no}, 2},
      {"", "", "", {"/param.txt"}, "x\n", -1, {"Can't open param.txt" + dir}, 2}, {"o\t4096\n", "", "", {"|record.txt", "/play.txt"}, "p\n", -1, {"Can't open record.txt" + no, "Can't open play.txt" + dir}, 0}, {"o\t4096\nrec\t1\tz.txt\nplay\t1\ty.txt\n", "", "", {"@z.txt", "@y.txt"}, "p\nR\n", -1, {"Can't open z.txt" + no, "Can't open y.txt" + no}, 0},
      {"o\t4096\nch\t4\n", "-\n", "f.wav\nd.wav\nz.wav\na.wav\n", {"|f.wav", "/d.wav", "@z.wav"}, "p\nr\nf\n", -1, {"Can't read f.wav" + no, "Can't read d.wav" + dir, "Can't read z.wav" + no}, 0}, {record, "f.wav\nz.wav\n", "", {"|f.wav", "@z.wav"}, "R\nins\n", -1, {"Can't open f.wav" + no, "Can't open z.wav" + no}, 0},
      {record, "f.wav\nd.wav\n", "", {"|f.wav", "/d.wav"}, "R\ncin\n", -1, {"Can't open f.wav" + no, "Can't open d.wav" + dir}, 0}, {record, "f.wav\nz.wav\n", "", {"|f.wav", "@z.wav"}, "R\nrep\n", -1, {"Can't replace f.wav" + no, "Can't replace z.wav" + no}, 0}};
  ConsoleSession session;
  std::vector<std::int32_t> input(2 * 200000);
  for (std::size_t j = 0; j < input.size(); ++j) input[j] = InputSample(j / 2);
  const auto kind = [&](const std::string& name) { return std::to_string(static_cast<int>(fs::symlink_status(session / name).type())); };
  // clang-format on
  bool smallDiskMissing = false;
  for (const auto& [settings, recordList, playList, plant, words, freePages, says, status] : cases) {
    SCOPED_TRACE(words + says.back());
    for (const std::string& name : session.Files()) fs::remove_all(session / name);  // FIFOs a write would wait on
    WriteBytes(session / "card-in.raw", Pack24(input));
    WriteBytes(session / "a.wav", WaveBuilder().Samples(PositionCoded(48000)).Build());
    session.Write("param.txt", kParams + settings);
    session.Write("record.txt", recordList);
    session.Write("play.txt", playList);
    session.Write("mixlist.txt", "a.wav\n");
    std::map<std::string, std::string> before, kinds;  // the card's files stay outside a small disk
    long pages = freePages;
    for (const std::string& name : session.Files()) {
      if (!name.starts_with("card-"))
        before[name] = session.Read(name), pages += (static_cast<long>(fs::file_size(session / name)) + 4095) / 4096;
    }
    for (const std::string& planted : plant) {
      const std::string name = planted.substr(1);
      before.erase(name);  // no regular file: what it is stays
      fs::remove(session / name);
      ASSERT_TRUE(planted[0] != '|' || ::mkfifo((session / name).c_str(), 0600) == 0);
      if (planted[0] == '/') fs::create_directory(session / name);
      if (planted[0] == '@') fs::create_symlink("/dev/zero", session / name);
      kinds[name] = kind(name);
    }
    const std::optional<RunResult> run =
        freePages < 0 ? session.Run(words, std::chrono::seconds(30)) : session.RunOnSmallDisk(words, pages * 4096);
    if (!run) {  // the other rows still run
      smallDiskMissing = true;
      continue;
    }
    EXPECT_EQ(run->status, status) << run->out;
    for (const std::string& text : says) EXPECT_NE(run->out.find(text), std::string::npos) << text << run->out;
    for (const auto& [name, was] : before) EXPECT_EQ(session.Read(name), was) << name << " is as it was";
    for (const auto& [name, was] : kinds) EXPECT_EQ(kind(name), was) << name << " is as it was";
    std::vector<std::string> takes;
    for (const std::string& name : session.Files()) {
      if (name.starts_with("card-") || before.contains(name) || kinds.contains(name)) continue;
      EXPECT_TRUE(std::regex_match(name, std::regex("audio_ch_[12]_[0-9]+(_stp_[0-9]+)?\\.wav"))) << name;
      takes.push_back(name);
    }
    if (freePages < 0) continue;
    ASSERT_EQ(takes.size(), words.starts_with("R") ? 1u : 0u) << run->out;
    if (takes.empty()) continue;
    const Bytes take = ReadBytes(session / takes[0]);
    // The header counts every whole frame that reached the disk.
    ASSERT_TRUE(take.size() >= 44 && Field32(take, 4) == Field32(take, 40) + 36 &&
                Field32(take, 40) == (take.size() - 44) / 3 * 3);
    const std::vector<std::int32_t> held = Unpack24(std::span<const unsigned char>(take).subspan(44));
    EXPECT_TRUE(freePages != 9 || held.size() == 10240u) << held.size();
    for (std::size_t j = 0; j < held.size(); ++j) ASSERT_EQ(held[j], InputSample(j));
  }
  if (smallDiskMissing) GTEST_SKIP() << "the full-disk rows need a tmpfs, which only root can mount";
}

}  // namespace
}  // namespace tapeloom::test
