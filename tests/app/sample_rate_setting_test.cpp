// `sr` in param.txt: only a whole number of Hz from 8000 to 384000 is taken. Anything else keeps
// the rate the session already has, with a message, so that the card is never opened at 0 Hz
// or at a rate read from part of a number.
#include <gtest/gtest.h>

#include "app/settings_file.h"
#include "support/console_harness.h"

namespace tapeloom {
namespace {

struct Read {
  SessionSettings s;
  std::string printed;
};

Read ReadSettings(const std::string& text) {
  Read read;
  testing::internal::CaptureStdout();
  GET_PARAMS(text, read.s);
  read.printed = testing::internal::GetCapturedStdout();
  return read;
}

TEST(SampleRateSetting, WholeNumbersInRangeAreTaken) {
  const struct {
    std::string field;
    std::uint32_t rate;
  } cases[] = {{"8000", 8000}, {"384000", 384000}, {"48000", 48000}, {"96000\r", 96000}, {" 22050 ", 22050}};
  for (const auto& c : cases) {
    const Read read = ReadSettings("sr\t" + c.field + "\nch\t3\n");
    EXPECT_EQ(read.s.sr, c.rate) << c.field;
    EXPECT_EQ(read.s.ch, 3) << c.field;
    EXPECT_EQ(read.printed, "") << c.field;
  }
}

TEST(SampleRateSetting, AnythingElseKeepsTheRateWithAMessage) {
  const std::string fields[] = {"0",    "abc",    "44100.5", "-1",         "1e9",    "nan", "",
                                "7999", "384001", "+48000",  "4294967296", "48000x", "inf", "0x1F400"};
  for (const std::string& field : fields) {
    const Read read = ReadSettings("sr\t" + field + "\nch\t3\n");
    EXPECT_EQ(read.s.sr, 44100u) << field;
    EXPECT_EQ(read.s.ch, 3) << field;
    EXPECT_EQ(read.printed, "sr \"" + field +
                                "\" in param.txt is not a whole number from 8000 to 384000.\n"
                                "The sample rate stays at 44100 Hz.\n");
  }
}

TEST(SampleRateSetting, ARefusedLineLeavesTheRateOfAnEarlierOne) {
  const Read read = ReadSettings("sr\t48000\nsr\t0\n");
  EXPECT_EQ(read.s.sr, 48000u);
  EXPECT_NE(read.printed.find("The sample rate stays at 48000 Hz.\n"), std::string::npos) << read.printed;
}

TEST(SampleRateSetting, TheValueShownIsCutAtANulAndAtFortyCharacters) {
  const Read read = ReadSettings("sr\t" + std::string(100, '9') + "\nsr\t12" + std::string(1, '\0') + "34\n");
  EXPECT_EQ(read.s.sr, 44100u);
  EXPECT_EQ(read.printed, "sr \"" + std::string(40, '9') +
                              "\" in param.txt is not a whole number from 8000 to 384000.\n"
                              "The sample rate stays at 44100 Hz.\n"
                              "sr \"12\" in param.txt is not a whole number from 8000 to 384000.\n"
                              "The sample rate stays at 44100 Hz.\n");
}

class SampleRateConsole : public test::ConsoleTest {};

// The real program on the simulated card: the session runs, and saves, at the default rate.
TEST_F(SampleRateConsole, ARateOfZeroStartsTheSessionAtTheDefault) {
  Prompt("dv\ttapeloom_sim\nsr\t0\ninputs\t2\noutputs\t2\nch\t4\nbuf\t1024\n", "s\nx\n");
  EXPECT_NE(last.out.find("sr \"0\" in param.txt is not a whole number from 8000 to 384000.\n"
                          "The sample rate stays at 44100 Hz.\n"),
            std::string::npos)
      << last.out;
  EXPECT_NE(last.out.find("Requested Parameters:\nDevice\ttapeloom_sim\nRate\t44100\n"), std::string::npos);
  EXPECT_NE(last.out.find("Play\t1024\t4\t44100\t2\nRecord\t1024\t4\t44100\t2\n"), std::string::npos) << last.out;
  EXPECT_EQ(last.out.find("nan"), std::string::npos);
  EXPECT_EQ(last.err, "");
  EXPECT_NE(Saved().find("\nsr\t44100\n"), std::string::npos) << Saved();
}

}  // namespace
}  // namespace tapeloom
