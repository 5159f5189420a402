#include "audio/block_ring.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

namespace tapeloom {

void BlockRing::Allocate(std::size_t slots, std::size_t slotBytes, bool touch) {
  const std::size_t bytes = slots * slotBytes;
  if (capacity_ < bytes) {
    memory_.reset();
    capacity_ = 0;
    void* mapped =
        ::mmap(nullptr, std::max<std::size_t>(bytes, 1), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    memory_ =
        std::unique_ptr<unsigned char, RingMemoryUnmap>(static_cast<unsigned char*>(mapped), RingMemoryUnmap{bytes});
    capacity_ = bytes;
    // Hundreds of megabytes taken from the system a small page at a time, as the worker first
    // writes them, would cost a run more than its reads do: the ring asks for huge pages and
    // for all of them at once, where the system gives them. Both are only requests.
    ::madvise(mapped, bytes, MADV_HUGEPAGE);
    if (::madvise(mapped, bytes, MADV_POPULATE_WRITE) == 0) touch = false;  // zeroed pages, there now
  }
  if (touch) std::fill_n(memory_.get(), bytes, 0);
  Ready(slots, slotBytes);
}

void BlockRing::Ready(std::size_t slots, std::size_t slotBytes) {
  notes_.assign(std::max<std::size_t>(slots, 1), SlotNote{});
  slots_ = slots;
  slotBytes_ = slotBytes;
  Reset();
}

void RingMemoryUnmap::operator()(unsigned char* memory) const { ::munmap(memory, std::max<std::size_t>(bytes, 1)); }

void BlockRing::Reset() {
  head_.store(0, std::memory_order_relaxed);
  tail_.store(0, std::memory_order_relaxed);
}

}  // namespace tapeloom
