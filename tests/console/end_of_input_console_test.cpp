// Input that ends, signals, a full disk, names that are no regular files, a terminal: the real program copes.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
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

const std::string kParams = SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\n";

// Lines are edited, recalled and completed; a stray Ctrl-C or SIGINT only says how to leave, once, and what was typed
// goes; SIGTERM, SIGHUP and Ctrl-D end the session; the terminal is left as found.
TEST(TerminalConsole, EditingRecallCompletionCtrlCAndTheEnd) {
  // clang-format off
  const std::string reminder = "Ctrl-C stops a run; to leave, type x (s saves first).", cal = "Output (1 to 2; a word that is no number: 1): ";
  // Keys ("^C": Ctrl-C, "^D": Ctrl-D on an emptied line, "!INT": a signal) and what then shows; the exit status.
  const std::tuple<std::vector<std::pair<std::string, std::string>>, int> cases[] = {
      {{{"i\r", "Enter in-time in seconds."}, {"3\r", "Play: 3.00 "}}, 0}, {{{"i 2 o 4\r", "Play: 2.00   Rec: 0.00   Stop: 4.00"}}, 0}, {{{"i 7\x7f" "5\x1b[D\x1b[D\x01o 1 \r", "Play: 5.00   Rec: 0.00   Stop: 1.00"}}, 0},
      {{{"i 2\r", "Play: 2.00"}, {"i 3\r", "Play: 3.00"}, {"\x1b[A\r", "Play: 3.00"}, {"\x1b[A\x1b[A\r", "Play: 2.00"}}, 0}, {{{"tem\t", "tempo "}, {"\r", "4 = done"}, {"4\r", "Play: 0.00"}}, 0}, {{{"ex\t", "exp-"}, {"\t", "exp-i  exp-s"}, {"\x15i 1\r", "Play: 1.00"}}, 0}, {{{"i", "i"}, {"^C", reminder}, {"i 2\r", "Play: 2.00"}}, 0},
      {{{"!INT", reminder}, {"i 2\r", "Play: 2.00"}}, 0}, {{{"cal\r", cal}, {"7", "7"}, {"^C", reminder}, {"", cal}, {"1\r", "Input (1 to 2"}, {"2\r", "Nothing was changed."}}, 0}, {{{"cal\r", cal}, {"!INT", reminder + "\r\n" + cal}, {"1\r", "Input (1 to 2"}, {"2\r", "Nothing was changed."}}, 0},
      {{{"i 4", "i 4"}, {"!TERM", ""}}, 128 + SIGTERM}, {{{"i 4", "i 4"}, {"!HUP", ""}}, 128 + SIGHUP}, {{{"i 4", "i 4"}, {"^D", ""}}, 0}, {{{"", "'c' to create this file now"}, {"^C", reminder}}, 2}};
  // clang-format on
  ConsoleSession session;
  for (const auto& [steps, status] : cases) {
    SCOPED_TRACE(testing::PrintToString(steps));
    status == 2 ? fs::remove(session / "param.txt")
                : (session.Write("param.txt", SimCardParams(2, 2, 4, 128) + "int\t0\n"), true);
    TerminalProgram program(session.dir());
    ASSERT_TRUE(status == 2 || (program.Await("Mem: 0.00") && program.AwaitEditing())) << program.Shown();  // raw mode
    for (const auto& [keys, shows] : steps) {
      if (keys.starts_with('!')) program.Signal(keys == "!INT" ? SIGINT : keys == "!TERM" ? SIGTERM : SIGHUP);
      if (keys == "^D" && program.AwaitEditing()) program.Type("\x15\x04");
      if (!keys.starts_with('!') && keys != "^D") program.Type(keys == "^C" ? "\x03" : keys);
      ASSERT_TRUE(program.Await(shows)) << keys << program.Shown();
    }
    if (steps.back().second != "") program.Type("x\r");  // unless the session ended
    EXPECT_EQ(program.Finish(), status) << program.Shown();
    EXPECT_TRUE(program.InLineMode());
    const std::string& shown = program.Shown();
    EXPECT_EQ(shown.find("Session ended by signal") != std::string::npos, status > 128);
    EXPECT_EQ(shown.find("Play: 4.00"), std::string::npos);
    const auto count = [&](const std::string& part) { return std::ranges::distance(std::views::split(shown, part)); };
    EXPECT_EQ(count(reminder),
              1 + std::ranges::count_if(steps, [](auto& s) { return s.first == "^C" || s.first == "!INT"; }));
    EXPECT_LE(count(cal), 3) << "a question is shown again once";
    EXPECT_EQ(session.Exists("param.txt"), status != 2);
  }
}

std::int32_t InputSample(std::size_t j) { return static_cast<std::int32_t>(-((j % 30000 + 1) * 256 + 1)); }

// Files stay as they were and nothing new is left but takes when input ends at a prompt, a signal comes there, the disk
// is full or a name is no regular file; a take on a full disk is a valid wave file of what it holds.
TEST(SessionEnd, InputThatEndsSignalsAFullDiskOrNoRegularFileLoseNothing) {
  using Names = std::vector<std::string>;
  // clang-format off
  const std::string record = "e\t10240\no\t20480\n", no = ": Not a regular file\n", dir = ": Is a directory\n", full = ": No space left on device";
  const std::string rec = "e\t4096\no\t8192\n", first = "'c' to create this file now", huge(1 << 20, 'w');
  // Settings ("-": no param.txt), record.txt, play.txt, FIFOs ("|"), directories ("/"), links to /dev/zero ("@"), the
  // words, free 4096-byte pages on a small disk (-1: none), what is said (the last: where input ends or a signal
  // comes).
  const std::tuple<std::string, std::string, std::string, Names, std::string, long, Names, int> cases[] = {
      {"", "a.wav\n", "", {}, huge + "\n", -1, {"Play: "}, 0}, {"", "a.wav\n", "", {}, "+\n", -1, {"Enter 'c' continue"}, 128 + SIGINT}, {"play\t1\tgone.txt\n", "a.wav\n", "", {}, "p\n", -1, {"Create the file or enter a different name"}, 0}, {rec, "b.wav\n", "", {}, "R_x\nR_x\n", -1, {"or 'W' to overwrite all similar conflicts"}, 128 + SIGHUP}, {rec, "b.wav\n", "", {}, "R\naud\nseven\n", -1, {"4 = 4th 1/4"}, 0}, {rec + "safe\t1\n", "a.wav\n", "", {}, "R\nrep\n", -1, {"rather than insert? (y,n)"}, 128 + SIGINT},
      {rec, "b.wav\n", "", {}, "R\napp\nv\nR\napp\nv\n", -1, {"'n' to try a new append name"}, 0}, {"", "a.wav\n", "", {}, "tempo\n2\n", -1, {"Enter tempo (beats per minute)"}, 128 + SIGTERM}, {"", "a.wav\n", "", {}, "mix\nh\n", -1, {"Mixer Help:"}, 128 + SIGHUP}, {"o\t4096\n", "a.wav\n", "a.wav\n", {}, "exp-i\nmixdown\n", -1, {"Enter 'c' to continue"}, 0}, {"-", "a.wav\n", "", {}, "c\n2\n2\n4\n", -1, {first}, 2}, {"-", "a.wav\n", "", {}, "maybe\n", -1, {first}, 128 + SIGINT}, {"e\t0\no\t96000\n", "a.wav\n", "", {}, "R\n", 16, {full, "Can't write to audio_ch_1_"}, 0},
      {"", "a.wav\n", "", {}, "s\n", 0, {full, "Could not write param.txt"}, 0}, {record, "a.wav\n", "", {}, "R\npad\n", 9, {full, "was not padded; it is unchanged\n"}, 0}, {record, "a.wav\n", "", {}, "R\ncin\n", 9, {full, "Cannot create backup file a_bkup_"}, 0}, {record + "xfade\t50\n", "a.wav\n", "", {}, "R\nins\n", 9, {full, "was not inserted into a.wav; the take is kept\n"}, 0}, {"play\t1\tmix.txt\no\t48128\n", "", "", {}, "exp-i\nmix\n", 16, {full, "The export failed: mix.wav was not written\n"}, 0}, {"", "", "", {"|param.txt"}, "", -1, {"Can't open param.txt" + no}, 2},
      {"", "", "", {"/param.txt"}, "x\n", -1, {"Can't open param.txt" + dir}, 2}, {"o\t4096\n", "", "", {"|record.txt", "/play.txt"}, "p\n", -1, {"Can't open record.txt" + no, "Can't open play.txt" + dir}, 0}, {"o\t4096\nrec\t1\tz.txt\nplay\t1\ty.txt\n", "", "", {"@z.txt", "@y.txt"}, "p\nR\n", -1, {"Can't open z.txt" + no, "Can't open y.txt" + no}, 0}, {record, "f.wav\nz.wav\n", "", {"|f.wav", "@z.wav"}, "R\nins\n", -1, {"Can't open f.wav" + no, "Can't open z.wav" + no}, 0},
      {record, "f.wav\nd.wav\n", "", {"|f.wav", "/d.wav"}, "R\ncin\n", -1, {"Can't open f.wav" + no, "Can't open d.wav" + dir}, 0}, {record, "f.wav\nz.wav\n", "", {"|f.wav", "@z.wav"}, "R\nrep\n", -1, {"Can't replace f.wav" + no, "Can't replace z.wav" + no}, 0}};
  ConsoleSession session;
  Samples input(2 * 200000);
  for (std::size_t j = 0; j < input.size(); ++j) input[j] = InputSample(j / 2);
  const auto kind = [&](const std::string& name) { return std::to_string(static_cast<int>(fs::symlink_status(session / name).type())); };
  // clang-format on
  bool smallDiskMissing = false;
  for (const auto& [settings, recordList, playList, plant, words, freePages, says, status] : cases) {
    SCOPED_TRACE(words + says.back());
    for (const std::string& name : session.Files()) fs::remove_all(session / name);  // FIFOs a write would wait on
    WriteBytes(session / "card-in.raw", Pack24(input));
    WriteBytes(session / "a.wav", WaveBuilder().Samples(PositionCoded(48000)).Build());
    settings == "-" ? fs::remove(session / "param.txt") : (session.Write("param.txt", kParams + settings), true);
    session.Write("record.txt", recordList), session.Write("play.txt", playList), session.Write("mix.txt", "a.wav\n");
    std::map<std::string, std::string> before, kinds;  // the card's files stay outside a small disk
    long pages = freePages;
    for (const std::string& name :
         session.Files() | std::views::filter([](auto& n) { return !n.starts_with("card-"); }))
      before[name] = session.Read(name), pages += (static_cast<long>(fs::file_size(session / name)) + 4095) / 4096;
    for (const std::string& planted : plant) {
      const std::string name = planted.substr(1);
      before.erase(name);  // no regular file: what it is stays
      fs::remove(session / name);
      ASSERT_TRUE(planted[0] != '|' || ::mkfifo((session / name).c_str(), 0600) == 0);
      if (planted[0] == '/') fs::create_directory(session / name);
      if (planted[0] == '@') fs::create_symlink("/dev/zero", session / name);
      kinds[name] = kind(name);
    }
    const int signal = status > 128 ? status - 128 : 0;
    bool sent = false;  // once what is asked there is on the screen: the program waits, or is about to
    const auto kill = [&](pid_t pid, const std::string& out) {
      if (!sent && out.find(says.back()) != std::string::npos) sent = ::kill(pid, signal) == 0;
    };
    const std::optional<RunResult> run = signal          ? session.RunLive(words, kill)
                                         : freePages < 0 ? session.Run(words, std::chrono::seconds(30))
                                                         : session.RunOnSmallDisk(words, pages * 4096);
    if (!run) {  // the other rows still run
      smallDiskMissing = true;
      continue;
    }
    EXPECT_EQ(run->status, status) << run->out;
    for (const std::string& text : says) EXPECT_NE(run->out.find(text), std::string::npos) << text << run->out;
    EXPECT_TRUE(!signal || run->out.ends_with("\nSession ended by signal " + std::to_string(signal) + " (" +
                                              strsignal(signal) + ")\n"));
    for (const auto& [name, was] : before) EXPECT_EQ(session.Read(name), was) << name << " is as it was";
    for (const auto& [name, was] : kinds) EXPECT_EQ(kind(name), was) << name << " is as it was";
    std::vector<std::string> takes;
    for (const std::string& name : session.Files()) {
      if (name.starts_with("card-") || before.contains(name) || kinds.contains(name)) continue;
      EXPECT_TRUE(std::regex_match(name, std::regex("(audio_ch_[12]_[0-9]+|b_[vx])(_stp_[0-9]+)?\\.wav|mixdown.wav")))
          << name;
      takes.push_back(name);
    }
    if (freePages < 0) continue;
    ASSERT_EQ(takes.size(), words.starts_with("R") ? 1u : 0u) << run->out;
    if (takes.empty()) continue;
    const Bytes take = ReadBytes(session / takes[0]);
    // The header counts every whole frame that reached the disk.
    ASSERT_TRUE(take.size() >= 44 && Field32(take, 4) == Field32(take, 40) + 36 &&
                Field32(take, 40) == (take.size() - 44) / 3 * 3);
    const Samples held = Unpack24(std::span<const unsigned char>(take).subspan(44));
    EXPECT_TRUE(freePages != 9 || held.size() == 10240u) << held.size();
    for (std::size_t j = 0; j < held.size(); ++j) ASSERT_EQ(held[j], InputSample(j));
  }
  if (smallDiskMissing) GTEST_SKIP() << "the full-disk rows need a tmpfs, which only root can mount";
}

}  // namespace
}  // namespace tapeloom::test
