#include "audio/run_display.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

namespace tapeloom {

RunDisplay::RunDisplay(const DisplaySettings& settings, MeterState& meterState, const MeterScale& meterScale,
                       InputPeaks& peaks, bool quiet)
    : s_(settings),
      meterState_(meterState),
      meterScale_(meterScale),
      peaks_(peaks),
      quiet_(quiet),
      interval_(ClockInterval(settings.clock, settings.sr)) {}

void RunDisplay::Show(std::int64_t position, bool meter) {
  if (!quiet_) {
    if (s_.clock != 0) {
      UpdateClock(s_.clock, static_cast<SamplePosition>(std::clamp<std::int64_t>(position, INT32_MIN, INT32_MAX)), 0,
                  s_.sr, s_.tmode, s_.tempo, s_.sig);
    }
    if (meter && meterScale_.range != 0.0f) {
      Meter(meterState_, peaks_.loudest, meterScale_.range, &meterReset_, s_.clock == 0 ? 1 : 0, peaks_.loudestChannel,
            meterScale_.fall);
    }
  }
  peaks_.loudest = 0;
}

void RunDisplay::MonitorLine(const TrackFlags& shown) {
  std::printf("\r");
  for (int k = 0; k < s_.inputs && k < kMaxTracks; ++k) {
    const std::size_t ki = static_cast<std::size_t>(k);
    if (shown[ki] == 1) std::printf("(%i/%.0f) ", k + 1, -20.0 * std::log10(kReportFullScale / peaks_.peak[ki]));
  }
  for (int k = 0; k < s_.inputs; ++k) std::printf(" ");
  std::fflush(stdout);
}

}  // namespace tapeloom
