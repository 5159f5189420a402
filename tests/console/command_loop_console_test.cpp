// The command table's dispatch; the command loop and its dialogues at the real prompt, what they save and do.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <sstream>
#include <vector>

#include "console/command_table.h"
#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

// Equal and contained words, the else chain that stops at its first match, the mixer's own test, words nothing takes.
TEST(CommandTable, EveryWordReachesItsTestsInOrder) {
  // "word:tests" ("!word": the mixer console on).
  std::istringstream rows(
      "+:1 h:1 x:11 i12.5:16 o3:16 e0.5:16 J:17 be:18 ae:24 i.e:25 m.e:25 i.l:26 l.i:27 lio:28 rf:29 bus:30 f:31 "
      "r_vox2:32 R_:32 R:33 ri:33 xr_take:32 take.low:26 l.l:26 il.x:16,27 !zzz:8 !mod:8,37 hello: io: i.5: X: rr: "
      "mixer: 0: :");
  for (std::string row; rows >> row;) {
    const bool mixer = row.starts_with('!');
    std::string word = row.substr(mixer, row.rfind(':') - mixer), orders;
    OfferToTests(CommandTable(), word, mixer, [&](const CommandTest& t) { orders += std::to_string(t.order) + ","; });
    EXPECT_EQ(orders, row.substr(row.rfind(':') + 1) + (row.ends_with(':') ? "" : ",")) << row;
  }
  // Words beginning with i, o or e are time entries unless they are commands.
  std::istringstream entries(
      "io.:0 io:0 opt:0 exp-s:0 exp-i:0 i.5:0 i.e:0 o.m:0 e.l:0 e.x:0 i12.5:1 i:1 o:1 e:1 ins:1 o2:1 e5.3:1 exp:1 "
      "opt2:1 iox:1");
  for (std::string w; entries >> w;) EXPECT_EQ(IsDirectPointEntry(w.substr(0, w.size() - 2)), w.ends_with('1')) << w;
  // Later tests see the word as a handler that reads answers left it.
  std::string word = "+", orders;
  OfferToTests(CommandTable(), word, false,
               [&](const CommandTest& t) { orders += std::to_string(t.order), word = "x"; });
  EXPECT_EQ(orders, "111");
}

const std::string kStatus = "Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n";

TEST_F(ConsoleTest, CommandLoopAndSettingsDialogues) {
  // clang-format off
  // Settings after the card's lines ("dv...": all of param.txt); the words; what is shown, in this order; what
  // param.txt then holds ("=": what was written); a pattern and what its matches captured. Points round up to periods.
  const std::string base = SimCardParams(2, 2, 8, 1024) + "int\t0\nclock\thc\n", k128 = SimCardParams(2, 2, 4, 128), full = SimCardParams(2, 2, 8, 1024) + "clock\thc\n";
  const std::string points = "i\t480000\ne\t192000\no\t720000\nmem\t96000\n", bars = "tmode\t1\ni\t96000\ne\t144000\no\t240000\nmem\t12000\n";
  const std::string menu = "\n   '+' for all functions\n   's' to save all settings to param.txt file\n   'x' to exit program\n", help = "\nFunctions:\nMonitoring:\n", z = ZeroStatusDisplay(), helpEnd = "locate point\n\nEnter 'c' continue\n" + z, number = "([0-9][0-9.]*[0-9])";
  const std::string options = "\nOptions:\nClock: (now set to hc)\n\n  'sc' to stream clock\n  'uc' to unstream clock (default)\n  'hc' to hide clock\n\nPeaks: (now set to cp)\n\n  'cp' to check peaks while recording (default)\n  'np' for no peak checking while recording\n\nInterface: (now set to int0)\n\n  'int0' for minimal interface\n  'int1' for default interface\n\n  'd' if done changing options\n";
  const std::string tempo = "tempo\t90\nsig\t3\n";
  const std::string on = "Safety mode for replacing files is ON\nEnter '0' to turn off\n", keep = "Enter '2' to keep current settings\n", meter = "Enter Meter Range -120 to -6 (dB) or 0 = off.  Currently at ";
  const std::string choices = "Enter a new filename to load\nor enter a number of a file in the list or\n'rem' to remove a file from the list\n'a'   to add a new file to the list\n'ac'  to add current file to list\n'd'   when done\n";
  const std::string lists = "play\t2\tmix2.txt\n", m2 = "\nPlaylist Files:\n", longName(300, 'n');
  const std::string solo = "'a' add, 'r' remove, 'd' done\n", soloStatus = "Play: 0.00   Rec: 0.00   Stop: 0.17   Mem: 0.00\n";
  struct Case {
    std::string settings, words;
    std::vector<std::string> shown, saved;
    std::string pattern = "", values = "";  // every match's group, joined by spaces
  };
  const Case cases[] = {
      // Unknown words only show the status again; the full status in both time modes shows each point in its place.
      {k128, "hello\nio\ni.5\nc\nx\n", {z, z, z, z, z}, {"="}}, {k128 + points, "", {}, {}, number, "2.00 10.00 15.00 4.00 10.00 15.00 10.00 10.00 15.00 4.00 15.00"}, {k128 + bars, "", {"   'R' to record without playback from 2.3.00 to 3.3.00\n" + menu}, {}, number, "1.1.50 2.1.00 3.3.00 2.3.00 2.1.00 3.3.00 2.1.00 2.3.00 3.3.00 2.3.00 3.3.00"},
      // The help page swallows every word up to "c": "s" and "x" there are not carried out.
      {k128, "h\ns\nx\nc\n+\nc\nx\n", {z + help, helpEnd + help, helpEnd}, {"="}}, {k128 + "i\t1000\nrange\t1\t129\tverse\nloc\t130\tlate\nmem\t5\n", "s\n", {"   'x' to exit program\n\nStored Settings\nTime functions:  "}, {"dv\ttapeloom_s", "\ni\t1024\n", "\nmem\t5\n", "\nrange\t128\t256\tverse\n", "\nloc\t256\tlate\n"}},
      // Options; "int1" takes effect at the next status display.
      {"", "opt\nsc\nnp\nzz\nint1\nuc\nint0\nint1\nd\ns\n", {kStatus + options, "'d' if done changing options\nTime functions:"}, {"\nclock\tuc\n", "\npeak\tnp\n", "\nint\t1\n"}, "now set to ([a-z0-9]+)", "hc cp int0 sc cp int0 sc np int0 sc np int0 sc np int1 uc np int1 uc np int0 uc np int1"},
      // Tempo 1 to 400 (else 120; "nan": none), beats 1 to 128 (else 4); 1 toggles the mode, choices not 0-3 leave.
      {tempo, "tempo\n2\n0.5\n2\n400\n2\nnan\n2\n400.5\n2\n1\n3\n0\n3\n128\n3\n129\nx\n1\n1\n5\ntempo\n1\n-1\ns\n", {}, {"\ntmode\t1\n", "\ntempo\t1.00\n", "\nsig\t4\n"}, "\\(([a-z]+|[0-9.]+)\\)\n", "off 90.00 3 120.00 3 400.00 3 400.00 3 120.00 3 1.00 3 1.00 4 1.00 128 1.00 4 1.00 4 on 1.00 4 off 1.00 4 off 1.00 4 on 1.00 4"},
      // Safety mode; a value that is neither on nor off is shown as off and kept by '2'.
      {"safe\t5\n", "safe\n2\nsafe\nx\n1\nsafe\n0\nsafe\n2\ns\n", {kStatus + "Safety mode for replacing files is OFF\n" + keep + kStatus, "OFF\n" + keep + "Safety mode is ON\n" + kStatus + on + keep + "Safety mode is OFF\n" + kStatus + "Safety mode for replacing files is OFF\nEnter '1' to turn on\n" + keep + kStatus}, {"\nsafe\t0\n"}},
      // Preroll <0: 0; crossfade <0: asked again; audition 0 keeps its length; meter -120 to -7 or 0, -6 keeps it, above: -6.
      {"proll\t0.5\nxfade\t10\naud\t2.5\nmeter\t-30\n", "pre\nnan\npre\n1.0\npre\nd\npre\n-2\npre\nd\ncf\nd\ncf\n-5\n-1\n20\ncf\nabc\ncf\nd\naa\ninf\naa\n4\naa\n0\naa\nd\nmtr\n-6\nmtr\n-200\nmtr\n-6\nmtr\n-3\nmtr\n0\nmtr\n-6\nmtr\n-7\nmtr\nx\nmtr\n5\nmtr\n-6\ns\n", {kStatus + "Preroll is set to 0.500 secs\nEnter new preroll or 'd' for done\n" + kStatus, "Crossfade is currently set to 10.0 milliseconds.\nEnter 'd' if done or enter a new value\n" + kStatus, "Enter audition time (currently 2.5 sec)\n" + kStatus, meter + "-30 dB\n" + kStatus}, {"\nproll\t0.000\n", "\nxfade\t0.0\n", "\naud\t0.00\n", "\nmeter\t-6\n"}, "(?:set to|currently|at) (-?[0-9.]+)", "0.500 0.000 1.000 1.000 0.000 10.0 10.0 20.0 0.0 2.5 2.5 4.0 4.0 -30 -30 -120 -120 -6 0 0 -7 -7 -6"},
      // A new preroll acts in the next run: it moves the start of "ri" (1 s is 47 periods).
      {full + "meter\t0\ni\t98304\no\t108544\n", "pre\n1.0\nri\ndel\n", {"playback start = 1.05 sec\nrecord start   = 2.05 sec\n"}, {}},
      // Lists: a slot into use, the one in use copied to slot 5; a number that is no slot is a name, "2b.txt" picks
      // slot 2, an empty slot empties slot 1; slots 1 to 128; a long name kept whole.
      {lists, "pf\n2\ns\n", {kStatus + "Stored playlist filenames:\n1\tplay.txt\n2\tmix2.txt\n\nCurrently playing from play.txt\n\n" + choices + "Set to play from mix2.txt\n\n" + kStatus}, {m2 + "play\t1\tmix2.txt\n" + lists + "\n"}},
      {"", "rf\nac\n5\nd\n", {"Stored recordlist filenames:\n1\trecord.txt\n\nCurrently recording to record.txt\n\n" + choices + "Enter the list position (1-128)\nSet to record from record.txt\n\nStored recordlist filenames:\n1\trecord.txt\n5\trecord.txt\n"}, {}},
      {lists, "pf\n200\npf\n0\npf\n2b.txt\npf\na\nx.txt\n128\nrem\n129\na\n" + longName + "\n3\nrem\n2\n7\ns\n", {"Set to play from 200\n", "Set to play from 0\n", "Set to play from mix2.txt\n", "filenames:\n1\tmix2.txt\n2\tmix2.txt\n3\t" + longName + "\n128\tx.txt\n\n", "filenames:\n1\tmix2.txt\n3\t" + longName + "\n128\tx.txt\n\n", "Set to play from \n"}, {m2 + "play\t3\t" + longName + "\nplay\t128\tx.txt\n\n"}},
      // Solo: tracks added (out-of-range numbers and unreadable words skipped) and removed.
      {"o\t8192\n", "so\na\n1,3,9,x\nzz\nr\n3\nd\nsp\ns\n", {soloStatus + "Solo Enabled Tracks: (none)\n" + solo + "Enter track number to add, or multiple if comma separated\nSolo Enabled Tracks: 1 3\n" + solo + "Solo Enabled Tracks: 1 3\n" + solo + "Enter track number to remove, or multiple if comma separated\nSolo Enabled Tracks: 1\n" + solo + soloStatus + "Playing...\nTracks are soloed\n"}, {"\nSolo Settings:\nsolo\t1\n\n"}}};
  // clang-format on
  Samples input(2 * 120000, 1000);  // a loud moment, then quiet
  std::fill_n(input.begin(), 2 * 8192, 8000000);
  WriteBytes(session / "card-in.raw", Pack24(input));
  WriteBytes(session / "t1.wav", WaveBuilder().Samples(Samples(20000, 100)).Build());
  WriteBytes(session / "t2.wav", WaveBuilder().Samples(Samples(20000, 200)).Build());
  session.Write("play.txt", "t1.wav\nt2.wav\n");
  session.Write("record.txt", "a.wav\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words.substr(0, 60));
    const std::string settings = c.settings.starts_with("dv") ? c.settings : base + c.settings;
    const std::string out = Prompt(settings, c.words);
    std::size_t at = std::string::npos;  // each piece begins after the one before began
    for (const std::string& piece : c.shown)
      ASSERT_NE(at = out.find(piece, at + 1), std::string::npos) << piece << " not in order in " << out;
    for (const std::string& piece : c.saved)
      EXPECT_TRUE(piece == "=" ? Saved() == settings : Saved().find(piece) != std::string::npos) << piece << Saved();
    std::string values;
    const std::regex pattern(c.pattern.empty() ? "^$" : c.pattern);
    for (std::sregex_iterator m(out.begin(), out.end(), pattern), end; m != end; ++m)
      values += (values.empty() ? "" : " ") + (*m)[1].str();
    EXPECT_EQ(values, c.values);
  }
  // Recording 48 periods: a meter turned on falls as one on from the start; a clock counts every period.
  const auto recording = [&](const std::string& settings, const std::string& words) {
    const std::string out = Prompt(SimCardParams(2, 2, 8, 1024) + "int\t0\no\t49152\n" + settings, words + "R\ndel\n");
    return out.substr(out.find("Recording...") + 13, out.find("Input Channel Peaks") - out.find("Recording...") - 13);
  };
  EXPECT_EQ(recording("clock\tuc\nmeter\t0\n", "mtr\n-30\n"), recording("clock\tuc\nmeter\t-30\n", ""));
  const std::string clock = recording("clock\tsc\nmeter\t0\n", "");  // 17 characters a period: the 48th says 1.02
  EXPECT_TRUE(std::regex_match(clock, std::regex("\nclock = 0.02 sec(\nclock = [0-9.]+ sec)*\n\n\n")) &&
              clock.find("\nclock = 1.02 sec") == 47 * 17)
      << clock;
  // A new crossfade of 20 ms (960 frames) takes effect: from the old audio (2^20) to the take (2^21).
  WriteBytes(session / "card-in.raw", Pack24(Samples(2 * 20000, 2 << 20)));
  WriteBytes(session / "a.wav", WaveBuilder().Samples(Samples(20000, 1 << 20)).Build());
  Prompt(SimCardParams(2, 2, 8, 1024) + "int\t0\nxfade\t0\ne\t4096\no\t12288\n", "cf\n20\nR\nins\n");
  const Samples samples = Unpack24(std::span<const unsigned char>(ReadBytes(session / "a.wav")).subspan(44));
  const int half = static_cast<int>(0x100000 * std::cos(0.785398163) + 0x200000 * std::sin(0.785398163));
  ASSERT_EQ(samples.size(), 20000u);
  EXPECT_TRUE(samples[4096] == 1 << 20 && samples[4576] == half && samples[5056] == 2 << 20) << samples[4576];
  // A save that fails leaves the old file and says why.
  session.Write("param.txt", k128);
  last = session.Run("s\nx\n", std::chrono::seconds(120), 200);
  EXPECT_NE(last.out.find("Could not write param.txt: File too large\n"), std::string::npos) << last.out;
  EXPECT_TRUE(last.out.find("Stored Settings") == std::string::npos && Saved() == k128);
}

}  // namespace
}  // namespace tapeloom::test
