#include "audio/metering.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/safe_convert.h"
#include "core/time_base.h"

namespace tapeloom {
namespace {

constexpr int kMeterColumns = 24;

}  // namespace

int ClockInterval(int clockMode, std::uint32_t sr) { return static_cast<int>(clockMode == 2 ? sr / 48 : sr / 12); }

void UpdateClock(int clockMode, SamplePosition position, SamplePosition offset, std::uint32_t sr, int tmode,
                 float tempo, int sig) {
  const SamplePosition at = MovePosition(position, offset, 1);
  if (tmode == 0 || tmode == 1) {
    if (clockMode == 1) std::printf("\r");
    if (clockMode == 2) std::printf("\n");
  }
  if (tmode == 0) {
    std::printf("clock = %.2f sec", static_cast<double>(PositionToSeconds(at, sr)));
  } else if (tmode == 1) {
    const MusicalPosition musical = SampleToMeasures(sig, tempo, at, sr);
    std::printf("measure.beat = %i.%.2f ", musical.measure, static_cast<double>(musical.beat));
  }
  std::fflush(stdout);
}

void Meter(MeterState& state, int peak, float range, int* resetFlag, int clockHidden, int channel, float fall) {
  const double level = -20.0 * std::log10(kMeterFullScale / peak);  // minus infinity for silence
  if (resetFlag != nullptr && *resetFlag == 1) {
    state = MeterState{};
    *resetFlag = 0;
  }
  if (level > state.topPeak) state.topPeak = TruncateToInt32(level);
  if (level > static_cast<double>(state.last)) {
    state.current = level;
  } else {
    state.current -= static_cast<double>(fall);
  }
  if (level >= 0.0) {
    state.over = 1;
    state.overChannel = channel;
  }

  if (clockHidden == 1) std::printf("\r");
  std::printf("\t -%.0f dB [", static_cast<double>(range));

  const double barWidth = static_cast<double>(range) / kMeterColumns;
  double bars = 0.0;
  if (state.current >= -static_cast<double>(range)) {
    bars = (static_cast<double>(range) + state.current) / barWidth;
    if (bars > kMeterColumns) bars = kMeterColumns;
  }
  if (static_cast<float>(peak) > state.oldPeak && level < 0.0) {
    state.peakBars = static_cast<float>((static_cast<double>(range) + level) / barWidth);
    state.oldPeak = static_cast<float>(peak);
  }

  int column = 0;
  if (bars > 0.0) {
    while (column < bars) {
      std::printf("|");
      ++column;
    }
  }
  if (state.peakBars > static_cast<float>(column)) {
    while (static_cast<float>(column) < state.peakBars) {
      std::printf(" ");
      ++column;
    }
  }
  std::printf("%i", channel);
  ++column;  // the channel number counts as one column
  while (column < kMeterColumns) {
    std::printf(" ");
    ++column;
  }

  if (state.over == 1) {
    std::printf("] OVER CH %i", state.overChannel);
  } else {
    std::printf("] %i dB", state.topPeak);
  }
  std::printf("   ");

  state.last = static_cast<float>(level);
  if (level >= 0.0) state.oldPeak = 0.0f;
  std::fflush(stdout);
}

int SampleMagnitude(const std::uint8_t* sample) {
  const int value = sample[0] | (sample[1] << 8) | (static_cast<int>(static_cast<std::int8_t>(sample[2])) * 65536);
  return value < 0 ? -value : value;
}

void CheckPeak(int channel, int frames, std::array<int, kMaxTracks>& peakTable, const std::uint8_t* samples,
               int& loudest, int& loudestChannel) {
  // The largest magnitude of the whole stretch first, in a loop without branches; the tables
  // are then updated once.
  int largest = 0;
  for (int n = 0; n < frames; ++n) largest = std::max(largest, SampleMagnitude(samples + 3 * n));
  int& channelPeak = peakTable[static_cast<std::size_t>(channel)];
  channelPeak = std::max(channelPeak, largest);
  if (largest > loudest) {
    loudest = largest;
    loudestChannel = channel + 1;
  }
}

void ShowPeaks(std::int64_t peak, int number, PeakKind kind) {
  if (peak <= 0) {
    switch (kind) {
      case PeakKind::Channel: std::printf("channel %i: -144 dBFS\n", number); break;
      case PeakKind::BusLeft: std::printf("Bus %i L: -144 dBFS\n", number); break;
      case PeakKind::BusRight: std::printf("Bus %i R: -144 dBFS\n", number); break;
    }
    return;
  }
  const double dB = -20.0 * std::log10(kReportFullScale / static_cast<double>(peak));
  switch (kind) {
    case PeakKind::Channel: std::printf("channel %i: %.2f dBFS", number, dB); break;
    case PeakKind::BusLeft: std::printf("Bus %i L: %.2f dBFS", number, dB); break;
    case PeakKind::BusRight: std::printf("Bus %i R: %.2f dBFS", number, dB); break;
  }
  if (dB == 0.0) {
    std::puts(" WARNING!");
  } else if (dB > 0.0) {
    std::puts(" OVER!! ");
  } else {
    std::puts("");
  }
}

}  // namespace tapeloom
