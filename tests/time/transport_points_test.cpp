// The transport points moved every way; with locate points and ranges at the real prompt, and saved.

#include "time/transport_points.h"
#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

const SamplePosition kLast = LastWholePeriod(1024);

// Words in turn: "=I O E M" sets; "sI 2.5 256" seconds, "mI 2 1.5 128" measures; "j" "J" jump; "x.y" copies; nudges.
// clang-format off
TEST(TransportPoints, EveryWayOfMovingThem) {
  struct Row { std::string word; SamplePosition i, o, e, mem; bool taken = true; };
  const Row rows[] = {{"sI 1 256", 48128, 0, 0, 0}, {"sO 0.5 256", 48128, 0, 0, 0}, {"sO 1 256", 48128, 48128, 0, 0}, {"sE 0.5 256", 48128, 48128, 24064, 0}, {"sE 1e7 1024", 48128, 48128, 24064, 0}, {"sI -4 256", 0, 48128, 24064, 0},
      {"sI 1e7 1024", kLast, 48128, 24064, 0}, {"sO 1e7 1024", kLast, kLast, 24064, 0}, {"mI 2 1 128", 96000, kLast, 24064, 0}, {"mO 2 1 128", 96000, kLast, 24064, 0}, {"mO 2 2 128", 96000, 120064, 24064, 0},
      {"mE -3 1 128", 96000, 120064, 0, 0}, {"=0 0 512 0", 0, 0, 512, 0}, {"mE 2147483647 1 128", 0, 0, 512, 0}, {"mE 22370 3 24000", 0, 0, 2147472000, 0}, {"mE 22370 4 24000", 0, 0, 2147472000, 0}, {"=1 2 3 4", 1, 2, 3, 4}, {"i.o", 1, 1, 3, 4}, {"e.m", 1, 1, 3, 3}, {"m.i", 3, 1, 3, 3}, {"o.e", 3, 1, 1, 3},
      {"i.x", 3, 1, 1, 3, false}, {"i.l", 3, 1, 1, 3, false}, {"io.", 3, 1, 1, 3, false}, {"=100 5000 3000 0", 100, 5000, 3000, 0}, {"b", 0, 5000, 3000, 0}, {"n", 1024, 5000, 3000, 0}, {"no", 1024, 6024, 3000, 0},
      {"be", 1024, 6024, 1976, 0}, {"*B", 0, 4024, 0, 0}, {"*N", 2000, 6024, 2000, 0}, {"*nn", 2000, 6024, 2000, 0, false}, {"=2147483646 0 0 0", INT_MAX - 1, 0, 0, 0}, {"*n", kLast, 0, 0, 0}, {"=10000 30000 7 0", 10000, 30000, 7, 0},
      {"j", 30000, 50000, 7, 0}, {"=10000 30000 7 0", 10000, 30000, 7, 0}, {"J", 0, 10000, 7, 0}, {"=2000000000 2100000000 7 0", 2000000000, 2100000000, 7, 0}, {"j", 2100000000, kLast, 7, 0}};
  SessionSettings s; s.sr = 48000;  // 120 bpm, 4 beats: 2 s a measure
  for (const Row& row : rows) {
    const std::string_view w = row.word; const char* args = row.word.c_str() + 2;
    const auto point = [&] { return *PointForLetter(static_cast<char>(w[1] + 'a' - 'A')); };
    int measure = 0, period = 0; float at = 0, beat = 0; bool taken = true;
    if (w[0] == '=') taken = std::sscanf(row.word.c_str(), "=%d %d %d %d", &s.i, &s.o, &s.e, &s.mem) == 4;
    else if (w[0] == 's' && std::sscanf(args, "%f %d", &at, &period) == 2) SetPointFromSeconds(s, point(), at, period);
    else if (w[0] == 'm' && std::sscanf(args, "%d %f %d", &measure, &beat, &period) == 3) SetPointFromMeasures(s, point(), measure, beat, period);
    else if (w == "j" || w == "J") (w == "j" ? JumpAhead : JumpBack)(s, 1024);
    else taken = w.find('.') != w.npos ? CopyPoint(s, w) : NudgePoints(s, w.substr(w[0] == '*'), w[0] == '*' ? 2000 : 1024, 1024);
    EXPECT_EQ((std::tuple{s.i, s.o, s.e, s.mem, taken}), (std::tuple{row.i, row.o, row.e, row.mem, row.taken})) << w;
  }
  // The measure and beat of a typed word, the measure read from its first sixteen characters.
  const std::tuple<std::string, int, float> cases[] = {{"e7.2.5.1", 7, 2.5f}, {"i", 0, 1}, {"ix", 0, 1}, {"i-2.3", -2, 3}, {"e4.x", 4, 1}, {"o0", 0, 1},
      {"i2.5.", 2, 5}, {"i000000000000009.2", 9, 2}, {"i0000000000000009.2", 0, 2}, {"i99999999999999999", INT_MAX, 1}};
  for (const auto& [word, measure, beat] : cases) EXPECT_TRUE(MeasureBeatFromWord(word).measure == measure && MeasureBeatFromWord(word).beat == beat) << word;
}

std::string L(const char* play, const char* rec, const char* stop) {
  return std::string("Play: ") + play + "   Rec: " + rec + "   Stop: " + stop + "   Mem: 0.00\n";
}

const std::string kZero = L("0.00", "0.00", "0.00"), kLoc = "Enter a locate point number (1-64)\n";
const std::string kRanges = "Enter 'n' to change region name\nEnter 'k' to delete region\nEnter 'c' to continue\n";
const std::string kAsk = "Enter location to store to (1-64)\n", kTable = "Loc\tIn\tOut\tName\n";

using PointConsole = ConsoleTest;

// Each command's prompts, refusals and shown points in order, and what is saved.
TEST_F(PointConsole, EveryCommandShowsAndSavesItsPoints) {
  // 128-frame periods, 0.25 s nudges; a stop at the start is refused in measures only; "f" ends at the longest file.
  struct Case { std::string settings, typed; std::vector<std::string> shown, saved; };
  const Case cases[] = {
      {"", "i\n2\no\n1\no\n5.5\ne\n0.001\ns\n", {"Enter in-time in seconds.\n" + L("2.00", "0.00", "0.00") + "Enter out-time in seconds.\n" + L("2.00", "0.00", "0.00") + "Enter out-time"}, {"\ni\t96000\no\t264064\ne\t128\n"}}, {"i\t96000\n", "i\nsoon\ns\n", {}, {"\ni\t96000\n"}}, {"i\t96000\no\t192000\ne\t48000\n", "ex\ns\n", {},       {"\ni\t96000\no\t192000\ne\t0\n"}}, {"", "i12.5\no0.5\no20\ne3\ni.5\ni\n", {L("12.50", "0.00", "0.00") + L("12.50", "0.00", "0.00") + L("12.50", "0.00", "20.00") + L("12.50", "3.00", "20.00") + L("12.50", "3.00", "20.00") +       "Enter in-time"}, {}}, {"tmode\t1\ni\t96000\n", "o2\no2.2\ns\n", {}, {"\no\t120064\n"}}, {"tmode\t1\n", "i\n0\n0.5\no\n3\n2.5\ne\n2\n3\n",       {"Enter measure for playback start time.\nEnter beat for playback start time.\nPlay: 1.1.00", "for stop time.\nPlay: 1.1.00   Rec: 1.1.00   Stop: 3.2.50",       "Enter beat for recording start time.\nPlay: 1.1.00   Rec: 2.3.00"}, {}}, {"tmode\t1\n", "i3\no5.3\ne3.0.5\ni0\n", {"Play: 3.1.00   Rec: 1.1.00   Stop: 5.3.00",       "Play: 3.1.00   Rec: 3.1.00", "Play: 1.1.00   Rec: 3.1.00"}, {}}, {"i\t24000\no\t96000\ne\t48000\n", "n\nb\nb\nb\nno\nne\nbe\nbe\nN\ns\n", {}, {"\ni\t12032\no\t120064\ne\t48000\n"}}, {"", "nn\n0\nnn\n0.1\nn\ns\n",       {"\nNudge Amount = 12032 samples, 0.251 sec\nEnter new nudge amount (in sec) or '0' to keep settings\n" + kZero, "Nudge amount will be set to 4864 samples, 0.101 sec\n" + kZero + L("0.10", "0.00", "0.00")}, {"\nnudge\t0.1000\n"}}, {"i\t96000\ne\t48000\n", "i.l\n64\ne.l\n65\nl.o\n64\nl.x\n64\n",       {"Stored locate point\n", "Locate Points:\n64\t2.00\t(name)\n\nEnter locate point number (1-64)\n" + L("2.00", "1.00", "0.00"), kLoc + L("2.00", "1.00", "2.00") + "Locate Points:\n64\t2.00\t(name)\n" + kLoc + L("2.00", "1.00", "2.00")}, {}}, {"", "i.l\n1\nll\nc\nl.e\n1\n", {"Locate Points:\nEnter 'n' to change name\nEnter 'k' to delete point\nEnter 'c' to continue\n" + kZero + "Locate Points:\n" + kLoc + kZero}, {}}, {"loc\t4800\tintro\nloc\t9600\tverse\n", "ll\nn\n2\nchorus\nk\n1\nn\n9\nlater\nc\ns\n", {"Enter a name for point 2\nLocate Points:\n1\t0.10\tintro\n2\t0.20\tchorus\n", "Enter locate point number\nLocate Points:\n2\t0.20\tchorus\n"}, {"\nLocate Points:\nloc\t9600\tchorus\n\nPlaylist Files:"}}, {"tmode\t1\nloc\t96000\t(name)\nloc\t72000\tpickup\n", "ll\nc\n", {"Locate Points:\n1\t2.1.00\t(name)\n2\t1.4.00\tpickup\n"}, {}}, {"i\t48000\no\t96000\n", ".io\nio.\n3\nverse\nio.\n64\n0\nJ\n.io\n4\n.io\n3\nlio\nk\n3\nc\n",       {"No locations available\n" + L("1.00", "0.00", "2.00") + "All locations available\n" + kAsk + "Enter a range name or '0' to skip\n", kTable + "3\t1.00\t2.00\tverse\n" + kAsk, L("0.00", "0.00", "1.00") + kTable +       "3\t1.00\t2.00\tverse\n64\t1.00\t2.00\t(name)\nEnter location to recall (1-64)\nLocation 4 is empty\n", "Enter location to recall (1-64)\n" + L("1.00", "0.00", "2.00"), "Enter the range number\n" + kTable + "64\t1.00\t2.00\t(name)\n" + kRanges}, {}}, {"tmode\t1\ni\t96000\no\t192000\n",       "io.\n1\nchorus\nlio\nn\n1\nbridge\nc\n", {"Enter a new range name\n" + kTable + "1\t2.1.00\t3.1.00\tbridge\n"}, {}}, {"i\t96000\n", "f\ns\n", {L("2.00", "0.00", "0.00") +       "Checking file short.wav\nChecking file long.wav\nChecking file missing.wav\n" + L("2.00", "0.00", "0.10")}, {"\no\t4801\n"}}, {"i\t4800\no\t9600\n", "io.\n1\n" + std::string(80, 'a') + "\ns\n", {}, {"\nrange\t4864\t9600\t" +       std::string(63, 'a') + "\n"}}};
  session.Write("play.txt", "short.wav\n-long.wav\n\nlong.wav\nmissing.wav\nbeyond.wav\n"); for (const auto& [name,
      frames] : {std::pair{"short.wav", 1000}, {"long.wav", 4801}, {"beyond.wav", 9000}}) WriteBytes(session / name, WaveBuilder().Samples(PositionCoded(frames)).Build());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings + " | " + c.typed.substr(0, 100));
    const std::string out = Prompt(SimCardParams(2, 2, 4, 128) + "int\t0\n" + c.settings, c.typed);
    std::size_t at = std::string::npos;  // each piece begins after the one before began
    for (const std::string& piece : c.shown) ASSERT_NE(at = out.find(piece, at + 1), std::string::npos) << piece << " not in order in " << out;
    for (const std::string& piece : c.saved) EXPECT_NE(Saved().find(piece), std::string::npos) << piece;
  }
}
// clang-format on

}  // namespace
}  // namespace tapeloom::test
