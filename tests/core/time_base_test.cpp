// Period rounding and the conversions between frames, seconds and measure.beat.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "core/time_base.h"

namespace tapeloom {
namespace {

TEST(Quantize, RoundsUpToWholePeriods) {
  EXPECT_EQ(QUANTIZE(1024, 44100, 1.0f), 45056);  // 44 periods: the first not below 44100
  EXPECT_EQ(QUANTIZE(256, 48000, 1.0f), 48128);
  EXPECT_EQ(QUANTIZE(128, 48000, 1.0f), 48000) << "a time on a period boundary stays on it";
  EXPECT_EQ(QUANTIZE(1024, 48000, 0.001f), 1024) << "any positive time is at least one period";
  EXPECT_EQ(QUANTIZE(1000, 5, 0.0001f), 1000);
}

TEST(Quantize, NothingBelowZero) {
  EXPECT_EQ(QUANTIZE(1024, 48000, 0.0f), 0);
  EXPECT_EQ(QUANTIZE(1024, 48000, -3.0f), 0);
  EXPECT_EQ(QUANTIZE(1024, 48000, -0.0f), 0);
  EXPECT_EQ(QUANTIZE(1024, 48000, std::nanf("")), 0);
}

TEST(Quantize, ComparesInSinglePrecision) {
  // 33554435 frames lie below the time asked for, but their single-precision value does not:
  // the search stops at the first period whose float value reaches the time.
  EXPECT_EQ(QUANTIZE(5, 1, 33554436.0f), 33554435);
  // 33554433 is no float: the time is 33554432 frames, which 33554431 already reaches in single
  // precision.
  EXPECT_EQ(QUANTIZE(1, 1, 33554433.0f), 33554431);
}

TEST(Quantize, TimesBeyondThirtyTwoBitsAreClamped) {
  EXPECT_EQ(LastWholePeriod(1024), 2147482624);
  EXPECT_EQ(QUANTIZE(1024, 48000, 1.0e6f), 2147482624);
  EXPECT_TRUE(QuantizeOverflows(1024, 48000, 1.0e6f));
  EXPECT_FALSE(QuantizeOverflows(1024, 48000, 44000.0f));
  EXPECT_EQ(QUANTIZE(1024, 48000, 44000.0f), 2112000000);
  EXPECT_EQ(QUANTIZE(1024, 48000, std::numeric_limits<float>::infinity()), 2147482624);
}

TEST(QuantizeSamples, RoundsFrameCounts) {
  EXPECT_EQ(QUANTIZE_SAMPLES(1024, 0), 0);
  EXPECT_EQ(QUANTIZE_SAMPLES(1024, -5), 0);
  EXPECT_EQ(QUANTIZE_SAMPLES(1024, 1), 1024);
  EXPECT_EQ(QUANTIZE_SAMPLES(1024, 1024), 1024);
  EXPECT_EQ(QUANTIZE_SAMPLES(1024, 1025), 2048);
  EXPECT_EQ(QUANTIZE_SAMPLES(940, 94001), 94940);
  EXPECT_EQ(QUANTIZE_SAMPLES(1024, INT_MAX), 2147482624);
  EXPECT_EQ(QUANTIZE_SAMPLES(1024, 1LL << 40), 2147482624);
}

TEST(MovePosition, StaysWithinZeroAndThirtyTwoBits) {
  EXPECT_EQ(MovePosition(1000, -2000, 1024), 0);
  EXPECT_EQ(MovePosition(1000, 24, 1024), 1024);
  EXPECT_EQ(MovePosition(INT_MAX - 10, 5, 1024), INT_MAX - 5);
  EXPECT_EQ(MovePosition(INT_MAX - 10, 100, 1024), 2147482624);
}

TEST(Stamp, SecondsSinceTheEpochOfTheNames) {
  EXPECT_EQ(StampAt(1349885340), 0);
  EXPECT_EQ(StampAt(1349885340 + 86400), 86400);
  EXPECT_EQ(StampAt(1349885340 - 60), -60);
  const std::int32_t before = StampAt(std::time(nullptr));
  const std::int32_t now = NewTime();
  EXPECT_GE(now, before);
  EXPECT_LE(now, before + 2);
}

TEST(Musical, PositionToMeasureAndBeat) {
  MusicalPosition at = SampleToMeasures(4, 120.0f, 96000, 48000);
  EXPECT_EQ(at.measure, 2);
  EXPECT_FLOAT_EQ(at.beat, 1.0f);
  at = SampleToMeasures(4, 120.0f, 0, 48000);
  EXPECT_EQ(at.measure, 1);
  EXPECT_FLOAT_EQ(at.beat, 1.0f);
  at = SampleToMeasures(4, 120.0f, 144000, 48000);  // 6 beats
  EXPECT_EQ(at.measure, 2);
  EXPECT_FLOAT_EQ(at.beat, 3.0f);
  at = SampleToMeasures(3, 90.0f, 12000, 48000);  // 0.375 beats
  EXPECT_EQ(at.measure, 1);
  EXPECT_FLOAT_EQ(at.beat, 1.375f);
  at = SampleToMeasures(4, 120.0f, 95999, 48000);  // just before a bar line
  EXPECT_EQ(at.measure, 1);
  EXPECT_NEAR(at.beat, 4.99998f, 1e-4f);
}

TEST(Musical, SecondsToMeasureAndBeat) {
  MusicalPosition at = TimeToMeasures(4, 2.0f, 120.0f);
  EXPECT_EQ(at.measure, 2);
  EXPECT_FLOAT_EQ(at.beat, 1.0f);
  at = TimeToMeasures(4, 0.0f, 120.0f);
  EXPECT_EQ(at.measure, 1);
  EXPECT_FLOAT_EQ(at.beat, 1.0f);
  at = TimeToMeasures(7, 5.25f, 60.0f);
  EXPECT_EQ(at.measure, 1);
  EXPECT_FLOAT_EQ(at.beat, 6.25f);
}

TEST(Musical, MeasureAndBeatToPositionAndSeconds) {
  EXPECT_EQ(MeasuresToSample(4, 120.0f, 1, 1.0f, 48000), 0);
  EXPECT_FLOAT_EQ(MeasuresToTime(4, 120.0f, 1, 1.0f), 0.0f);
  EXPECT_EQ(MeasuresToSample(4, 120.0f, 2, 1.0f, 48000), 96000);
  EXPECT_EQ(MeasuresToSample(4, 120.0f, 3, 2.5f, 48000), 228000);
  EXPECT_FLOAT_EQ(MeasuresToTime(4, 120.0f, 3, 2.5f), 4.75f);
  EXPECT_EQ(MeasuresToSample(4, 100.0f, 1, 2.0f, 44100), 26460);  // 0.6 s
  EXPECT_EQ(MeasuresToSample(4, 120.0f, 1, 1.5f, 48001), 12000) << "truncated toward zero";
  EXPECT_EQ(MeasuresToSample(4, 120.0f, -1, 1.0f, 48000), -192000) << "no rounding or clamping at 0 here";
  EXPECT_EQ(MeasuresToSample(4, 120.0f, INT_MAX, 1.0f, 48000), INT_MAX) << "saturates instead of overflowing";
}

TEST(Musical, RoundTripsAtBarLines) {
  for (int measure = 1; measure < 200; measure += 7) {
    const SamplePosition at = MeasuresToSample(4, 120.0f, measure, 1.0f, 48000);
    const MusicalPosition back = SampleToMeasures(4, 120.0f, at, 48000);
    EXPECT_EQ(back.measure, measure);
    EXPECT_FLOAT_EQ(back.beat, 1.0f);
  }
}

TEST(Seconds, ShownSecondsAreSinglePrecision) {
  EXPECT_FLOAT_EQ(PositionToSeconds(48128, 48000), 48128.0f / 48000.0f);
  EXPECT_FLOAT_EQ(PositionToSeconds(0, 44100), 0.0f);
}

}  // namespace
}  // namespace tapeloom
