#include "audio/real_time_budget.h"

#include <thread>

namespace tapeloom {
namespace {

// Beyond the card's buffer: the start of a run, the scheduler and a card clock that runs a
// little fast against the system's are all far inside a quarter of a second.
constexpr std::int64_t kLeadMarginDivisor = 4;

}  // namespace

RealTimeBudget::RealTimeBudget(std::uint32_t rate, std::int64_t bufferFrames)
    : rate_(rate), leadFrames_(bufferFrames + static_cast<std::int64_t>(rate) / kLeadMarginDivisor) {}

void RealTimeBudget::Moved(std::int64_t frames) {
  if (!started_ && frames > 0) {
    started_ = true;
    start_ = Clock::now();
  }
  moved_ = frames;
}

bool RealTimeBudget::MayWait() const {
  if (rate_ == 0) return true;
  if (!started_) return false;
  const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_).count();
  const std::int64_t clockFrames = static_cast<std::int64_t>(elapsed) * rate_ / 1000000;
  return moved_ - clockFrames > leadFrames_;
}

void RealTimeBudget::Pause() { std::this_thread::sleep_for(std::chrono::microseconds(200)); }

}  // namespace tapeloom
