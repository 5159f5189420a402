// Start-up: the first-run answers and the channel and track resolution.
#include <gtest/gtest.h>

#include <memory>

#include "app/startup.h"
#include "core/program_end.h"
#include "support/typed_input.h"

namespace tapeloom {
namespace {

// Runs the dialogue on `answers`; returns the exit status it ended with, or -1 when it did
// not end the program.
int Dialogue(const std::string& answers, SessionSettings& s, std::string* printed = nullptr) {
  test::TypedInput input(answers);
  testing::internal::CaptureStdout();
  int status = -1;
  try {
    RunFirstRunDialogue(s, input);
  } catch (const ProgramEnd& end) {
    status = end.status();
  }
  const std::string out = testing::internal::GetCapturedStdout();
  if (printed != nullptr) *printed = out;
  return status;
}

TEST(FirstRunDialogue, AnswersFillTheSettings) {
  SessionSettings s;
  std::string printed;
  ASSERT_EQ(Dialogue("c 4 2 8 d 2", s, &printed), -1);
  EXPECT_EQ(s.inputs, 4);
  EXPECT_EQ(s.outputs, 2);
  EXPECT_EQ(s.ch, 8);
  EXPECT_EQ(s.dv, "default");
  EXPECT_EQ(s.sr, 48000u);
  EXPECT_EQ(s.firstRun, 1);
  EXPECT_EQ(printed,
            "\nThe param.txt file was not found.\nParameters are stored in this file.\n"
            "\nEnter 'c' to create this file now or 'x' to exit\n"
            "\nEnter the number of audio interface INPUTS: "
            "\nEnter the number of audio interface OUTPUTS: "
            "\nEnter the maxiumum number of audio TRACKS needed: "
            "\nEnter soundcard device name or 'd' for default: "
            "\nEnter project sample rate or\n1 = 44100,  2 = 48000,  3 = 88200,  4 = 96000\n");
}

TEST(FirstRunDialogue, NumbersReadInTheCManner) {
  SessionSettings s;
  ASSERT_EQ(Dialogue("c 0x10 010 0 hw:1,0 4", s), -1);
  EXPECT_EQ(s.inputs, 16);
  EXPECT_EQ(s.outputs, 8);
  EXPECT_EQ(s.ch, 0);
  EXPECT_EQ(s.dv, "hw:1,0");
  EXPECT_EQ(s.sr, 96000u);
}

TEST(FirstRunDialogue, RateAnswers) {
  // 1 to 4 pick from the list; another number is the rate itself, within what a card takes.
  const std::pair<const char*, unsigned> cases[] = {
      {"1", 44100},   {"3", 88200},    {"5", 44100},       {"96000", 96000},  {"0", 44100},     {"rate", 44100},
      {"8000", 8000}, {"7999", 44100}, {"384000", 384000}, {"384001", 44100}, {"-48000", 44100}};
  for (const auto& [answer, rate] : cases) {
    SessionSettings s;
    ASSERT_EQ(Dialogue(std::string("c 1 1 1 d ") + answer, s), -1);
    EXPECT_EQ(s.sr, rate) << answer;
  }
}

TEST(FirstRunDialogue, WordsBeforeTheChoiceAreIgnored) {
  SessionSettings s;
  ASSERT_EQ(Dialogue("yes please c 2 2 2 d 2", s), -1);
  EXPECT_EQ(s.inputs, 2);
}

TEST(FirstRunDialogue, AnUnreadableNumberIsConsumedAndLeavesTheDefault) {
  SessionSettings s;
  ASSERT_EQ(Dialogue("c four 6 8 card 2", s), -1);
  EXPECT_EQ(s.inputs, -1);
  EXPECT_EQ(s.outputs, 6);
  EXPECT_EQ(s.ch, 8);
  EXPECT_EQ(s.dv, "card");
}

TEST(FirstRunDialogue, LongDeviceNamesAreKeptWhole) {
  SessionSettings s;
  const std::string name(150, 'k');
  ASSERT_EQ(Dialogue("c 2 2 2 " + name + " 2", s), -1);
  EXPECT_EQ(s.dv, name);
}

TEST(FirstRunDialogue, DeclinedWithXOrEndOfInput) {
  SessionSettings s;
  EXPECT_EQ(Dialogue("maybe x c", s), 2);
  EXPECT_EQ(s.firstRun, 0);
  EXPECT_EQ(Dialogue("", s), 2);
  EXPECT_EQ(Dialogue("c 4 2", s), 2) << "input that ends inside the questions";
  EXPECT_EQ(s.firstRun, 0);
}

struct Counts {
  int ch, inputs, outputs;
};

Counts Resolve(Counts given) {
  SessionSettings s;
  s.ch = given.ch;
  s.inputs = given.inputs;
  s.outputs = given.outputs;
  ResolveChannelCounts(s);
  return {s.ch, s.inputs, s.outputs};
}

void ExpectCounts(Counts given, Counts expected) {
  const Counts got = Resolve(given);
  EXPECT_EQ(got.ch, expected.ch) << given.ch << " " << given.inputs << " " << given.outputs;
  EXPECT_EQ(got.inputs, expected.inputs) << given.ch << " " << given.inputs << " " << given.outputs;
  EXPECT_EQ(got.outputs, expected.outputs) << given.ch << " " << given.inputs << " " << given.outputs;
}

TEST(ChannelResolution, Rules) {
  ExpectCounts({-1, -1, -1}, {2, 2, 2});
  ExpectCounts({8, -1, -1}, {8, 8, 2});  // only ch: the inputs follow it
  ExpectCounts({8, -1, 4}, {8, 2, 4});   // inputs follow ch only when outputs are unset too
  ExpectCounts({2, 300, 8}, {256, 256, 8});
  ExpectCounts({1, 4, 2}, {4, 4, 2});  // never fewer tracks than either channel count
  ExpectCounts({0, 0, 0}, {0, 0, 0});
  ExpectCounts({1000, -1, -1}, {256, 256, 2});
  ExpectCounts({-5, 0, 6}, {6, 0, 6});
  ExpectCounts({3, 1, 300}, {256, 1, 256});
}

}  // namespace
}  // namespace tapeloom
