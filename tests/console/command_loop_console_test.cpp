// The command table's dispatch; the command loop and its dialogues at the real prompt, what they save and do.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <regex>
#include <sstream>
#include <vector>

#include "console/command_table.h"
#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

TEST(CommandTable, EveryWordReachesItsTestsInOrder) {
  // "word:tests" ("!word": the mixer console on); an else chain stops at its first match ("l.l").
  std::istringstream rows(
      "+:1 h:1 opt:2 tempo:3 safe:4 exp-i:5 exp-s:5 mix:6 d:7 io.:9 .io:10 x:11 s:12 p:13 sp:14 i12.5:16 o3:16 "
      "e0.5:16 j:17 J:17 n:18 b:18 N:18 B:18 no:18 bo:18 ne:18 be:18 nn:19 mtr:20 pre:21 cf:22 aa:23 ai:24 ao:24 "
      "ae:24 i.e:25 e.i:25 o.e:25 e.o:25 o.i:25 i.o:25 i.m:25 o.m:25 e.m:25 m.i:25 m.o:25 m.e:25 i.l:26 o.l:26 "
      "e.l:26 m.l:26 l.i:27 l.o:27 l.e:27 l.m:27 ll:28 lio:28 pf:29 rf:29 bus:30 f:31 r_vox2:32 R_take2:32 "
      "ri_take2:32 R_:32 r:33 R:33 ri:33 ma:34 mr:34 lr:35 lp:35 so:36 mod:37 cal:38 disk:39 xr_take:32 "
      "take.low:26 l.l:26 il.x:16,27 !zzz:8 !mod:8,37 hello: io: i.5: X: rr: mixer: c: 0: -: :");
  for (std::string row; rows >> row;) {
    const bool mixer = row.starts_with('!');
    std::string word = row.substr(mixer, row.rfind(':') - mixer), orders;
    OfferToTests(CommandTable(), word, mixer,
                 [&](const CommandTest& test) { orders += std::to_string(test.order) + ","; });
    EXPECT_EQ(orders, row.substr(row.rfind(':') + 1) + (row.ends_with(':') ? "" : ",")) << row;
  }
  // Words beginning with i, o or e are time entries unless they are commands.
  std::istringstream entries(
      "io.:0 io:0 opt:0 exp-s:0 exp-i:0 i.5:0 i.e:0 o.m:0 e.l:0 e.x:0 i12.5:1 i:1 o:1 e:1 ins:1 o2:1 e5.3:1 exp:1 "
      "opt2:1 iox:1");
  for (std::string w; entries >> w;) EXPECT_EQ(IsDirectPointEntry(w.substr(0, w.size() - 2)), w.ends_with('1')) << w;
  // Later tests see the word as a handler that reads answers left it.
  std::vector<int> orders;
  std::string word = "+";
  OfferToTests(CommandTable(), word, false, [&](const CommandTest& test) {
    orders.push_back(test.order);
    if (test.order == 1) word.assign("x");
  });
  EXPECT_EQ(orders, (std::vector<int>{1, 11}));
}

const std::string kStatus = "Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n";

TEST_F(ConsoleTest, CommandLoopAndSettingsDialogues) {
  // clang-format off
  // Settings after the card's lines at 1024-frame periods, short status line, no clock (when they begin with "dv", all of param.txt); the words;
  // what is shown, in this order; what param.txt then holds ("=": what was written). Start-up rounds points up to whole periods.
  const std::string base = SimCardParams(2, 2, 8, 1024) + "int\t0\nclock\thc\n", k128 = SimCardParams(2, 2, 4, 128), full = SimCardParams(2, 2, 8, 1024) + "clock\thc\n";
  const std::string points = "i\t480000\ne\t192000\no\t720000\nmem\t96000\n", bars = "tmode\t1\ni\t96000\ne\t144000\no\t240000\nmem\t12000\n";
  const std::string menu = "\n   '+' for all functions\n   's' to save all settings to param.txt file\n   'x' to exit program\n", help = "\nFunctions:\nMonitoring:\n", helpEnd = "locate point\n\nEnter 'c' continue\n" + ZeroStatusDisplay();
  const std::string seconds = "Time functions:  (memory = 2.00)\n\n   'i' to set play start (10.00)\n   'o' to set play/record stop (15.00)\n   'e' to set record enter (4.00)\n\nTransport:\n   'p' to play from 10.00 to 15.00.\n   'r' to play from 10.00 and record from 10.00 to 15.00.\n   'R' to record without playback from 4.00 to 15.00.\n" + menu;
  const std::string measures = "Time functions:  (memory = 1.1.50)\n\n   'i' to set play start  (2.1.00)\n   'o' to set play/record stop (3.3.00)\n   'e' to set record enter (2.3.00)\n\nTransport:\n   'p' to play from 2.1.00 to 3.3.00\n   'r' to play from 2.1.00 and record from 2.3.00 to 3.3.00\n   'R' to record without playback from 2.3.00 to 3.3.00\n" + menu;
  const auto page = [](const char* clock, const char* peaks, const char* interface) {
    return std::string("\nOptions:\nClock: (now set to ") + clock + ")\n\n  'sc' to stream clock\n  'uc' to unstream clock (default)\n  'hc' to hide clock\n\nPeaks: (now set to " + peaks + ")\n\n  'cp' to check peaks while recording (default)\n  'np' for no peak checking while recording\n\nInterface: (now set to " + interface + ")\n\n  'int0' for minimal interface\n  'int1' for default interface\n\n  'd' if done changing options\n";
  };
  const std::string tempo = "tempo\t90\nsig\t3\n", tempoMenu = "2 = set tempo (90.00)\n3 = set beats per measure (3)\n4 = done\n";
  const std::string on = "Safety mode for replacing files is ON\nEnter '0' to turn off\n", keep = "Enter '2' to keep current settings\n", meter = "Enter Meter Range -120 to -6 (dB) or 0 = off.  Currently at ";
  const std::string choices = "Enter a new filename to load\nor enter a number of a file in the list or\n'rem' to remove a file from the list\n'a'   to add a new file to the list\n'ac'  to add current file to list\n'd'   when done\n";
  const std::string lists = "play\t2\tmix2.txt\n", m2 = "\nPlaylist Files:\n", p1 = m2 + "play\t1\tplay.txt\n" + lists, longName(300, 'n');
  const std::string piped = "Play: 2.00   Rec: 1.00   Stop: 4.00   Mem: 0.00\n";
  const std::string solo = "'a' add, 'r' remove, 'd' done\n", soloStatus = "Play: 0.00   Rec: 0.00   Stop: 0.17   Mem: 0.00\n";
  struct Case {
    std::string settings, words;
    std::vector<std::string> shown, saved;
  };
  const Case cases[] = {
      // The status displays in both time modes; unknown words only show the status again.
      {k128 + points, "hello\nio\ni.5\nc\nx\n", {seconds, seconds, seconds, seconds, seconds}, {"="}}, {k128 + "int\t0\n" + points, "", {"Play: 10.00   Rec: 4.00   Stop: 15.00   Mem: 2.00\n"}, {}}, {k128 + bars, "", {measures}, {}},
      {k128 + "int\t0\ntmode\t1\ntempo\t90\nsig\t3\ni\t192000\n", "", {"Play: 3.1.00   Rec: 1.1.00   Stop: 1.1.00   Mem: 1.1.00\n"}, {}},
      // The help page swallows every word up to "c": "s" and "x" there are not carried out.
      {k128, "h\ns\nx\nc\n+\nc\nx\n", {ZeroStatusDisplay() + help, helpEnd + help, helpEnd}, {"="}}, {k128 + "i\t1000\nrange\t1\t129\tverse\nloc\t130\tlate\nmem\t5\n", "s\n", {"   'x' to exit program\n\nStored Settings\nTime functions:  "}, {"dv\ttapeloom_s", "\ni\t1024\n", "\nmem\t5\n", "\nrange\t128\t256\tverse\n", "\nloc\t256\tlate\n"}},
      // A piped script reads as ever: several words to a line, questions without a line end, menus.
      {k128 + "int\t0\n", "i 2\no 4 e 1\nmod 1\ntempo 2 90 4\ncal 1 2\nlio c\nwhat?\nx\n", {"Enter in-time in seconds.\nPlay: 2.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\nEnter out-time in seconds.\n", "Enter recording start time in seconds.\n" + piped + "\nCurrently using mixmode [0]:\n", "Select a mix mode\n" + piped + "1 = toggle tempo mode (off)\n",
       "Enter tempo (beats per minute)\n2 = set tempo (90.00)\n3 = set beats per measure (4)\n4 = done\n" + piped + "\nLatency calibration", "Output (1 to 2; a word that is no number: 1): Input (1 to 2; a word that is no number: 1): Playing clicks", "Nothing was changed.\n" + piped + "No range locations to edit\n" + piped + piped + piped}, {}},
      // Options; "int1" takes effect at the next status display.
      {"", "opt\nsc\nnp\nzz\nint1\nuc\nint0\nd\ns\n", {kStatus + page("hc", "cp", "int0") + page("sc", "cp", "int0") + page("sc", "np", "int0") + page("sc", "np", "int0") + page("sc", "np", "int1") + page("uc", "np", "int1") + page("uc", "np", "int0") + kStatus}, {"\nclock\tuc\n", "\npeak\tnp\n", "\nint\t0\n"}},
      {"", "opt\nint1\nd\n", {"options\nTime functions:"}, {}},
      // Tempo: the toggle line first and after each toggle, with the mode pending. The tempo (1 to 400; "nan" is none) and beats (1 to 128) keep their value outside their limits; a choice above 3 leaves; toggled twice the mode is as it began; an unreadable choice is read over.
      {tempo, "tempo\n1\n2\n100\n4\ns\n", {kStatus + "1 = toggle tempo mode (off)\n" + tempoMenu + "1 = toggle tempo mode (on)\n" + tempoMenu + "Enter tempo (beats per minute)\n2 = set tempo (100.00)\n3 = set beats per measure (3)\n4 = done\nPlay: 1.1.00   Rec: 1.1.00   Stop: 1.1.00   Mem: 1.1.00\n"}, {"\ntmode\t1\n", "\ntempo\t100.00\n"}},
      {tempo, "tempo\n2\n0.5\n4\ns\n", {}, {"\ntempo\t120.00\n", "\nsig\t3\n", "\ntmode\t0\n"}}, {tempo, "tempo\n2\n400\n4\ns\n", {}, {"\ntempo\t400.00\n"}}, {tempo, "tempo\n2\n1\n4\ns\n", {}, {"\ntempo\t1.00\n"}}, {tempo, "tempo\n2\n400.5\n5\ns\n", {}, {"\ntempo\t120.00\n"}}, {tempo, "tempo\n2\nnan\n-1\ns\n", {}, {"\ntempo\t90.00\n"}},
      {tempo, "tempo\n3\n0\n4\ns\n", {}, {"\nsig\t4\n"}}, {tempo, "tempo\n3\n128\n4\ns\n", {}, {"\nsig\t128\n"}}, {tempo, "tempo\n3\n129\n4\ns\n", {}, {"\nsig\t4\n"}}, {tempo, "tempo\n1\n1\n4\ns\n", {}, {"\ntmode\t0\n"}}, {tempo, "tempo\nx\n0\n1\n9\ns\n", {}, {"\ntmode\t1\n", "\ntempo\t90.00\n"}},
      // Safety mode, preroll, crossfade and audition lengths.
      {"safe\t0\n", "safe\nx\n1\ns\n", {kStatus + "Safety mode for replacing files is OFF\nEnter '1' to turn on\n" + keep + "Safety mode is ON\n" + kStatus}, {"\nsafe\t1\n"}}, {"safe\t1\n", "safe\n0\ns\n", {kStatus + on + keep + "Safety mode is OFF\n" + kStatus}, {"\nsafe\t0\n"}},
      {"safe\t1\n", "safe\n2\ns\n", {kStatus + on + keep + kStatus}, {"\nsafe\t1\n"}}, {"safe\t5\n", "safe\n2\ns\n", {kStatus + "Safety mode for replacing files is OFF\n" + keep + kStatus + "\nStored"}, {"\nsafe\t5\n"}},
      {"proll\t0.5\n", "pre\n1.0\ns\n", {kStatus + "Preroll is set to 0.500 secs\nEnter new preroll or 'd' for done\n" + kStatus}, {"\nproll\t1.000\n"}}, {"proll\t0.5\n", "pre\n-2\ns\n", {}, {"\nproll\t0.000\n"}}, {"proll\t0.5\n", "pre\nnan\ns\n", {}, {"\nproll\t0.000\n"}}, {"proll\t0.5\n", "pre\nd\ns\n", {}, {"\nproll\t0.500\n"}},
      {"xfade\t10\n", "cf\n-5\n-1\n20\ns\n", {kStatus + "Crossfade is currently set to 10.0 milliseconds.\nEnter 'd' if done or enter a new value\n" + kStatus}, {"\nxfade\t20.0\n"}}, {"xfade\t10\n", "cf\nabc\ns\n", {}, {"\nxfade\t0.0\n"}}, {"xfade\t10\n", "cf\nd\ns\n", {}, {"\nxfade\t10.0\n"}},
      {"aud\t2.5\n", "aa\n4\ns\n", {kStatus + "Enter audition time (currently 2.5 sec)\n" + kStatus}, {"\naud\t4.00\n"}}, {"aud\t2.5\n", "aa\n0\ns\n", {}, {"\naud\t0.00\n"}}, {"aud\t2.5\n", "aa\ninf\ns\n", {}, {"\naud\t2.50\n"}},
      // The meter's range is -120 to -7, or 0 (off); -6 keeps the range in force, which the second "mtr" shows.
      {"meter\t-30\n", "mtr\n-200\nmtr\n-6\ns\n", {kStatus + meter + "-30 dB\n" + kStatus + meter + "-120 dB\n" + kStatus}, {"\nmeter\t-120\n"}}, {"meter\t-30\n", "mtr\n-3\nmtr\n-6\ns\n", {meter + "-6 dB\n"}, {"\nmeter\t-6\n"}}, {"meter\t-30\n", "mtr\n0\nmtr\n-6\ns\n", {meter + "0 dB\n"}, {"\nmeter\t0\n"}},
      {"meter\t-30\n", "mtr\n-6\nmtr\n-6\ns\n", {}, {"\nmeter\t-30\n"}}, {"meter\t-30\n", "mtr\n-7\nmtr\n-6\ns\n", {}, {"\nmeter\t-7\n"}}, {"meter\t-30\n", "mtr\n5\nmtr\n-6\ns\n", {}, {"\nmeter\t-6\n"}}, {"meter\t-30\n", "mtr\nx\nmtr\n-6\ns\n", {}, {"\nmeter\t-30\n"}}, {"meter\t0\n", "mtr\n-6\nmtr\n-6\ns\n", {}, {"\nmeter\t0\n"}},
      // New lengths act in the next runs: a preroll moves the start of "ri" (1 s is 47 periods); an audition length (0 keeps the 3 s in force) the stop of "ai".
      {full + "meter\t0\ni\t98304\no\t108544\n", "pre\n1.0\nri\ndel\n", {"playback start = 1.05 sec\nrecord start   = 2.05 sec\n"}, {}}, {full + "i\t49152\no\t98304\n", "aa\n0.5\nai\n", {"playback start = 1.02 sec\nplayback stop  = 1.52 sec\n"}, {}}, {full + "i\t49152\no\t98304\n", "aa\n0\nai\n", {"playback stop  = 4.02 sec\n"}, {}},
      // List selection: a slot into use; a copy of the list in use into slot 5; a number that is no slot is a name, a word beginning with a slot number picks the slot, an empty slot empties slot 1; removals and additions within 1 to 128; a long name kept whole. "rem" of slot 1 leaves no playlist: the next run asks for one.
      {lists, "pf\n2\ns\n", {kStatus + "Stored playlist filenames:\n1\tplay.txt\n2\tmix2.txt\n\nCurrently playing from play.txt\n\n" + choices + "Set to play from mix2.txt\n\n" + kStatus}, {m2 + "play\t1\tmix2.txt\n" + lists + "\n"}},
      {"", "rf\nac\n5\nd\n", {"Stored recordlist filenames:\n1\trecord.txt\n\nCurrently recording to record.txt\n\n" + choices + "Enter the list position (1-128)\nSet to record from record.txt\n\nStored recordlist filenames:\n1\trecord.txt\n5\trecord.txt\n"}, {}}, {lists, "pf\nb.txt\ns\n", {}, {m2 + "play\t1\tb.txt\n" + lists + "\n"}},
      {lists, "pf\n200\ns\n", {}, {m2 + "play\t1\t200\n" + lists + "\n"}}, {lists, "pf\n0\ns\n", {}, {m2 + "play\t1\t0\n" + lists + "\n"}}, {lists, "pf\n2b.txt\ns\n", {}, {m2 + "play\t1\tmix2.txt\n" + lists + "\n"}}, {lists, "pf\n7\ns\n", {}, {m2 + lists + "\n"}}, {lists, "pf\nrem\n2\nd\ns\n", {}, {m2 + "play\t1\tplay.txt\n\n"}},
      {lists, "pf\nrem\n129\nd\ns\n", {}, {p1 + "\n"}}, {lists, "pf\na\nx.txt\n128\nd\ns\n", {}, {p1 + "play\t128\tx.txt\n\n"}}, {lists, "pf\na\n" + longName + "\n3\nd\ns\n", {}, {p1 + "play\t3\t" + longName + "\n\n"}},
      {"", "pf\nrem\n1\nd\np\nplay.txt\n", {"Set to play from \n\n" + kStatus + "Cannot find playlist file called \nCreate the file or enter a different name\nPlaying...\n"}, {}},
      // Solo: tracks added (out-of-range numbers and unreadable words skipped) and removed.
      {"o\t8192\n", "so\na\n1,3,9,x\nzz\nr\n3\nd\nsp\ns\n",
       {soloStatus + "Solo Enabled Tracks: (none)\n" + solo + "Enter track number to add, or multiple if comma separated\nSolo Enabled Tracks: 1 3\n" + solo + "Solo Enabled Tracks: 1 3\n" + solo + "Enter track number to remove, or multiple if comma separated\nSolo Enabled Tracks: 1\n" + solo + soloStatus + "Playing...\nTracks are soloed\n"},
       {"\nSolo Settings:\nsolo\t1\n\n"}}};
  // clang-format on
  std::vector<std::int32_t> input(2 * 120000, 1000);  // a loud moment, then quiet
  std::fill_n(input.begin(), 2 * 8192, 8000000);
  WriteBytes(session / "card-in.raw", Pack24(input));
  WriteBytes(session / "t1.wav", WaveBuilder().Samples(std::vector<std::int32_t>(20000, 100)).Build());
  WriteBytes(session / "t2.wav", WaveBuilder().Samples(std::vector<std::int32_t>(20000, 200)).Build());
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
  }
  // Only the soloed track 1 reaches the card; track 2 is silent.
  const std::vector<std::int32_t> played = Unpack24(ReadBytes(session / "card-out.raw"));
  ASSERT_GT(played.size(), 2u * 5000);
  EXPECT_TRUE(played[2 * 5000] == 100 && played[2 * 5000 + 1] == 0) << played[2 * 5000] << " " << played[2 * 5000 + 1];
  EXPECT_FALSE(session.Exists("param.txt.tmp"));
  // Recording 48 periods: a meter turned on falls as one on from the start; a clock counts every period.
  const auto recording = [&](const std::string& settings, const std::string& words) {
    const std::string out = Prompt(SimCardParams(2, 2, 8, 1024) + "int\t0\no\t49152\n" + settings, words + "R\ndel\n");
    return out.substr(out.find("Recording...") + 13, out.find("Input Channel Peaks") - out.find("Recording...") - 13);
  };
  EXPECT_EQ(recording("clock\tuc\nmeter\t0\n", "mtr\n-30\n"), recording("clock\tuc\nmeter\t-30\n", ""));
  std::string clock = recording("clock\tsc\nmeter\t0\n", ""), periods;
  for (int k = 1; k <= 48; ++k) {
    char line[40];
    std::snprintf(line, sizeof line, "\nclock = %.2f sec", static_cast<double>(1024.0f * k / 48000.0f));
    periods += line;
  }
  EXPECT_TRUE(clock.starts_with(periods)) << clock;
  EXPECT_TRUE(std::regex_match(clock.substr(periods.size()), std::regex("(\nclock = [0-9.]+ sec)*\n\n\n"))) << clock;
  // A new crossfade of 20 ms (960 frames) takes effect: from the old audio (2^20) to the take (2^21).
  WriteBytes(session / "card-in.raw", Pack24(std::vector<std::int32_t>(2 * 20000, 2 << 20)));
  WriteBytes(session / "a.wav", WaveBuilder().Samples(std::vector<std::int32_t>(20000, 1 << 20)).Build());
  Prompt(SimCardParams(2, 2, 8, 1024) + "int\t0\nxfade\t0\ne\t4096\no\t12288\n", "cf\n20\nR\nins\n");
  const Bytes a = ReadBytes(session / "a.wav");
  const std::vector<std::int32_t> samples = Unpack24(std::span<const unsigned char>(a).subspan(44));
  ASSERT_EQ(samples.size(), 20000u);
  EXPECT_EQ(samples[4096], 1 << 20);
  EXPECT_EQ(samples[4576], static_cast<int>(0x100000 * std::cos(0.785398163) + 0x200000 * std::sin(0.785398163)));
  EXPECT_EQ(samples[4096 + 960], 2 << 20);
  // A save that fails leaves the old file and says why.
  session.Write("param.txt", k128);
  last = session.Run("s\nx\n", std::chrono::seconds(120), 200);
  EXPECT_NE(last.out.find("Could not write param.txt: File too large\n"), std::string::npos) << last.out;
  EXPECT_EQ(last.out.find("Stored Settings"), std::string::npos);
  EXPECT_EQ(Saved(), k128);
}

}  // namespace
}  // namespace tapeloom::test
