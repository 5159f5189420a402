// Positions in sample frames, their rounding to whole device periods, and the conversions
// between frames, seconds and measure.beat. Pure computations; nothing here prints.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "core/session_settings.h"

namespace tapeloom {

// The clock stamp in take and backup file names: seconds since 2012-10-10 16:09:00 UTC.
std::int32_t NewTime();
std::int32_t StampAt(std::time_t unixTime);

// The largest whole-period position that fits in a SamplePosition. Positions that would lie
// beyond it are clamped to it.
SamplePosition LastWholePeriod(int period);

// seconds × sr in single precision, rounded up to a whole number of periods: the first of
// period, 2 × period, ... whose single-precision value is not below it. 0 for a time of 0 or
// less; clamped to LastWholePeriod when the time lies beyond it.
SamplePosition QUANTIZE(int period, std::uint32_t sr, float seconds);

// True when QUANTIZE of this time was clamped because its position does not fit in 32 bits.
bool QuantizeOverflows(int period, std::uint32_t sr, float seconds);

// frames rounded up to a whole number of periods (0 for 0 or less), clamped likewise.
SamplePosition QUANTIZE_SAMPLES(int period, std::int64_t frames);

// Adds frames to a position: below 0 gives 0, and a result that does not fit in 32 bits gives
// the last whole period that does.
SamplePosition MovePosition(SamplePosition position, std::int64_t frames, int period);

struct MusicalPosition {
  int measure = 1;    // 1-based
  float beat = 1.0f;  // 1-based, fractions are parts of a beat
};

MusicalPosition TimeToMeasures(int sig, float seconds, float tempo);
MusicalPosition SampleToMeasures(int sig, float tempo, SamplePosition position, std::uint32_t sr);

// The frame position of a measure and beat, before any period rounding: truncated toward zero
// and saturated at the 32-bit limits.
SamplePosition MeasuresToSample(int sig, float tempo, int measure, float beat, std::uint32_t sr);
// The same position unsaturated, for callers that must tell an overflow from a position.
double MeasuresToFrames(int sig, float tempo, int measure, float beat, std::uint32_t sr);
float MeasuresToTime(int sig, float tempo, int measure, float beat);

// The shown seconds of a position.
float PositionToSeconds(SamplePosition position, std::uint32_t sr);

// A length in frames as hours:minutes:seconds.hundredths ("8:17:06.16"), cut (not rounded)
// to hundredths; "?" without a rate.
std::string DurationText(std::int64_t frames, std::uint32_t sr);

}  // namespace tapeloom
