// The test signal of the latency calibration and the search for it in what an input captured.
// The signal is a train of clicks at -20 dBFS whose gaps are all different (the marks of a
// Golomb ruler): shifted against itself by anything but 0, at most one click of the train
// meets another, so the cross-correlation of a capture with the train peaks at the one shift
// where all clicks line up, eight times as high as anywhere else.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tapeloom {

struct ClickTrain {
  std::vector<std::int32_t> samples;  // the signal: silence with a click at each mark
  std::vector<int> clicks;            // the frame of each click, the first at 0
};

inline constexpr std::int32_t kClickLevel = 838861;  // -20 dBFS of 24-bit full scale

// The train for a rate: clicks at least about a millisecond apart, so that what a card's
// filters make of one click has died away before the next.
ClickTrain MakeClickTrain(std::uint32_t sr);

enum class ProbeVerdict {
  kFound,
  kSilent,   // nothing like the train came back
  kTooLow,   // the train came back, but too quiet to be found for sure
  kClipped,  // the input reached full scale: the level is too high to be measured
  kUnclear,  // something came back, but not the train as it was played (noise, a second path)
};

struct ProbeResult {
  ProbeVerdict verdict = ProbeVerdict::kSilent;
  std::int64_t position = 0;  // the captured frame of the first click
  bool inverted = false;      // the loop turns the signal upside down
  double levelDb = 0.0;       // the clicks' level as captured, dBFS
};

// Finds the train in a capture by cross-correlation.
ProbeResult FindClickTrain(std::span<const std::int32_t> captured, const ClickTrain& train);

}  // namespace tapeloom
