// The transport-point commands at the real prompt: prompted and typed times in seconds and
// measure.beat, refusals that change nothing, nudges, copies and jumps.
#include <gtest/gtest.h>

#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

class PointCommandsConsole : public ConsoleTest {
 protected:
  // The short status line at 48000 Hz and 128-frame periods.
  std::string Run(const std::string& settings, const std::string& input) {
    return Prompt(SimCardParams(2, 2, 4, 128) + "int\t0\n" + settings, input);
  }
};

std::string Line(const char* play, const char* rec, const char* stop, const char* mem) {
  return std::string("Play: ") + play + "   Rec: " + rec + "   Stop: " + stop + "   Mem: " + mem + "\n";
}

TEST_F(PointCommandsConsole, PromptedSeconds) {
  EXPECT_EQ(Run("", "i\n2\no\n1\no\n5.5\ne\n0.001\ns\n"),
            Line("0.00", "0.00", "0.00", "0.00") + "Enter in-time in seconds.\n" +
                Line("2.00", "0.00", "0.00", "0.00") + "Enter out-time in seconds.\n" +
                Line("2.00", "0.00", "0.00", "0.00") + "Enter out-time in seconds.\n" +
                Line("2.00", "0.00", "5.50", "0.00") + "Enter recording start time in seconds.\n" +
                Line("2.00", "0.00", "5.50", "0.00") + "\nStored Settings\n" + Line("2.00", "0.00", "5.50", "0.00"));
  // 5.5 s is 264000 frames, rounded up to 264064; 0.001 s is one period of 128 frames.
  EXPECT_NE(Saved().find("\ni\t96000\no\t264064\ne\t128\n"), std::string::npos);
}

TEST_F(PointCommandsConsole, APromptedLetterIsNotAlsoATypedTime) {
  // After "e" has asked its question, the letter must not set the record start to 0 again.
  Run("", "e\n3\ns\n");
  EXPECT_NE(Saved().find("\ne\t144000\n"), std::string::npos);
}

TEST_F(PointCommandsConsole, UnreadableAnswerChangesNothing) {
  Run("i\t96000\n", "i\nsoon\ns\n");
  EXPECT_NE(Saved().find("\ni\t96000\n"), std::string::npos);
}

TEST_F(PointCommandsConsole, TypedSeconds) {
  EXPECT_EQ(Run("", "i12.5\no0.5\no20\ne3\ni.5\ni\n"),
            Line("0.00", "0.00", "0.00", "0.00") + Line("12.50", "0.00", "0.00", "0.00") +
                Line("12.50", "0.00", "0.00", "0.00") + Line("12.50", "0.00", "20.00", "0.00") +
                Line("12.50", "3.00", "20.00", "0.00") + Line("12.50", "3.00", "20.00", "0.00") +
                "Enter in-time in seconds.\n");
}

TEST_F(PointCommandsConsole, TypedTextThatIsNoNumberReadsAsZero) {
  Run("i\t96000\no\t192000\ne\t48000\n", "ex\ns\n");
  EXPECT_NE(Saved().find("\ni\t96000\no\t192000\ne\t0\n"), std::string::npos);
}

TEST_F(PointCommandsConsole, StopEqualToThePlayStart) {
  Run("i\t96000\n", "o2\ns\n");
  EXPECT_NE(Saved().find("\no\t96000\n"), std::string::npos) << "accepted in seconds";
  Run("tmode\t1\ni\t96000\n", "o2\no2.2\ns\n");
  // In tempo mode an equal stop is refused; measure 2 beat 2 is 2.5 s.
  EXPECT_NE(Saved().find("\no\t120064\n"), std::string::npos);
}

TEST_F(PointCommandsConsole, PromptedMeasureAndBeat) {
  const std::string out = Run("tmode\t1\n", "i\n0\n0.5\no\n3\n2.5\ne\n2\n3\n");
  EXPECT_EQ(out,
            "Play: 1.1.00   Rec: 1.1.00   Stop: 1.1.00   Mem: 1.1.00\n"
            "Enter measure for playback start time.\nEnter beat for playback start time.\n"
            "Play: 1.1.00   Rec: 1.1.00   Stop: 1.1.00   Mem: 1.1.00\n"
            "Enter measure for stop time.\nEnter beat for stop time.\n"
            "Play: 1.1.00   Rec: 1.1.00   Stop: 3.2.50   Mem: 1.1.00\n"
            "Enter measure for recording start time.\nEnter beat for recording start time.\n"
            "Play: 1.1.00   Rec: 2.3.00   Stop: 3.2.50   Mem: 1.1.00\n");
}

TEST_F(PointCommandsConsole, TypedMeasureAndBeat) {
  const std::string out = Run("tmode\t1\n", "i3\no5.3\ne3.0.5\ni0\n");
  EXPECT_EQ(out,
            "Play: 1.1.00   Rec: 1.1.00   Stop: 1.1.00   Mem: 1.1.00\n"
            "Play: 3.1.00   Rec: 1.1.00   Stop: 1.1.00   Mem: 1.1.00\n"
            "Play: 3.1.00   Rec: 1.1.00   Stop: 5.3.00   Mem: 1.1.00\n"
            "Play: 3.1.00   Rec: 3.1.00   Stop: 5.3.00   Mem: 1.1.00\n"
            "Play: 1.1.00   Rec: 3.1.00   Stop: 5.3.00   Mem: 1.1.00\n");
}

TEST_F(PointCommandsConsole, NudgesWithTheDefaultStep) {
  // 0.25 s at 48000 Hz is 12000 frames, rounded up to 94 periods of 128: 12032. The play start
  // 24000 is rounded to 24064 at start-up.
  Run("i\t24000\no\t96000\ne\t48000\n", "n\nb\nb\nb\nno\nne\nbe\nbe\nN\ns\n");
  EXPECT_NE(Saved().find("\ni\t12032\no\t120064\ne\t48000\n"), std::string::npos) << Saved();
}

TEST_F(PointCommandsConsole, NudgeAmount) {
  const std::string out = Run("", "nn\n0\nnn\n0.1\nn\ns\n");
  EXPECT_EQ(out, Line("0.00", "0.00", "0.00", "0.00") + "\nNudge Amount = 12032 samples, 0.251 sec\n" +
                     "Enter new nudge amount (in sec) or '0' to keep settings\n" +
                     Line("0.00", "0.00", "0.00", "0.00") + "\nNudge Amount = 12032 samples, 0.251 sec\n" +
                     "Enter new nudge amount (in sec) or '0' to keep settings\n" +
                     "Nudge amount will be set to 4864 samples, 0.101 sec\n" + Line("0.00", "0.00", "0.00", "0.00") +
                     Line("0.10", "0.00", "0.00", "0.00") + "\nStored Settings\n" +
                     Line("0.10", "0.00", "0.00", "0.00"));
  EXPECT_NE(Saved().find("\nnudge\t0.1000\n"), std::string::npos) << "the amount as typed, not rounded";
}

TEST_F(PointCommandsConsole, CopiesAndJumps) {
  Run("i\t10000\no\t30000\ne\t4000\nmem\t77\n", "J\ni.m\nj\nm.e\ns\n");
  // Start-up rounds 10000 to 10112 and 30000 to 30080; J: 0..10112; i.m: mem 0; j: 10112..20224.
  EXPECT_NE(Saved().find("\ni\t10112\no\t20224\ne\t0\n"), std::string::npos) << Saved();
  EXPECT_NE(Saved().find("\nmem\t0\n"), std::string::npos);
}

TEST_F(PointCommandsConsole, StopAtTheEndOfTheLongestPlayingFile) {
  WriteBytes(session / "short.wav", WaveBuilder().Samples(PositionCoded(1000)).Build());
  WriteBytes(session / "long.wav", WaveBuilder().Samples(PositionCoded(4801)).Build());
  WriteBytes(session / "beyond.wav", WaveBuilder().Samples(PositionCoded(9000)).Build());
  // Only the first ch (4) entries count; skip lines are not measured; the stop is not rounded
  // and may lie before the play start.
  session.Write("play.txt", "short.wav\n-long.wav\n\nlong.wav\nmissing.wav\nbeyond.wav\n");
  const std::string out = Run("i\t96000\n", "f\ns\n");
  EXPECT_EQ(out, Line("2.00", "0.00", "0.00", "0.00") +
                     "Checking file short.wav\nChecking file long.wav\nChecking file missing.wav\n" +
                     Line("2.00", "0.00", "0.10", "0.00") + "\nStored Settings\n" +
                     Line("2.00", "0.00", "0.10", "0.00"));
  EXPECT_NE(Saved().find("\no\t4801\n"), std::string::npos);
}

}  // namespace
}  // namespace tapeloom::test
