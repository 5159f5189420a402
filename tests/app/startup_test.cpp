// Start-up and command line of the real program, the param.txt reader and writer, and the user guide's session.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "app/settings_file.h"
#include "app/startup.h"
#include "support/console_harness.h"
#include "support/typed_input.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

using namespace std::string_literals;

const std::string kBanner = "\nTapeloom 3.76 (r52)\n", kDashes = "-------------------------\n";
const std::string kQuestions =
    "\nThe param.txt file was not found.\nParameters are stored in this file.\n"
    "\nEnter 'c' to create this file now or 'x' to exit\n";

std::string Configuration(const std::string& device, int rate, int buf, int inputs, int outputs, int ch) {
  return kDashes + "Requested Parameters:\nDevice\t" + device + "\nRate\t" + std::to_string(rate) + "\nBuffer\t" +
         std::to_string(buf) + "\n" + kDashes + "\nConfiguration:\nInterface inputs  = " + std::to_string(inputs) +
         "\nInterface outputs = " + std::to_string(outputs) + "\nTracks (maximum)  = " + std::to_string(ch) + "\n";
}

std::string DriverReport(int period, int inputs) {  // at 48000 Hz, two outputs
  const std::string columns = std::to_string(period) + "\t4\t48000\t";
  return "\nReturned Driver Parameters:\n\tBuffer\tPeriods\tRate\tChannels\nPlay\t" + columns + "2\nRecord\t" +
         columns + std::to_string(inputs) + "\n-----------------------------------------\n\n";
}

// The notice for a missing list in use (`used`), for which the default file `file` is made.
std::string MissingList(const std::string& says, const std::string& used, const std::string& file, const char* way) {
  const std::string line = "\nEach line will be assigned to an ";
  return kDashes + says + " " + used + "\nCreated a file called " + file +
         " that you will need.\nPut a list of wave files in this list, one per line." + line + way +
         " hardware channel.\nUse a '-' on a line to skip over channel.\n" + kDashes;
}

TEST(StartupConsole, ScenariosOnTheSimulatedCard) {
  struct Case {
    std::optional<std::string> params;   // param.txt, or none: the first start
    std::optional<std::string> records;  // record.txt (and an empty play.txt), or none
    std::string typed;
    int status;
    std::vector<std::string> printed;           // in order; the output starts with the first, ends with the last
    std::string err = "";                       // in standard error; empty: nothing there
    std::optional<std::string> saved = params;  // in param.txt afterwards; nullopt: no param.txt
    char odd = ' ';  // c: no simulated capture file; f, l: record.txt and play.txt planted as files, links
    std::vector<std::string> args = {};  // command-line words: they answer without starting a session
  };
  // clang-format off
  const std::string usage = "Usage: tapeloom [--help | --version]\n", answers = "c\n2\n2\n4\n1024\ntapeloom_sim\n48000\n", take = "take.wav\n";
  const std::string asked = kBanner + kQuestions + "\nEnter the number of audio interface INPUTS: \nEnter the number of audio interface OUTPUTS: \nEnter the maxiumum number of audio TRACKS needed: \nEnter soundcard device name or 'd' for default: \nEnter project sample rate or\n1 = 44100,  2 = 48000,  3 = 88200,  4 = 96000\n";
  const std::string inUse = SimCardParams() + "rec\t1\ttakes.txt\nplay\t1\tsongs.txt\n";
  const std::vector<std::string> missing = {kBanner + MissingList("Could not find the record file list called", "takes.txt", "record.txt", "input") + MissingList("Cound not find the playlist file called", "songs.txt", "play.txt", "output")
      + kDashes + "Requested Parameters:", ZeroStatusDisplay() + "Cannot find playlist file called songs.txt\nCreate the file or enter a different name\n"};
  // Missing lists in use are named and the default files made empty, only where there is no file or link. An empty
  // record list is noted, an empty playlist not; a long period is limited. A first start on a device that does not
  // exist saves nothing: the questions come again.
  std::vector<Case> cases = {
      {SimCardParams(2, 2, 4), take, "", 0, {kBanner + Configuration("tapeloom_sim", 48000, 1024, 2, 2, 4) + DriverReport(1024, 2) + ZeroStatusDisplay()}}, {std::nullopt, take, "c\n4\n2\n8\ntapeloom_sim\n2\nx\n", 0, {asked + Configuration("tapeloom_sim", 48000, 1024, 4, 2, 8) + DriverReport(1024, 4) + "Created param.txt file\n" + ZeroStatusDisplay()}, "", "dv\ttapeloom_sim\nsr\t48000\ninputs\t4\noutputs\t2\nch\t8\nbuf\t1024\nint\t1\n"}, {std::nullopt, std::nullopt, "later\nx\n", 2, {kBanner + kQuestions}}, {inUse, std::nullopt, "x\n", 0, missing}, {inUse, std::nullopt, "x\n", 0, missing, "", inUse, 'f'}, {inUse, std::nullopt, "x\n", 0, missing, "", inUse, 'l'},
      {SimCardParams(2, 2, 2, 5000), "", "x\n", 0, {kBanner + kDashes + "Note: The record.txt file is empty!\n" + kDashes + kDashes, DriverReport(4096, 2) + ZeroStatusDisplay()}}, {"dv\ttapeloom_sim_play_no_s24\n", take, "x\n", 1, {kBanner + Configuration("tapeloom_sim_play_no_s24", 44100, 1024, 2, 2, 2)}, "Problem setting playback format: Invalid argument\n"}, {std::nullopt, take, "c\n2\n2\n2\nno_such_card\n2\n", 1, {asked + Configuration("no_such_card", 48000, 1024, 2, 2, 2)}, "Playback device could not be opened: No such file or directory\n"},
      {SimCardParams(), take, "x\n", 1, {kBanner + Configuration("tapeloom_sim", 48000, 1024, 2, 2, 4)}, "unable to open pcm record device: No such file or directory\n", SimCardParams(), 'c'}, {std::nullopt, std::nullopt, answers, 0, {"Tapeloom 3.76 (r52)\n"}, "", std::nullopt, ' ', {"--version"}}, {std::nullopt, std::nullopt, answers, 0, {usage, "man tapeloom", "  --version  print the version\n"}, "", std::nullopt, ' ', {"--help"}}};
  // clang-format on
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--verbose"}, {"-h"}, {"version"}, {""}, {"--help", "--version"}, {"--version", "--version"}})
    cases.push_back({std::nullopt, std::nullopt, answers, 2, {}, usage, std::nullopt, ' ', args});  // refused
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.value_or("none") + c.typed + testing::PrintToString(c.args));
    ConsoleSession session;
    if (c.params) session.Write("param.txt", *c.params);
    if (c.records) session.Write("record.txt", *c.records), session.Write("play.txt", "");
    if (c.odd == 'c') std::filesystem::remove(session / "card-in.raw");
    for (const char* name : {"record.txt", "play.txt", "kept.txt"}) {
      if (c.odd == 'l' && name[0] != 'k') std::filesystem::create_symlink(session / "kept.txt", session / name);
      if (c.odd == 'f' || c.odd == 'l') session.Write(name, "vocal.wav\n");
    }
    const RunResult run = session.RunWithArguments(c.args, c.typed);
    EXPECT_EQ(run.status, c.status);
    std::size_t at = 0;
    for (const std::string& piece : c.printed)
      ASSERT_NE(at = run.out.find(piece, at), std::string::npos) << piece << "\nin\n" << run.out;
    const bool whole =
        !c.printed.empty() && run.out.starts_with(c.printed.front()) && run.out.ends_with(c.printed.back());
    EXPECT_TRUE(c.printed.empty() ? run.out.empty() : whole) << run.out;
    EXPECT_TRUE(c.err.empty() ? run.err.empty() : run.err.find(c.err) != std::string::npos) << run.err;
    EXPECT_TRUE(c.args.empty() || c.status == 0 || run.err.starts_with("tapeloom: ")) << run.err;
    EXPECT_TRUE(c.saved ? session.Read("param.txt").find(*c.saved) != std::string::npos : !session.Exists("param.txt"));
    // Declined or answered, nothing is made; else missing lists are made empty and a planted file or link stays.
    EXPECT_TRUE(c.status == 2 || !c.args.empty()
                    ? session.Files() == std::vector<std::string>{"card-in.raw"}
                    : c.records || session.Read("record.txt") + session.Read("play.txt") ==
                                       (c.odd == 'f' || c.odd == 'l' ? "vocal.wav\nvocal.wav\n" : ""));
    EXPECT_TRUE(std::filesystem::is_symlink(session / "record.txt") == (c.odd == 'l') && !session.Exists("takes.txt"));
    EXPECT_FALSE(session.Exists("songs.txt"));
  }
}

// First-run answers: numbers as C reads them (0x10, 010), an unreadable one passed over, a device name of any length, a
// rate pick 1-4 or any rate from 8000 to 384000 Hz; any other rate is refused and the rate stays.
TEST(FirstRunDialogue, AnswersFillTheSettings) {
  const std::string name(150, 'k'), no = " is not a sample rate from 8000 to 384000 Hz: the rate stays at 44100 Hz.\n";
  // clang-format off
  std::vector<std::pair<std::string, std::string>> cases = {{"c 0x10 010 0 hw:1,0 4", "16 8 0 hw:1,0 96000"}, {"yes c four 6 8 card 1", "-1 6 8 card 44100"}, {"c 1 1 1 " + name + " 3", "1 1 1 " + name + " 88200"}};
  for (const auto& [rate, took] : {std::pair{"2", "48000"}, {"rate", "44100"}, {"5", ""}, {"0", ""}, {"-48000", ""}, {"8000", "8000"}, {"7999", ""}, {"384000", "384000"}, {"384001", ""}})
    // clang-format on
    cases.push_back({"c 1 1 1 d "s + rate, "1 1 1 default "s + (*took ? took : "44100") + (*took ? "" : rate + no)});
  for (const auto& [answers, settings] : cases) {
    SessionSettings s;
    TypedInput input(answers);
    const std::string printed = Printed([&] { RunFirstRunDialogue(s, input); }), n = std::to_string(s.outputs);
    EXPECT_EQ(std::to_string(s.inputs) + " " + n + " " + std::to_string(s.ch) + " " + s.dv + " " +
                  std::to_string(s.sr) + printed.substr(printed.find("4 = 96000\n") + 10) + std::to_string(s.firstRun),
              settings + "1")
        << answers;
  }
}

// The settings read from `text`, with what the reader printed, written as param.txt.
std::string ReadAndWrite(std::string_view text, std::string& printed) {
  SessionSettings s;
  printed = Printed([&] { GET_PARAMS(text, s); });
  return ComposeSettingsText(s);
}

std::string RateRefused(const std::string& shown, int rate = 44100) {
  return "sr \"" + shown + "\" in param.txt is not a whole number from 8000 to 384000.\nThe sample rate stays at " +
         std::to_string(rate) + " Hz.\n";
}

TEST(SettingsReader, EachRuleAsTheWriterShowsIt) {
  const std::string ranges = "Error parsing time ranges in param.txt file!\n";
  std::string sixtySix;  // lines beyond the 64th range or locate overwrite the last slot
  for (int k = 1; k <= 66; ++k)
    sixtySix += "range\t" + std::to_string(k) + "\t" + std::to_string(k + 1000) + "\tr" + std::to_string(k) + "\n";
  for (int k = 1; k <= 66; ++k) sixtySix += "loc\t" + std::to_string(k) + "\tl" + std::to_string(k) + "\n";
  struct Case {
    std::string text, lines, printed = "";  // lines: whole lines written, between '|'; after a '!', text never written
  };
  // Track lines need the track count so far; refused values and slots out of range are consumed, keys are case
  // sensitive, values start after the separator; an empty range name is numbered; a NUL ends a point name and refuses a
  // device or list name (nan and inf are no numbers); only a whole number of Hz from 8000 to 384000 is a rate.
  std::vector<Case> cases = {
      // clang-format off
      {"clock\tuc\nint\t5\ntmode\t7\nmix\t4\naud\t-2\n", "clock\tuc|peak\tcp|int\t1|tmode\t0|mix\t0|aud\t0.00"}, {"ch\t2\ntempo\tnan\nnudge\tinf\nproll\t-inf\nxfade\tnan\naud\tnan\nv\t1\tnan\np\t2\tinf\nbusvl\t1\tnan\n", "tempo\t120.00|nudge\t0.2500|proll\t0.000|xfade\t0.0|aud\t3.00|v\t1\t0.00|p\t2\t0|!busvl\t1"}, {"v\t3\t-6.00\np\t3\t40\nsolo\t3\nch\t8\n", "v\t3\t0.00|p\t3\t0|!solo\t3"},
      {"ch\t8\nv\t3\t-6.00\np\t3\t-40\nsolo\t3\nv\t0\t-1\n", "v\t3\t-6.00|p\t3\t-40|solo\t3|v\t1\t0.00"}, {"sr\t48000\nv\t3\tsr\t22050\nbusvl\t99\tsr\t8000\n", "sr\t48000"}, {"dv\t my card \nplay\t1\t\tx.txt\nsr\n48000\nSR\t9\nCh\t9\n", "dv\t my card |play\t1\t\tx.txt|sr\t44100|ch\t-1", RateRefused("")}, {"ch\t2\nbus\t2\t1,2,x,300,4,\nbus\t65\t7,\nbus\t1\t\nbus\t3\t256,\nbusvl\t2\t-4.50\nbusvl\t0\t3\n", "bus\t2\t1,2,4,|bus\t3\t256,|busvl\t2\t-4.50|!bus\t1\t|!busvl\t1|!7,"},
      {"play\t2\tmix two.txt\nrec\t128\tlast.txt\nplay\t0\tzero.txt\nplay\t129\tbig.txt\n", "play\t1\tplay.txt|play\t2\tmix two.txt|rec\t1\trecord.txt|rec\t128\tlast.txt|!zero.txt|!big.txt|!play\t3"}, {"range\t100\t200\tverse\nloc\t300\tchorus\nrange\t0\t1\t\nloc\t0\tzero\nrange\t7\t9\tlast", "range\t100\t200\tverse|range\t0\t1\trange2|range\t7\t9\tlast|loc\t300\tchorus", ranges}, {"loc\t1\tfirst\nrange\t1\t0\tcue\n", "loc\t1\tfirst|range\t1\t0\tcue"},
      {sixtySix, "range\t63\t1063\tr63|range\t66\t1066\tr66|loc\t66\tl66|!r64|!l65"}, {"dv\thw:1\0x\nplay\t1\t\0\0o.txt\nrec\t2\tb\0.txt\nrange\t1\t2\t\0abc\nrange\t3\t4\tv\0 x\nloc\t5\tc\0\n"s, "dv\tdefault|play\t1\tplay.txt|range\t1\t2\trange1|range\t3\t4\tv|loc\t5\tc|!rec\t2|!\0"s, ranges}, {"", "dv\tdefault|sr\t44100|ch\t-1|play\t1\tplay.txt|rec\t1\trecord.txt|!range\t|!loc\t"}, {"sr\t48000\nsr\t0\nch\t3\n", "sr\t48000|ch\t3", RateRefused("0", 48000)},
      {"sr\t12\0"s + "34\nch\t3\n", "sr\t44100|ch\t3", RateRefused("12")},
      // Track lines beyond the 256 tracks the tables hold, though ch says more, are refused.
      {"ch\t1000\nv\t257\t-6.00\nv\t258\t-6.00\np\t300\t40\nsolo\t257\nv\t256\t-3.00\nsolo\t256\n", "v\t256\t-3.00|solo\t256|!\t257|!\t-6|!\t40\n"}};
  // clang-format on
  // Every key off its default and every table full comes back whole.
  const std::string keys =
      "dv\tplughw:CARD=Interface,DEV=0\nsr\t96000\ninputs\t256\noutputs\t256\nch\t256\nbuf\t4096\nint\t0\n"
      "clock\tsc\npeak\tnp\ni\t4096\no\t409600\ne\t8192\nnudge\t0.1250\nproll\t2.500\naud\t1.50\nxfade\t20.0\n"
      "mem\t12345\nodcomp\t6\nmix\t2\nmeter\t-90\ntmode\t1\ntempo\t140.25\nsig\t3\nsafe\t1\nlatcomp\t1537";
  std::string full = keys + "\n", bus[2];
  for (int t = 1; t <= kMaxTracks; ++t) {
    full +=
        "v\t" + std::to_string(t) + "\t-" + std::to_string(t % 40 * 0.25) + "\nsolo\t" + std::to_string(t % 3 ? 0 : t);
    bus[t % 2] += std::to_string(t) + ",", full += "\n";
  }
  for (int b = 1; b <= kMaxBusses; ++b) full += "bus\t" + std::to_string(b) + "\t" + bus[b % 2] + "\n";
  for (int slot = 1; slot <= kListSlots; ++slot) full += "rec\t" + std::to_string(slot) + "\tr.txt\n";
  cases.push_back(
      {full, keys + "|solo\t255|v\t38\t-9.50|v\t256\t-4.00|p\t256\t0|bus\t64\t" + bus[0] + "|rec\t128\tr.txt"});
  for (const char* sr : {"8000", "384000", "96000\r", " 22050 "})
    cases.push_back({"sr\t"s + sr + "\nch\t3\n", "sr\t" + std::to_string(std::stoi(sr)) + "|ch\t3"});
  for (const char* sr : {"0", "abc", "44100.5", "-1", "1e9", "nan", "7999", "384001", "+48000", "4294967296", "48000x",
                         "inf", "0x1F400"}) {
    cases.push_back({"sr\t"s + sr + "\nch\t3\n", "sr\t44100|ch\t3", RateRefused(sr)});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 120));
    std::string printed, again, written = "\n";  // appended, not "\n" + text: GCC 12 at -O3 warns falsely of that
    written += ReadAndWrite(c.text, printed);
    EXPECT_EQ(printed, c.printed);
    std::istringstream lines(c.lines);
    for (std::string l; std::getline(lines, l, '|');)
      EXPECT_EQ(written.find(l[0] == '!' ? l.substr(1) : "\n" + l + "\n") == std::string::npos, l[0] == '!') << l;
    EXPECT_EQ(ReadAndWrite(written, again), written.substr(1)) << "what was read is written to read back";
  }
}

TEST(Guide, ItsSessionRunsAsWrittenOnTheSimulatedCard) {
  std::ifstream file(TAPELOOM_GUIDE);
  std::map<std::string, std::string> blocks;  // the text of the guide's fenced blocks by their info word, in turn
  std::string line, info;
  for (bool inside = false; std::getline(file, line);) {
    if (line.starts_with("```")) info = (inside = !inside) ? line.substr(3) : "";
    if (inside && !line.starts_with("```")) blocks[info] += line + "\n";
  }
  std::string& params = blocks["param.txt"];
  const std::size_t dv = params.find("dv\t");
  ASSERT_FALSE(blocks["typed"].empty() || blocks["expect"].empty() || dv == std::string::npos) << TAPELOOM_GUIDE;
  ConsoleSession session;
  session.Write("param.txt", params.replace(dv, params.find('\n', dv) - dv, "dv\ttapeloom_sim"));  // the simulated card
  for (const char* name : {"play.txt", "record.txt"}) session.Write(name, blocks[name]);
  for (const char* name : {"bass.wav", "keys.wav"})
    WriteBytes(session / name, WaveBuilder().Samples(PositionCoded(30 * 48000)).Build());
  WriteBytes(session / "card-in.raw", Pack24(Samples(2 * 60 * 48000, 1000)));  // a minute to record
  const RunResult run = session.Run(blocks["typed"]);
  EXPECT_EQ(run.status, 0) << run.err;
  std::istringstream lines(blocks["expect"]);
  std::size_t at = 0;
  for (std::string l; std::getline(lines, l); at += l.size())
    ASSERT_NE(at = run.out.find(l, at), std::string::npos) << "not printed where the guide says: " << l << run.out;
  // What the session leaves: the recorded files, the mix, and a backup of each file the punch-in replaced into.
  for (const char* name : {"vocal.wav", "guitar.wav", "mixdown.wav"}) EXPECT_TRUE(session.Exists(name)) << name;
  const std::vector<std::string> files = session.Files();
  EXPECT_EQ(std::ranges::count_if(files, [](const std::string& f) { return f.find("_bkup_") != f.npos; }), 2);
}

}  // namespace
}  // namespace tapeloom::test
