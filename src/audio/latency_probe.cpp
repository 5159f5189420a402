#include "audio/latency_probe.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tapeloom {
namespace {

// An optimal Golomb ruler of eight marks: no two pairs of marks are the same distance apart.
constexpr int kMarks[] = {0, 1, 4, 9, 15, 22, 32, 34};
constexpr std::int32_t kFullScale = 8388607;
// Clicks that come back below this (-60 dBFS) are too quiet to tell from a noisy input.
constexpr std::int32_t kLowestClick = 8389;
// The input is taken as clipped at this magnitude and above (within 0.01 dB of full scale).
constexpr std::int32_t kClipLevel = 8378000;

}  // namespace

ClickTrain MakeClickTrain(std::uint32_t sr) {
  const int unit = std::max(32, static_cast<int>(sr / 800));
  ClickTrain train;
  for (const int mark : kMarks) train.clicks.push_back(mark * unit);
  train.samples.assign(static_cast<std::size_t>(train.clicks.back() + 1), 0);
  for (const int click : train.clicks) train.samples[static_cast<std::size_t>(click)] = kClickLevel;
  return train;
}

ProbeResult FindClickTrain(std::span<const std::int32_t> captured, const ClickTrain& train) {
  ProbeResult result;
  const std::int64_t span = train.clicks.back() + 1;
  const std::int64_t frames = static_cast<std::int64_t>(captured.size());
  if (frames < span) return result;
  for (const std::int32_t sample : captured) {
    if (sample >= kClipLevel || sample <= -kClipLevel) {
      result.verdict = ProbeVerdict::kClipped;
      return result;
    }
  }
  // The correlation at each shift, and the shift where it is largest in either sign.
  std::vector<std::int64_t> correlation(static_cast<std::size_t>(frames - span + 1));
  std::size_t best = 0;
  for (std::size_t shift = 0; shift < correlation.size(); ++shift) {
    std::int64_t sum = 0;
    for (const int click : train.clicks) sum += captured[shift + static_cast<std::size_t>(click)];
    correlation[shift] = sum;
    if (std::llabs(sum) > std::llabs(correlation[best])) best = shift;
  }
  if (correlation[best] == 0) return result;
  const bool inverted = correlation[best] < 0;
  // At the right shift every click is there, in the same sign, at much the same level.
  std::vector<std::int64_t> levels;
  for (const int click : train.clicks) {
    const std::int64_t value = captured[best + static_cast<std::size_t>(click)];
    levels.push_back(inverted ? -value : value);
  }
  std::vector<std::int64_t> sorted = levels;
  std::sort(sorted.begin(), sorted.end());
  const std::int64_t median = sorted[sorted.size() / 2];
  result.position = static_cast<std::int64_t>(best);
  result.inverted = inverted;
  result.levelDb = median > 0 ? 20.0 * std::log10(static_cast<double>(median) / kFullScale) : -200.0;
  if (median <= 0 || sorted.front() * 2 < median) {
    result.verdict = ProbeVerdict::kUnclear;
    return result;
  }
  // Anywhere else at most one click meets another: a second shift that comes close to the best
  // one (half of it) means the capture holds more than the train, or something else entirely.
  const std::int64_t peak = std::llabs(correlation[best]);
  const std::size_t unit = static_cast<std::size_t>(train.clicks[1]);
  for (std::size_t shift = 0; shift < correlation.size(); ++shift) {
    const std::size_t distance = shift > best ? shift - best : best - shift;
    if (distance >= unit / 2 && std::llabs(correlation[shift]) * 2 > peak) {
      result.verdict = ProbeVerdict::kUnclear;
      return result;
    }
  }
  result.verdict = median < kLowestClick ? ProbeVerdict::kTooLow : ProbeVerdict::kFound;
  return result;
}

}  // namespace tapeloom
