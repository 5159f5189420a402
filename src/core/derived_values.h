// Frame counts and meter values derived from the settings and the granted device period. They
// are computed when the session starts and again by the commands that change their settings.
#pragma once

#include <cstdint>

#include "core/session_settings.h"

namespace tapeloom {

struct MeterScale {
  float range = 0.0f;  // width of the meter scale in dB; 0 = meter off
  float fall = 0.0f;   // dB the bar falls per update
};

struct DerivedValues {
  SamplePosition prerollFrames = 0;   // whole periods, not below proll × sr
  SamplePosition xfadeHalf = 0;       // half the crossfade, frames
  SamplePosition auditionFrames = 0;  // aud × sr
  SamplePosition nudgeStep = 0;       // whole periods, not below nudge × sr
  MeterScale meter;

  SamplePosition xfadeFull() const { return 2 * xfadeHalf; }
};

// The meter scale at session start from the `meter` setting.
MeterScale MeterScaleAtStart(int meter);

// xfade ÷ 2000 × sr in single precision, truncated; 0 for no crossfade.
SamplePosition CrossfadeHalfFrames(float xfadeMs, std::uint32_t sr);

// aud × sr, truncated.
SamplePosition AuditionFrames(float audSeconds, std::uint32_t sr);

DerivedValues DeriveSessionValues(const SessionSettings& settings, int periodFrames);

}  // namespace tapeloom
