// Positions in sample frames, their rounding to whole device periods, and the conversions
// between frames, seconds and measure.beat. Pure computations; nothing here prints.
#pragma once

#include <cstdint>

#include "app/session_settings.h"

namespace tapeloom {

// Seconds since 2012-10-10 16:09:00 UTC: the clock stamp in take and backup file names.
std::int32_t NewTime();

// The largest whole-period position that fits in a SamplePosition. Positions that would lie
// beyond it are clamped to it.
SamplePosition LastWholePeriod(int period);

// seconds × sr in single precision, rounded up to the next whole period (at least one period
// for a positive time, 0 for a time of 0 or less).
SamplePosition QUANTIZE(int period, std::uint32_t sr, float seconds);

// True when QUANTIZE of this time had to be clamped because it does not fit in 32 bits.
bool QuantizeOverflows(int period, std::uint32_t sr, float seconds);

// frames rounded up to a whole number of periods (0 for 0 or less).
SamplePosition QUANTIZE_SAMPLES(int period, std::int64_t frames);

struct MusicalPosition {
  int measure = 1;    // 1-based
  float beat = 1.0f;  // 1-based, fractions are parts of a beat
};

MusicalPosition TimeToMeasures(int sig, float seconds, float tempo);
MusicalPosition SampleToMeasures(int sig, float tempo, SamplePosition position, std::uint32_t sr);
SamplePosition MeasuresToSample(int sig, float tempo, int measure, float beat, std::uint32_t sr);
float MeasuresToTime(int sig, float tempo, int measure, float beat);

// The shown seconds of a position.
float PositionToSeconds(SamplePosition position, std::uint32_t sr);

}  // namespace tapeloom
