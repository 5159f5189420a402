#include "audio/block_ring.h"

#include <algorithm>

namespace tapeloom {

void BlockRing::Allocate(std::size_t slots, std::size_t slotBytes) {
  const std::size_t bytes = slots * slotBytes;
  if (memory_.size() < bytes) {
    // A fresh zeroed allocation touches every page now, so the run meets no page fault later.
    memory_ = std::vector<unsigned char>(bytes, 0);
  } else {
    std::fill(memory_.begin(), memory_.begin() + static_cast<std::ptrdiff_t>(bytes), 0);
  }
  notes_.assign(std::max<std::size_t>(slots, 1), SlotNote{});
  slots_ = slots;
  slotBytes_ = slotBytes;
  Reset();
}

void BlockRing::Reset() {
  head_.store(0, std::memory_order_relaxed);
  tail_.store(0, std::memory_order_relaxed);
}

}  // namespace tapeloom
