#include "core/time_base.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

#include "core/safe_convert.h"

namespace tapeloom {
namespace {

constexpr std::int64_t kStampEpoch = 1349885340;  // 2012-10-10 16:09:00 UTC

// The first multiple k of the period, from one period up, whose single-precision value is not
// below x; clamped to the last whole period that fits. The same result as stepping k = period,
// 2 × period, ... but found without the steps.
SamplePosition FirstPeriodNotBelow(int period, float x) {
  const std::int64_t last = LastWholePeriod(period);
  if (static_cast<float>(last) < x) return static_cast<SamplePosition>(last);
  std::int64_t k = static_cast<std::int64_t>(std::ceil(static_cast<double>(x) / period)) * period;
  if (k < period) k = period;
  if (k > last) k = last;
  while (k > period && static_cast<float>(k - period) >= x) k -= period;
  while (static_cast<float>(k) < x) k += period;
  return static_cast<SamplePosition>(k);
}

}  // namespace

std::int32_t StampAt(std::time_t unixTime) {
  return static_cast<std::int32_t>(static_cast<std::int64_t>(unixTime) - kStampEpoch);
}

std::int32_t NewTime() { return StampAt(std::time(nullptr)); }

SamplePosition LastWholePeriod(int period) {
  if (period < 1) return 0;
  return std::numeric_limits<SamplePosition>::max() / period * period;
}

SamplePosition QUANTIZE(int period, std::uint32_t sr, float seconds) {
  const float x = static_cast<float>(sr) * seconds;
  if (!(x > 0.0f) || period < 1) return 0;  // NaN too
  return FirstPeriodNotBelow(period, x);
}

bool QuantizeOverflows(int period, std::uint32_t sr, float seconds) {
  const float x = static_cast<float>(sr) * seconds;
  return x > 0.0f && static_cast<float>(LastWholePeriod(period)) < x;
}

SamplePosition QUANTIZE_SAMPLES(int period, std::int64_t frames) {
  if (frames <= 0 || period < 1) return 0;
  const std::int64_t last = LastWholePeriod(period);
  const std::int64_t rounded = (frames + period - 1) / period * period;
  return static_cast<SamplePosition>(rounded > last ? last : rounded);
}

SamplePosition MovePosition(SamplePosition position, std::int64_t frames, int period) {
  const std::int64_t moved = static_cast<std::int64_t>(position) + frames;
  if (moved < 0) return 0;
  if (moved > std::numeric_limits<SamplePosition>::max()) return LastWholePeriod(period);
  return static_cast<SamplePosition>(moved);
}

MusicalPosition TimeToMeasures(int sig, float seconds, float tempo) {
  const float beats = static_cast<float>((static_cast<double>(seconds) / 60.0) * static_cast<double>(tempo));
  const int m = TruncateToInt32(static_cast<double>(beats) / sig);
  const float beat = static_cast<float>(static_cast<double>(beats) - static_cast<double>(m) * sig + 1.0);
  return {m == std::numeric_limits<int>::max() ? m : m + 1, beat};
}

MusicalPosition SampleToMeasures(int sig, float tempo, SamplePosition position, std::uint32_t sr) {
  const float beats = static_cast<float>((1.0 / sr) * (static_cast<double>(tempo) / 60.0) * position);
  const int measure = TruncateToInt32(static_cast<double>(beats / static_cast<float>(sig) + 1.0f));
  const float beat = static_cast<float>(static_cast<double>(beats) - (static_cast<double>(measure) - 1.0) * sig + 1.0);
  return {measure, beat};
}

double MeasuresToFrames(int sig, float tempo, int measure, float beat, std::uint32_t sr) {
  const float offset = (beat - 1.0f) + static_cast<float>((static_cast<double>(measure) - 1.0) * sig);
  return static_cast<double>(offset) * (60.0 / static_cast<double>(tempo)) * sr;
}

SamplePosition MeasuresToSample(int sig, float tempo, int measure, float beat, std::uint32_t sr) {
  return TruncateToInt32(MeasuresToFrames(sig, tempo, measure, beat, sr));
}

float MeasuresToTime(int sig, float tempo, int measure, float beat) {
  return static_cast<float>(((static_cast<double>(beat) - 1.0) + (static_cast<double>(measure) - 1.0) * sig) *
                            (60.0 / static_cast<double>(tempo)));
}

float PositionToSeconds(SamplePosition position, std::uint32_t sr) {
  return static_cast<float>(position) / static_cast<float>(sr);
}

std::string DurationText(std::int64_t frames, std::uint32_t sr) {
  if (sr == 0) return "?";
  const std::int64_t hundredths = frames * 100 / sr;
  char text[48];
  std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64 ":%02" PRId64 ".%02" PRId64, hundredths / 360000,
                hundredths / 6000 % 60, hundredths / 100 % 60, hundredths % 100);
  return text;
}

}  // namespace tapeloom
