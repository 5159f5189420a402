// What the console shows while a run goes on and after it: the running clock, the level meter
// of the loudest input, the input monitor line and the dBFS peak lines.
#pragma once

#include <array>
#include <cstdint>

#include "core/session_settings.h"

namespace tapeloom {

// Full scale of a 24-bit sample in the reports; the meter measures against 8388608.
inline constexpr double kReportFullScale = 8388607.0;
inline constexpr double kMeterFullScale = 8388608.0;

// The frames between two clock and meter updates: sr / 12 for the rewritten clock (uc, and the
// hidden clock, whose meter still moves), sr / 48 for the streamed clock (sc).
int ClockInterval(int clockMode, std::uint32_t sr);

// Prints the clock for position + offset: a carriage return (uc) or a newline (sc), then
// "clock = %.2f sec" in seconds or "measure.beat = %i.%.2f " in tempo mode.
void UpdateClock(int clockMode, SamplePosition position, SamplePosition offset, std::uint32_t sr, int tmode,
                 float tempo, int sig);

// The meter's memory between updates, reset at the start of every run.
struct MeterState {
  float last = -144.0f;     // the level of the previous update, dB
  double current = -144.0;  // the level the bar shows, dB
  int topPeak = -144;       // the highest level of the run, dB, truncated
  float oldPeak = 0.0f;     // the peak that set the hold mark
  float peakBars = 0.0f;    // the hold mark, in bars (0..24)
  int over = 0;             // a level of 0 dB or more was seen
  int overChannel = 0;      // the channel of the last over
};

// Draws the meter line for the loudest sample since the last update. When *resetFlag is 1 the
// state starts afresh and the flag is cleared.
void Meter(MeterState& state, int peak, float range, int* resetFlag, int clockHidden, int channel, float fall);

// Scans `frames` packed 24-bit samples of one channel: the channel's entry in the peak table
// keeps the largest magnitude, and `loudest` with its 1-based channel the largest of all.
void CheckPeak(int channel, int frames, std::array<int, kMaxTracks>& peakTable, const std::uint8_t* samples,
               int& loudest, int& loudestChannel);

enum class PeakKind { Channel = 1, BusLeft = 2, BusRight = 3 };

// One report line: "channel %i: %.2f dBFS" (or the bus forms), " WARNING!" at exactly full
// scale, " OVER!! " above it, "-144 dBFS" for silence.
// A mixed peak can lie beyond the 32-bit range, hence the width.
void ShowPeaks(std::int64_t peak, int number, PeakKind kind);

// The largest magnitude a packed 24-bit sample can have.
int SampleMagnitude(const std::uint8_t* sample);

}  // namespace tapeloom
