// The running clock, the level meter and the peak lines, character for character.
#include <gtest/gtest.h>

#include <functional>

#include "audio/metering.h"
#include "audio/peak_reports.h"

namespace tapeloom {
namespace {

std::string Printed(const std::function<void()>& print) {
  testing::internal::CaptureStdout();
  print();
  return testing::internal::GetCapturedStdout();
}

std::string Repeat(char c, int n) { return std::string(static_cast<std::size_t>(n), c); }

TEST(Clock, SecondsAndMeasures) {
  EXPECT_EQ(Printed([] { UpdateClock(1, 96000, 0, 48000, 0, 120.0f, 4); }), "\rclock = 2.00 sec");
  EXPECT_EQ(Printed([] { UpdateClock(2, 95000, 1000, 48000, 0, 120.0f, 4); }), "\nclock = 2.00 sec");
  EXPECT_EQ(Printed([] { UpdateClock(1, 96000, 0, 48000, 1, 120.0f, 4); }), "\rmeasure.beat = 2.1.00 ");
  EXPECT_EQ(Printed([] { UpdateClock(2, 24000, 0, 48000, 1, 120.0f, 4); }), "\nmeasure.beat = 1.2.00 ");
  EXPECT_EQ(Printed([] { UpdateClock(1, 96000, 0, 48000, 3, 120.0f, 4); }), "") << "no other time mode prints";
}

TEST(Clock, Intervals) {
  EXPECT_EQ(ClockInterval(1, 48000), 4000);
  EXPECT_EQ(ClockInterval(2, 48000), 1000);
  EXPECT_EQ(ClockInterval(0, 48000), 4000) << "a hidden clock still paces the meter";
  EXPECT_EQ(ClockInterval(2, 44100), 918);
}

class MeterRun : public testing::Test {
 protected:
  // One meter update on a 30 dB scale falling 7.5 dB per update.
  std::string Update(int peak, int channel, int clockHidden = 0) {
    return Printed([&] { Meter(state, peak, 30.0f, &reset, clockHidden, channel, 7.5f); });
  }
  MeterState state;
  int reset = 1;
};

TEST_F(MeterRun, BarFallsHoldMarkStaysOverSticks) {
  // -15 dB is 12 bars of 1.25 dB; the hold mark is at the bar's end, so the channel follows.
  EXPECT_EQ(Update(1491728, 2), "\t -30 dB [" + Repeat('|', 12) + "2" + Repeat(' ', 11) + "] -15 dB   ");
  EXPECT_EQ(reset, 0);
  // Silence: the bar falls by 7.5 dB (6 bars); the hold mark stays at bar 12.
  EXPECT_EQ(Update(0, 2), "\t -30 dB [" + Repeat('|', 6) + Repeat(' ', 6) + "2" + Repeat(' ', 11) + "] -15 dB   ");
  // Below the scale: no bar at all.
  EXPECT_EQ(Update(0, 2), "\t -30 dB [" + Repeat(' ', 12) + "2" + Repeat(' ', 11) + "] -15 dB   ");
  // Full scale: 24 bars, no padding, and the over names its channel from now on.
  EXPECT_EQ(Update(8388608, 1), "\t -30 dB [" + Repeat('|', 24) + "1] OVER CH 1   ");
  // -6 dB after an over: the bar falls from 0 to -7.5 dB (18 bars), the hold mark rises to 19.2.
  EXPECT_EQ(Update(4194304, 2), "\t -30 dB [" + Repeat('|', 18) + "  2" + Repeat(' ', 3) + "] OVER CH 1   ");
  // A quieter peak does not move the hold mark down.
  EXPECT_EQ(Update(1491728, 3),
            "\t -30 dB [" + Repeat('|', 12) + Repeat(' ', 8) + "3" + Repeat(' ', 3) + "] OVER CH 1   ");
}

TEST_F(MeterRun, ResetStartsAfresh) {
  Update(8388608, 4);
  reset = 1;
  EXPECT_EQ(Update(265271, 1), "\t -30 dB [1" + Repeat(' ', 23) + "] -30 dB   ") << "the over and top peak are gone";
}

TEST_F(MeterRun, HiddenClockRewritesTheLine) {
  EXPECT_EQ(Update(0, 1, 1).substr(0, 2), "\r\t");
  EXPECT_EQ(Update(0, 1, 0).substr(0, 1), "\t");
}

TEST_F(MeterRun, SilenceNeverRaisesTheTopPeak) {
  EXPECT_EQ(Update(0, 1), "\t -30 dB [1" + Repeat(' ', 23) + "] -144 dB   ");
}

TEST(Meter, OtherRanges) {
  MeterState state;
  int reset = 1;
  // A 6 dB scale: -3 dB is half of it.
  EXPECT_EQ(Printed([&] { Meter(state, 5938679, 6.0f, &reset, 0, 12, 1.5f); }),
            "\t -6 dB [" + Repeat('|', 12) + "12" + Repeat(' ', 11) + "] -3 dB   ");
  reset = 1;
  // A 120 dB scale: -60 dB is 12 bars of 5 dB.
  EXPECT_EQ(Printed([&] { Meter(state, 8388, 120.0f, &reset, 0, 1, 30.0f); }),
            "\t -120 dB [" + Repeat('|', 12) + "1" + Repeat(' ', 11) + "] -60 dB   ");
}

TEST(CheckPeak, LargestMagnitudeAndLoudestChannel) {
  const std::uint8_t samples[] = {0x01, 0x00, 0x00,   // 1
                                  0x00, 0x00, 0x80,   // -8388608
                                  0xFF, 0xFF, 0x7F,   // 8388607
                                  0xFF, 0xFF, 0xFF};  // -1
  std::array<int, kMaxTracks> peaks{};
  int loudest = 0;
  int loudestChannel = 0;
  CheckPeak(4, 1, peaks, samples, loudest, loudestChannel);
  EXPECT_EQ(peaks[4], 1);
  EXPECT_EQ(loudestChannel, 5);
  CheckPeak(2, 4, peaks, samples, loudest, loudestChannel);
  EXPECT_EQ(peaks[2], 8388608);
  EXPECT_EQ(loudest, 8388608);
  EXPECT_EQ(loudestChannel, 3);
  CheckPeak(7, 1, peaks, samples + 6, loudest, loudestChannel);
  EXPECT_EQ(peaks[7], 8388607);
  EXPECT_EQ(loudestChannel, 3) << "only a louder sample moves the loudest channel";
}

TEST(ShowPeaks, Lines) {
  EXPECT_EQ(Printed([] { ShowPeaks(0, 3, PeakKind::Channel); }), "channel 3: -144 dBFS\n");
  EXPECT_EQ(Printed([] { ShowPeaks(-5, 2, PeakKind::BusLeft); }), "Bus 2 L: -144 dBFS\n");
  EXPECT_EQ(Printed([] { ShowPeaks(0, 9, PeakKind::BusRight); }), "Bus 9 R: -144 dBFS\n");
  EXPECT_EQ(Printed([] { ShowPeaks(4194304, 1, PeakKind::Channel); }), "channel 1: -6.02 dBFS\n");
  EXPECT_EQ(Printed([] { ShowPeaks(4194304, 4, PeakKind::BusRight); }), "Bus 4 R: -6.02 dBFS\n");
  EXPECT_EQ(Printed([] { ShowPeaks(1, 2, PeakKind::Channel); }), "channel 2: -138.47 dBFS\n");
}

TEST(ShowPeaks, FullScaleWarnsAndBeyondIsOver) {
  // Exactly full scale computes to a zero with a minus sign (-20 times log 1).
  EXPECT_EQ(Printed([] { ShowPeaks(8388607, 1, PeakKind::Channel); }), "channel 1: -0.00 dBFS WARNING!\n");
  EXPECT_EQ(Printed([] { ShowPeaks(8388608, 2, PeakKind::Channel); }), "channel 2: 0.00 dBFS OVER!! \n");
  EXPECT_EQ(Printed([] { ShowPeaks(16777216, 2, PeakKind::BusLeft); }), "Bus 2 L: 6.02 dBFS OVER!! \n");
}

TEST(PeakReports, InputChannelsOfTheArmedInputs) {
  std::array<int, kMaxTracks> peaks{};
  std::array<int, kMaxTracks> armed{};
  peaks[0] = 4194304;
  armed[0] = 1;
  armed[2] = 1;        // recorded only silence
  peaks[1] = 8388607;  // not armed: not reported
  EXPECT_EQ(Printed([&] { PrintInputPeaks(peaks, armed, 3); }),
            "\n\nInput Channel Peaks:\n\tchannel 1: -6.02 dBFS\n\tchannel 3: -inf dBFS\n");
}

TEST(PeakReports, OutputsByMixMode) {
  MixPeaks peaks;
  peaks.left = 8388607;
  peaks.right = 0;
  peaks.busLeft[0] = 4194304;
  peaks.busRight[0] = 9000000;
  peaks.busLeft[2] = 1;
  std::array<int, kMaxBusses> active{};
  active[0] = active[2] = active[5] = 1;
  EXPECT_EQ(Printed([&] { PrintOutputPeaks(MixMode::kDirect, peaks, active); }), "\nOutput Channel Peaks:\n\n");
  EXPECT_EQ(Printed([&] { PrintOutputPeaks(MixMode::kStereo, peaks, active); }),
            "\nOutput Channel Peaks:\nchannel 1: -0.00 dBFS WARNING!\nchannel 2: -144 dBFS\n\n");
  const std::string busses =
      "\nBus Peaks:\nBus 3 L: -138.47 dBFS\nBus 3 R: -144 dBFS\nBus 6 L: -144 dBFS\n"
      "Bus 6 R: -144 dBFS\n\n\nOutput Channel Peaks:\nchannel 1: -6.02 dBFS\n"
      "channel 2: 0.61 dBFS OVER!! \n\n";
  EXPECT_EQ(Printed([&] { PrintOutputPeaks(MixMode::kBusPairs, peaks, active); }), busses);
  EXPECT_EQ(Printed([&] { PrintOutputPeaks(MixMode::kMaster, peaks, active); }), busses);
}

}  // namespace
}  // namespace tapeloom
