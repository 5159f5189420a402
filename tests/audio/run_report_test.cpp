// The list after a run of where it lost audio: the channels named as a reader would say them,
// positions as the clock shows them, the disk's stretches joined, the lines in timeline order.
#include <gtest/gtest.h>

#include "audio/run_report.h"

namespace tapeloom {
namespace {

TEST(RunReport, ChannelsAndPositionsAsTheUserReadsThem) {
  const std::pair<std::vector<int>, const char*> lists[] = {
      {{3}, "input 3"},
      {{1, 2}, "inputs 1 and 2"},
      {{1, 2, 3, 4, 5, 6, 7, 8}, "inputs 1 to 8"},
      {{1, 3, 4, 5, 7}, "inputs 1, 3 to 5 and 7"},
      {{2, 4}, "inputs 2 and 4"},
  };
  for (const auto& [numbers, text] : lists) EXPECT_EQ(ChannelList("input", "inputs", numbers), text);

  SessionSettings s;
  s.sr = 48000;
  EXPECT_EQ(ClockText(592320, s), "12.34 s");
  EXPECT_EQ(ClockText(-100, s), "0.00 s") << "the silent block before the play start shows as its start";
  s.tmode = 1;  // 120 beats a minute, 4 a measure: a beat is 24000 frames
  EXPECT_EQ(ClockText(96000 + 12000, s), "measure.beat 2.1.50");
}

TEST(RunReport, OneLinePerEventInTimelineOrderTheDisksStretchesJoined) {
  SessionSettings s;
  s.sr = 48000;
  RunEvents events;
  events.Add(RunEventKind::kTracksLate, 96000, 4096);
  events.Add(RunEventKind::kTracksLate, 100096, 4096);  // continues the one before
  events.Add(RunEventKind::kOverrun, 48000, 4800);
  events.Add(RunEventKind::kTakesLate, 144000, 24000);
  events.Add(RunEventKind::kUnderrun, 240000, 0);
  testing::internal::CaptureStdout();
  PrintRunEvents(events, {.tracks = {1, 2}, .inputs = {3}}, s);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\nrecord overrun at 1.00 s: 0.10 s of input were not recorded (silence in the takes)\n"
            "the disk fell behind at 2.00 s: 0.17 s of tracks 1 and 2 could not be read in time\n"
            "the disk fell behind at 3.00 s: 0.50 s of input 3 were not recorded\n"
            "play underrun at 5.00 s\n");
  testing::internal::CaptureStdout();
  PrintRunEvents(RunEvents(), {}, s);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "a run without a loss says nothing more";
}

}  // namespace
}  // namespace tapeloom
