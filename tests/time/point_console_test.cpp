// Transport points, locate points and ranges at the real prompt, as one table: the settings, the
// words typed, the texts that must appear in that order, and what "s" saves. Then the stop at
// the longest track and all 64 points of each kind through a save and a new start.
#include <gtest/gtest.h>

#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

class PointConsole : public ConsoleTest {
 protected:
  // The short status line at 48000 Hz and 128-frame periods.
  std::string Run(const std::string& settings, const std::string& input) {
    return Prompt(SimCardParams(2, 2, 4, 128) + "int\t0\n" + settings, input);
  }
};

std::string Line(const char* play, const char* rec, const char* stop, const char* mem = "0.00") {
  return std::string("Play: ") + play + "   Rec: " + rec + "   Stop: " + stop + "   Mem: " + mem + "\n";
}

const std::string kZero = Line("0.00", "0.00", "0.00");
const std::string kMeasuresZero = "Play: 1.1.00   Rec: 1.1.00   Stop: 1.1.00   Mem: 1.1.00\n";
const std::string kRangeEdit = "Enter 'n' to change region name\nEnter 'k' to delete region\nEnter 'c' to continue\n";

TEST_F(PointConsole, EveryCommand) {
  struct Case {
    std::string settings, typed;
    std::vector<std::string> shown;  // in this order; with the first status line when "*" leads
    std::vector<std::string> saved;
  };
  const Case cases[] = {
      // Prompted seconds; 5.5 s is 264000 frames, rounded up to 264064; 0.001 s is one period.
      {"",
       "i\n2\no\n1\no\n5.5\ne\n0.001\ns\n",
       {kZero + "Enter in-time in seconds.\n" + Line("2.00", "0.00", "0.00") + "Enter out-time in seconds.\n" +
        Line("2.00", "0.00", "0.00") + "Enter out-time in seconds.\n" + Line("2.00", "0.00", "5.50") +
        "Enter recording start time in seconds.\n" + Line("2.00", "0.00", "5.50") + "\nStored Settings\n"},
       {"\ni\t96000\no\t264064\ne\t128\n"}},
      // A prompted letter is not also a typed time; an unreadable answer changes nothing; typed
      // text that is no number reads as 0.
      {"", "e\n3\ns\n", {}, {"\ne\t144000\n"}},
      {"i\t96000\n", "i\nsoon\ns\n", {}, {"\ni\t96000\n"}},
      {"i\t96000\no\t192000\ne\t48000\n", "ex\ns\n", {}, {"\ni\t96000\no\t192000\ne\t0\n"}},
      {"",
       "i12.5\no0.5\no20\ne3\ni.5\ni\n",
       {kZero + Line("12.50", "0.00", "0.00") + Line("12.50", "0.00", "0.00") + Line("12.50", "0.00", "20.00") +
        Line("12.50", "3.00", "20.00") + Line("12.50", "3.00", "20.00") + "Enter in-time in seconds.\n"},
       {}},
      // A stop equal to the play start: accepted in seconds, refused in measures (2.2 is 2.5 s).
      {"i\t96000\n", "o2\ns\n", {}, {"\no\t96000\n"}},
      {"tmode\t1\ni\t96000\n", "o2\no2.2\ns\n", {}, {"\no\t120064\n"}},
      {"tmode\t1\n",
       "i\n0\n0.5\no\n3\n2.5\ne\n2\n3\n",
       {kMeasuresZero + "Enter measure for playback start time.\nEnter beat for playback start time.\n" +
        kMeasuresZero + "Enter measure for stop time.\nEnter beat for stop time.\n" +
        "Play: 1.1.00   Rec: 1.1.00   Stop: 3.2.50   Mem: 1.1.00\n" +
        "Enter measure for recording start time.\nEnter beat for recording start time.\n" +
        "Play: 1.1.00   Rec: 2.3.00   Stop: 3.2.50   Mem: 1.1.00\n"},
       {}},
      {"tmode\t1\n",
       "i3\no5.3\ne3.0.5\ni0\n",
       {"Play: 3.1.00   Rec: 1.1.00   Stop: 5.3.00   Mem: 1.1.00\n"
        "Play: 3.1.00   Rec: 3.1.00   Stop: 5.3.00   Mem: 1.1.00\n"
        "Play: 1.1.00   Rec: 3.1.00   Stop: 5.3.00   Mem: 1.1.00\n"},
       {}},
      // Nudges by 0.25 s: 12000 frames rounded up to 12032; the play start 24000 is rounded to
      // 24064 at start-up. The amount is saved as typed.
      {"i\t24000\no\t96000\ne\t48000\n",
       "n\nb\nb\nb\nno\nne\nbe\nbe\nN\ns\n",
       {},
       {"\ni\t12032\no\t120064\ne\t48000\n"}},
      {"",
       "nn\n0\nnn\n0.1\nn\ns\n",
       {"\nNudge Amount = 12032 samples, 0.251 sec\nEnter new nudge amount (in sec) or '0' to keep settings\n" + kZero,
        "Enter new nudge amount (in sec) or '0' to keep settings\nNudge amount will be set to 4864 samples, 0.101 "
        "sec\n" +
            kZero + Line("0.10", "0.00", "0.00")},
       {"\nnudge\t0.1000\n"}},
      // Copies and jumps: start-up rounds 10000 to 10112 and 30000 to 30080; J: 0..10112; i.m:
      // mem 0; j: 10112..20224.
      {"i\t10000\no\t30000\ne\t4000\nmem\t77\n",
       "J\ni.m\nj\nm.e\ns\n",
       {},
       {"\ni\t10112\no\t20224\ne\t0\n", "\nmem\t0\n"}},
      // Locate points: stored, refused beyond 64, recalled; an unknown letter recalls nothing.
      {"i\t96000\ne\t48000\n",
       "i.l\n3\ne.l\n65\nl.o\n3\nl.x\n3\n",
       {"Locate Points:\n\nEnter locate point number (1-64)\nStored locate point\n",
        "Locate Points:\n3\t2.00\t(name)\n\nEnter locate point number (1-64)\n" + Line("2.00", "1.00", "0.00") +
            "Locate Points:\n3\t2.00\t(name)\nEnter a locate point number (1-64)\n" + Line("2.00", "1.00", "2.00") +
            "Locate Points:\n3\t2.00\t(name)\nEnter a locate point number (1-64)\n" + Line("2.00", "1.00", "2.00")},
       {}},
      // A point at 0 is not listed.
      {"",
       "i.l\n1\nll\nc\nl.e\n1\n",
       {kZero + "Locate Points:\nEnter 'n' to change name\nEnter 'k' to delete point\nEnter 'c' to continue\n" + kZero +
        "Locate Points:\nEnter a locate point number (1-64)\n" + kZero},
       {}},
      // Renaming and deleting; a name given to an empty slot is kept but not listed or saved.
      {"loc\t4800\tintro\nloc\t9600\tverse\n",
       "ll\nn\n2\nchorus\nk\n1\nn\n9\nlater\nc\ns\n",
       {"Locate Points:\n1\t0.10\tintro\n2\t0.20\tverse\n",
        "Enter locate point\nEnter a name for point 2\nLocate Points:\n1\t0.10\tintro\n2\t0.20\tchorus\n",
        "Enter locate point number\nLocate Points:\n2\t0.20\tchorus\n"},
       {"\nLocate Points:\nloc\t9600\tchorus\n\nPlaylist Files:"}},
      {"tmode\t1\nloc\t96000\t(name)\nloc\t72000\tpickup\n",
       "ll\nc\n",
       {"Locate Points:\n1\t2.1.00\t(name)\n2\t1.4.00\tpickup\n"},
       {}},
      // Ranges stored (a name or 0), recalled, an empty one refused, deleted.
      {"i\t48000\no\t96000\n",
       ".io\nio.\n3\nverse\nio.\n5\n0\nJ\n.io\n4\n.io\n3\nlio\nk\n3\nc\n",
       {"No locations available\n" + Line("1.00", "0.00", "2.00") +
            "All locations available\nEnter location to store to (1-64)\nEnter a range name or '0' to skip\n",
        "Loc\tIn\tOut\tName\n3\t1.00\t2.00\tverse\nEnter location to store to (1-64)\n",
        Line("0.00", "0.00", "1.00") + "Loc\tIn\tOut\tName\n3\t1.00\t2.00\tverse\n5\t1.00\t2.00\t(name)\n" +
            "Enter location to recall (1-64)\nLocation 4 is empty\n",
        "Enter location to recall (1-64)\n" + Line("1.00", "0.00", "2.00"),
        kRangeEdit + "Enter the range number\nLoc\tIn\tOut\tName\n5\t1.00\t2.00\t(name)\n" + kRangeEdit},
       {}},
      // With nothing stored the recall asks no number: "3" reaches the prompt.
      {"", ".io\n3\ni1\n", {kZero + "No locations available\n" + kZero + kZero + Line("1.00", "0.00", "0.00")}, {}},
      {"", "lio\n", {kZero + "No range locations to edit\n" + kZero}, {}},
      {"tmode\t1\ni\t96000\no\t192000\n",
       "io.\n1\nchorus\nlio\nn\n1\nbridge\nc\n",
       {"Loc\tIn\tOut\tName\n1\t2.1.00\t3.1.00\tchorus\n",
        "Enter a new range name\nLoc\tIn\tOut\tName\n1\t2.1.00\t3.1.00\tbridge\n"},
       {}},
      // Long names are cut to their slot.
      {"i\t4800\no\t9600\n",
       "io.\n1\n" + std::string(80, 'a') + "\ns\n",
       {},
       {"\nrange\t4864\t9600\t" + std::string(63, 'a') + "\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings + " | " + c.typed);
    const std::string out = Run(c.settings, c.typed);
    std::size_t at = 0;
    for (const std::string& piece : c.shown) {
      const std::size_t found = out.find(piece, at);
      ASSERT_NE(found, std::string::npos) << piece << "\nnot found in order in:\n" << out;
      at = found + piece.size();
    }
    for (const std::string& piece : c.saved) EXPECT_NE(Saved().find(piece), std::string::npos) << piece << Saved();
  }
}

TEST_F(PointConsole, StopAtTheEndOfTheLongestPlayingFile) {
  WriteBytes(session / "short.wav", WaveBuilder().Samples(PositionCoded(1000)).Build());
  WriteBytes(session / "long.wav", WaveBuilder().Samples(PositionCoded(4801)).Build());
  WriteBytes(session / "beyond.wav", WaveBuilder().Samples(PositionCoded(9000)).Build());
  // Only the first ch (4) entries count; skip lines are not measured; the stop is not rounded
  // and may lie before the play start.
  session.Write("play.txt", "short.wav\n-long.wav\n\nlong.wav\nmissing.wav\nbeyond.wav\n");
  EXPECT_EQ(Run("i\t96000\n", "f\ns\n"),
            Line("2.00", "0.00", "0.00") +
                "Checking file short.wav\nChecking file long.wav\nChecking file missing.wav\n" +
                Line("2.00", "0.00", "0.10") + "\nStored Settings\n" + Line("2.00", "0.00", "0.10"));
  EXPECT_NE(Saved().find("\no\t4801\n"), std::string::npos);
}

TEST_F(PointConsole, AllSixtyFourOfEachSurviveSaveAndRestart) {
  // Every slot filled through the console, from slot 64 down to slot 1.
  std::string input;
  for (int k = 64; k >= 1; --k) {
    const std::string slot = std::to_string(k);
    input += "i" + slot + "\no" + std::to_string(k + 100) + "\nio.\n" + slot + "\nr" + slot + "\ni.l\n" + slot + "\n";
  }
  Run("", input + "ll\nn\n7\nseven\nc\ns\n");
  const std::string saved = Saved();
  for (int k = 1; k <= 64; ++k) {
    const std::string range = "range\t" + std::to_string(k * 48000) + "\t" + std::to_string((k + 100) * 48000) + "\tr";
    EXPECT_NE(saved.find(range + std::to_string(k) + "\n"), std::string::npos) << k;
  }
  EXPECT_NE(saved.find("loc\t336000\tseven\n"), std::string::npos);

  // A new start reads all 64 back, packed in their order.
  const std::string again = session.Run(".io\n64\nll\nc\n").out;
  for (const char* piece : {"64\t64.00\t164.00\tr64\n", "Locate Points:\n1\t1.00\t(name)\n2\t2.00\t(name)\n",
                            "7\t7.00\tseven\n", "64\t64.00\t(name)\n"}) {
    EXPECT_NE(again.find(piece), std::string::npos) << piece;
  }
}

}  // namespace
}  // namespace tapeloom::test
