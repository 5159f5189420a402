// Whether the device loop may wait for the disk worker. On a card that keeps time the loop is
// never more than the card's buffer ahead of the clock: a block that is not there when the loop
// needs it cannot be waited for without the card running dry, so it is a shortfall. A card that
// does not keep time (the simulated card, which takes and gives frames at once) lets the loop
// run far ahead of the clock; there nothing is lost by waiting, and the loop waits, so that such
// a run records and plays every frame, however slow the disk is.
//
// The loop counts the frames it has moved since its first transfer; the budget compares that
// with the time that has passed since. An export has no card and always waits.
#pragma once

#include <chrono>
#include <cstdint>

namespace tapeloom {

class RealTimeBudget {
 public:
  using Clock = std::chrono::steady_clock;

  // A budget for a run at `rate` on a card with `bufferFrames` of buffer. Without a rate
  // (an export) every wait is allowed.
  RealTimeBudget(std::uint32_t rate, std::int64_t bufferFrames);
  static RealTimeBudget Unpaced() { return RealTimeBudget(0, 0); }

  // The loop has moved frames to or from the card, as many as `frames` in all since its
  // first transfer in the run (the larger of what it played and captured).
  void Moved(std::int64_t frames);

  // Whether waiting now costs nothing: the loop is further ahead of the clock than any card
  // could let it be.
  bool MayWait() const;

  // A short sleep of the device loop while it waits.
  static void Pause();

 private:
  std::uint32_t rate_;
  std::int64_t leadFrames_;  // how far ahead a card that keeps time can let the loop be
  std::int64_t moved_ = 0;
  bool started_ = false;
  Clock::time_point start_{};
};

}  // namespace tapeloom
