// The peak reports printed after a run and after an export.
#pragma once

#include <array>

#include "core/session_settings.h"
#include "mix/mix_block.h"

namespace tapeloom {

// After a recording that checked peaks: one line per armed input, in dBFS (silence shows as
// an infinite negative value).
void PrintInputPeaks(const std::array<int, kMaxTracks>& peaks, const TrackFlags& armed, int inputs);

// After a run that played: the bus peaks (modes 2 and 3) and the output channel peaks.
void PrintOutputPeaks(MixMode mix, const MixPeaks& peaks, const std::array<int, kMaxBusses>& busActive);

}  // namespace tapeloom
