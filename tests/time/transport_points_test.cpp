// Setting the transport points: typed times, the stop's acceptance rules, nudges, copies and
// jumps.
#include <gtest/gtest.h>

#include <climits>

#include "time/transport_points.h"

namespace tapeloom {
namespace {

SessionSettings At48k() {
  SessionSettings s;
  s.sr = 48000;
  return s;
}

TEST(SetPointFromSeconds, RoundsToPeriodsAndGuardsTheStop) {
  SessionSettings s = At48k();
  SetPointFromSeconds(s, TransportPoint::In, 1.0f, 256);
  EXPECT_EQ(s.i, 48128);
  SetPointFromSeconds(s, TransportPoint::Out, 0.5f, 256);
  EXPECT_EQ(s.o, 0) << "a stop before the play start is refused";
  SetPointFromSeconds(s, TransportPoint::Out, 1.0f, 256);
  EXPECT_EQ(s.o, 48128) << "a stop equal to the play start is accepted";
  SetPointFromSeconds(s, TransportPoint::Enter, 0.5f, 256);
  EXPECT_EQ(s.e, 24064) << "the record start may lie before the play start";
  SetPointFromSeconds(s, TransportPoint::In, -4.0f, 256);
  EXPECT_EQ(s.i, 0);
}

TEST(SetPointFromSeconds, HugeTimes) {
  SessionSettings s = At48k();
  s.e = 4096;
  SetPointFromSeconds(s, TransportPoint::Enter, 1.0e7f, 1024);
  EXPECT_EQ(s.e, 4096) << "a record start that does not fit stays where it was";
  SetPointFromSeconds(s, TransportPoint::In, 1.0e7f, 1024);
  EXPECT_EQ(s.i, LastWholePeriod(1024));
  SetPointFromSeconds(s, TransportPoint::Out, 1.0e7f, 1024);
  EXPECT_EQ(s.o, LastWholePeriod(1024));
}

TEST(SetPointFromMeasures, StopMustLieAfterThePlayStart) {
  SessionSettings s = At48k();  // 120 bpm, 4 beats per measure: a measure is 2 s
  SetPointFromMeasures(s, TransportPoint::In, 2, 1.0f, 128);
  EXPECT_EQ(s.i, 96000);
  SetPointFromMeasures(s, TransportPoint::Out, 2, 1.0f, 128);
  EXPECT_EQ(s.o, 0) << "an equal stop is refused in tempo mode";
  SetPointFromMeasures(s, TransportPoint::Out, 2, 2.0f, 128);
  EXPECT_EQ(s.o, 120064) << "rounded up to whole periods";
  SetPointFromMeasures(s, TransportPoint::Enter, -3, 1.0f, 128);
  EXPECT_EQ(s.e, 0) << "a position at or below 0 gives 0";
  s.e = 512;
  SetPointFromMeasures(s, TransportPoint::Enter, INT_MAX, 1.0f, 128);
  EXPECT_EQ(s.e, 512);
}

TEST(MeasureBeatFromWord, Forms) {
  const std::pair<const char*, MusicalPosition> cases[] = {
      {"i3", {3, 1.0f}},       {"i3.0", {3, 1.0f}},     {"i3.0.5", {3, 1.0f}}, {"i5.3", {5, 3.0f}},
      {"o12.2.5", {12, 2.5f}}, {"e7.2.5.1", {7, 2.5f}}, {"i", {0, 1.0f}},      {"ix", {0, 1.0f}},
      {"i-2.3", {-2, 3.0f}},   {"e4.x", {4, 1.0f}},     {"o0", {0, 1.0f}},     {"i2.5.", {2, 5.0f}},
  };
  for (const auto& [word, expected] : cases) {
    const MusicalPosition got = MeasureBeatFromWord(word);
    EXPECT_EQ(got.measure, expected.measure) << word;
    EXPECT_FLOAT_EQ(got.beat, expected.beat) << word;
  }
}

TEST(MeasureBeatFromWord, MeasureComesFromTheFirstSixteenCharacters) {
  const std::string zeros(14, '0');
  EXPECT_EQ(MeasureBeatFromWord("i" + zeros + "9.2").measure, 9) << "the 9 is the 16th character";
  EXPECT_EQ(MeasureBeatFromWord("i" + zeros + "09.2").measure, 0) << "the 9 is the 17th character";
  EXPECT_FLOAT_EQ(MeasureBeatFromWord("i" + zeros + "09.2").beat, 2.0f);
  EXPECT_EQ(MeasureBeatFromWord("i99999999999999999").measure, INT_MAX);
}

TEST(CopyPoint, EveryPairAndNothingElse) {
  SessionSettings s;
  s.i = 1;
  s.o = 2;
  s.e = 3;
  s.mem = 4;
  EXPECT_TRUE(CopyPoint(s, "i.o"));
  EXPECT_EQ(s.o, 1);
  EXPECT_TRUE(CopyPoint(s, "e.m"));
  EXPECT_EQ(s.mem, 3);
  EXPECT_TRUE(CopyPoint(s, "m.i"));
  EXPECT_EQ(s.i, 3);
  EXPECT_TRUE(CopyPoint(s, "o.e"));
  EXPECT_EQ(s.e, 1);
  EXPECT_FALSE(CopyPoint(s, "i.x"));
  EXPECT_FALSE(CopyPoint(s, "i.l"));
  EXPECT_FALSE(CopyPoint(s, "io."));
  EXPECT_EQ(s.i, 3);
  EXPECT_EQ(s.o, 1);
  EXPECT_EQ(s.e, 1);
  EXPECT_EQ(s.mem, 3);
}

TEST(Jumps, MoveThePlayRangeByItsLength) {
  SessionSettings s;
  s.i = 10000;
  s.o = 30000;
  s.e = 7;
  JumpAhead(s, 1024);
  EXPECT_EQ(s.i, 30000);
  EXPECT_EQ(s.o, 50000);
  s.i = 10000;
  s.o = 30000;
  JumpBack(s, 1024);
  EXPECT_EQ(s.i, 0) << "not before 0";
  EXPECT_EQ(s.o, 10000);
  EXPECT_EQ(s.e, 7) << "the record start does not move";
  s.i = 2000000000;
  s.o = 2100000000;
  JumpAhead(s, 1024);
  EXPECT_EQ(s.o, LastWholePeriod(1024)) << "no 32-bit overflow";
}

TEST(Nudges, StepAndFloor) {
  SessionSettings s;
  s.i = 100;
  s.o = 5000;
  s.e = 3000;
  EXPECT_TRUE(NudgePoints(s, "b", 1024, 1024));
  EXPECT_EQ(s.i, 0);
  EXPECT_TRUE(NudgePoints(s, "n", 1024, 1024));
  EXPECT_EQ(s.i, 1024);
  EXPECT_TRUE(NudgePoints(s, "no", 1024, 1024));
  EXPECT_EQ(s.o, 6024);
  EXPECT_TRUE(NudgePoints(s, "be", 1024, 1024));
  EXPECT_EQ(s.e, 1976);
  EXPECT_TRUE(NudgePoints(s, "B", 2000, 1024));
  EXPECT_EQ(s.i, 0);
  EXPECT_EQ(s.o, 4024);
  EXPECT_EQ(s.e, 0);
  EXPECT_TRUE(NudgePoints(s, "N", 2000, 1024));
  EXPECT_EQ(s.i, 2000);
  EXPECT_EQ(s.o, 6024);
  EXPECT_EQ(s.e, 2000);
  EXPECT_FALSE(NudgePoints(s, "nn", 2000, 1024));
  s.i = INT_MAX - 1;
  NudgePoints(s, "n", 2000, 1024);
  EXPECT_EQ(s.i, LastWholePeriod(1024));
}

}  // namespace
}  // namespace tapeloom
