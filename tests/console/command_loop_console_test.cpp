// The command loop of the real program: both status displays in both time modes, the help
// page, save and exit.
#include <gtest/gtest.h>

#include "support/console_harness.h"

namespace tapeloom::test {
namespace {

// Whole seconds at 48000 Hz are whole 128-frame periods, so start-up rounding keeps them.
constexpr int k1s = 48000;

class CommandLoopConsole : public ConsoleTest {
 protected:
  // Starts a session with these extra settings and `input`; returns what followed the report.
  std::string Prompted(const std::string& settings, const std::string& input) {
    return Prompt(SimCardParams(2, 2, 4, 128) + settings, input);
  }
};

const std::string kMenuLines =
    "\n   '+' for all functions\n   's' to save all settings to param.txt file\n   'x' to exit program\n";

TEST_F(CommandLoopConsole, FullDisplayInSeconds) {
  const std::string points = "i\t" + std::to_string(10 * k1s) + "\ne\t" + std::to_string(4 * k1s) + "\no\t" +
                             std::to_string(15 * k1s) + "\nmem\t" + std::to_string(2 * k1s) + "\n";
  EXPECT_EQ(Prompted(points, "x\n"),
            "Time functions:  (memory = 2.00)\n\n"
            "   'i' to set play start (10.00)\n"
            "   'o' to set play/record stop (15.00)\n"
            "   'e' to set record enter (4.00)\n"
            "\nTransport:\n"
            "   'p' to play from 10.00 to 15.00.\n"
            "   'r' to play from 10.00 and record from 10.00 to 15.00.\n"
            "   'R' to record without playback from 4.00 to 15.00.\n" +
                kMenuLines);
}

TEST_F(CommandLoopConsole, ShortLineShowsTheRecordStartItself) {
  const std::string points = "int\t0\ni\t" + std::to_string(10 * k1s) + "\ne\t" + std::to_string(4 * k1s) + "\no\t" +
                             std::to_string(15 * k1s) + "\nmem\t" + std::to_string(2 * k1s) + "\n";
  EXPECT_EQ(Prompted(points, "what\nx\n"),
            "Play: 10.00   Rec: 4.00   Stop: 15.00   Mem: 2.00\n"
            "Play: 10.00   Rec: 4.00   Stop: 15.00   Mem: 2.00\n");
}

TEST_F(CommandLoopConsole, FullDisplayInMeasures) {
  // 120 beats per minute, 4 beats per measure: 2 s = measure 2 beat 1, 3 s = measure 2 beat 3.
  const std::string points = "tmode\t1\ni\t" + std::to_string(2 * k1s) + "\ne\t" + std::to_string(3 * k1s) + "\no\t" +
                             std::to_string(5 * k1s) + "\nmem\t" + std::to_string(k1s / 4) + "\n";
  EXPECT_EQ(Prompted(points, "x\n"),
            "Time functions:  (memory = 1.1.50)\n\n"
            "   'i' to set play start  (2.1.00)\n"
            "   'o' to set play/record stop (3.3.00)\n"
            "   'e' to set record enter (2.3.00)\n"
            "\nTransport:\n"
            "   'p' to play from 2.1.00 to 3.3.00\n"
            "   'r' to play from 2.1.00 and record from 2.3.00 to 3.3.00\n"
            "   'R' to record without playback from 2.3.00 to 3.3.00\n" +
                kMenuLines);
}

TEST_F(CommandLoopConsole, ShortLineInMeasures) {
  const std::string points = "int\t0\ntmode\t1\ntempo\t90\nsig\t3\ni\t" + std::to_string(4 * k1s) + "\n";
  // 4 s at 90 beats per minute is 6 beats: measure 3, beat 1.
  EXPECT_EQ(Prompted(points, "x\n"), "Play: 3.1.00   Rec: 1.1.00   Stop: 1.1.00   Mem: 1.1.00\n");
}

const std::string kHelpPage =
    "\nFunctions:\n"
    "Monitoring:\n"
    "   'ma' to monitor all input channels for peaks \n"
    "   'mr' to monitor record enabled channels for peaks \n"
    "Assignments:\n"
    "   'lr' to list record ready tracks.\n"
    "   'lp' to list play ready tracks.\n"
    "Mixing:\n"
    "   'mix' to show mixer and adjust volume and pan\n"
    "   'mod' to change mix mode\n"
    "   'bus' to change bus routing\n"
    "File Export:\n"
    "   'exp-i' to export mix as interleaved stereo file\n"
    "   'exp-s' to export mix as split L/R files\n"
    "   's' to save all settings\n"
    "Settings:\n"
    "   'mtr' to adjust meter range\n"
    "   'tempo' to adjust tempo mode and settings\n"
    "   'opt' for options (clock, peaks, interface)\n"
    "   'safe' to view and change safety mode\n"
    "   'so' to view and edit solo assignments\n"
    "   'pre' to set preroll amount\n"
    "   'cal' to measure the card's latency with a loopback cable\n"
    "   'disk' to check that the storage keeps up with a recording\n"
    "Transport:\n"
    "   'i'  'o' or 'e' to set in, out, and record start\n"
    "   'j'  to jump ahead and 'J' to jump backward\n"
    "   'p'  to play\n"
    "   'sp' to play soloed tracks\n"
    "   'pf' to select a playlist file\n"
    "   'rf' to select a recordlist file\n"
    "   'r'  to record with playback\n"
    "   'R'  to record without playback\n"
    "   'ri' to record at in-point with preroll\n"
    "   'R_takeName' to record with preemptive take naming\n"
    "   'f'  to set stop to longest playing file\n"
    "   'cf' to set crossfade length\n"
    "   'ai' to audition from play start\n"
    "   'ao' to audition from play finish\n"
    "   'ae' to audition from record start\n"
    "   'aa' to set audition length\n"
    "   'x'  to exit program\n"
    "Nudging:\n"
    "   'n'  to nudge start forward\n"
    "   'b'  to nudge start backward\n"
    "   'no' and 'bo' to nudge stop point forward/backward\n"
    "   'ne' and 'be' to nudge record start forward/backward\n"
    "   'N'  and 'B' to nudge all\n"
    "   'nn' to set nudge amount\n"
    "Time Copy:\n"
    "   'i.o' 'e.o' or 'm.o' to copy to stop time\n"
    "   'i.m' 'e.m' or 'o.m' to copy to memory\n"
    "   'i.e' 'm.e' or 'o.e' to copy to record start\n"
    "   'e.i' 'm.i' or 'o.i' to copy to play start\n"
    "Locate and Range Points:\n"
    "   'io.' store range and '.io' recall range\n"
    "   'll'  to list locate points\n"
    "   'lio' to view range points\n"
    "   'i.l' 'o.l' or 'e.l' to save times to locate point\n"
    "   'l.i' 'l.o' or 'l.e' to recall times from locate point\n"
    "\nEnter 'c' continue\n";

TEST_F(CommandLoopConsole, HelpPageSwallowsWordsUntilC) {
  const std::string status = ZeroStatusDisplay();
  // "s" and "x" typed on the help page are not carried out.
  EXPECT_EQ(Prompted("", "h\ns\nx\nc\n+\nc\nx\n"), status + kHelpPage + status + kHelpPage + status);
  EXPECT_EQ(session.Read("param.txt"), SimCardParams(2, 2, 4, 128)) << "nothing was saved";
}

TEST_F(CommandLoopConsole, EndOfInputOnTheHelpPageEndsTheSession) {
  EXPECT_EQ(Prompted("", "h\nfoo\n"), ZeroStatusDisplay() + kHelpPage);
}

TEST_F(CommandLoopConsole, SaveWritesEverySettingAndTheRoundedPoints) {
  // Stored points are rounded up to whole periods when the session starts; "s" writes them so.
  const std::string out = Prompted("i\t1000\nrange\t1\t129\tverse\nloc\t130\tlate\nmem\t5\n", "s\nx\n");
  EXPECT_NE(out.find("   'x' to exit program\n\nStored Settings\nTime functions:  "), std::string::npos) << out;
  const std::string saved = session.Read("param.txt");
  EXPECT_NE(saved.find("\ni\t1024\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\nmem\t5\n"), std::string::npos) << "memory is not rounded";
  EXPECT_NE(saved.find("\nrange\t128\t256\tverse\n"), std::string::npos);
  EXPECT_NE(saved.find("\nloc\t256\tlate\n"), std::string::npos);
  EXPECT_EQ(saved.substr(0, 13), "dv\ttapeloom_s");
  EXPECT_FALSE(session.Exists("param.txt.tmp"));
}

TEST_F(CommandLoopConsole, ExitDoesNotSave) {
  const std::string settings = "i\t1000\n";
  Prompted(settings, "x\n");
  EXPECT_EQ(session.Read("param.txt"), SimCardParams(2, 2, 4, 128) + settings);
}

TEST_F(CommandLoopConsole, UnknownWordsOnlyShowTheStatusAgain) {
  const std::string status = ZeroStatusDisplay();
  EXPECT_EQ(Prompted("", "hello\nio\ni.5\nc\nx\n"), status + status + status + status + status);
}

TEST_F(CommandLoopConsole, FailedSaveLeavesTheOldFileAndSaysWhy) {
  // Room for the old settings but not for the whole new text.
  session.Write("param.txt", SimCardParams(2, 2, 4, 128));
  last = session.Run("s\nx\n", std::chrono::seconds(120), 200);
  const std::string out = last.out;
  EXPECT_NE(out.find("Could not write param.txt: File too large\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Stored Settings"), std::string::npos);
  EXPECT_EQ(session.Read("param.txt"), SimCardParams(2, 2, 4, 128));
}

}  // namespace
}  // namespace tapeloom::test
