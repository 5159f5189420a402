#include "audio/peak_reports.h"

#include <cmath>
#include <cstdio>

#include "audio/metering.h"

namespace tapeloom {

void PrintInputPeaks(const std::array<int, kMaxTracks>& peaks, const TrackFlags& armed, int inputs) {
  std::puts("\n\nInput Channel Peaks:");
  for (int k = 0; k < inputs && k < kMaxTracks; ++k) {
    const std::size_t ki = static_cast<std::size_t>(k);
    if (armed[ki] != 1) continue;
    std::printf("\tchannel %i: %.2f dBFS\n", k + 1, -20.0 * std::log10(kReportFullScale / peaks[ki]));
  }
}

void PrintOutputPeaks(MixMode mix, const MixPeaks& peaks, const std::array<int, kMaxBusses>& busActive) {
  if (MixesIntoBusses(mix)) {
    std::printf("\nBus Peaks:\n");
    for (int b = 2; b <= kMaxBusses; ++b) {
      const std::size_t bi = static_cast<std::size_t>(b - 1);
      if (busActive[bi] != 1) continue;
      ShowPeaks(peaks.busLeft[bi], b, PeakKind::BusLeft);
      ShowPeaks(peaks.busRight[bi], b, PeakKind::BusRight);
    }
    std::printf("\n");
    // Bus 1 is the pair that feeds outputs 1 and 2.
    std::puts("\nOutput Channel Peaks:");
    ShowPeaks(peaks.busLeft[0], 1, PeakKind::Channel);
    ShowPeaks(peaks.busRight[0], 2, PeakKind::Channel);
    std::printf("\n");
  } else if (mix == MixMode::kStereo) {
    std::puts("\nOutput Channel Peaks:");
    ShowPeaks(peaks.left, 1, PeakKind::Channel);
    ShowPeaks(peaks.right, 2, PeakKind::Channel);
    std::printf("\n");
  } else {
    // No output peak is measured without mixing.
    std::puts("\nOutput Channel Peaks:");
    std::printf("\n");
  }
}

}  // namespace tapeloom
