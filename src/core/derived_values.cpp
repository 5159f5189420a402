#include "core/derived_values.h"

#include "core/safe_convert.h"
#include "core/time_base.h"

namespace tapeloom {

MeterScale MeterScaleAtStart(int meter) {
  float range = 6.0f;
  if (meter >= -120 && meter <= -6) {
    range = static_cast<float>(-meter);
  } else if (meter < -120) {
    range = 120.0f;
  } else if (meter == 0) {
    range = 0.0f;
  }
  return {range, range / 4.0f};
}

SamplePosition CrossfadeHalfFrames(float xfadeMs, std::uint32_t sr) {
  if (!(xfadeMs > 0.0f)) return 0;
  return TruncateToInt32(static_cast<double>(xfadeMs / 2000.0f * static_cast<float>(sr)));
}

SamplePosition AuditionFrames(float audSeconds, std::uint32_t sr) {
  return TruncateToInt32(static_cast<double>(audSeconds * static_cast<float>(sr)));
}

DerivedValues DeriveSessionValues(const SessionSettings& s, int periodFrames) {
  DerivedValues derived;
  derived.prerollFrames = QUANTIZE(periodFrames, s.sr, s.proll);
  derived.xfadeHalf = CrossfadeHalfFrames(s.xfade, s.sr);
  derived.auditionFrames = AuditionFrames(s.aud, s.sr);
  derived.nudgeStep = QUANTIZE(periodFrames, s.sr, s.nudge);
  derived.meter = MeterScaleAtStart(s.meter);
  return derived;
}

}  // namespace tapeloom
