// A ring of audio blocks between two threads: one producer fills slots and publishes them, one
// consumer takes them in the same order and gives them back. Neither side ever waits for the
// other or takes a lock: each only reads the other's counter and moves its own, so the device
// loop can hand blocks to the disk worker, and take blocks from it, without ever being held up
// by it.
//
// A slot is a fixed number of bytes (the rows of one block) and a note of what it holds: the
// position of its first frame and how many frames of it count. The memory is allocated before a
// run starts, never during it; the producer writes every byte of a slot that the consumer reads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tapeloom {

struct SlotNote {
  std::int64_t position = 0;  // of the slot's first frame: a play position, or a frame of the take
  int frames = 0;             // frames of the slot that count
};

// A ring's memory is a mapping of its own, given back whole when it goes.
struct RingMemoryUnmap {
  std::size_t bytes = 0;
  void operator()(unsigned char* memory) const;
};

class BlockRing {
 public:
  BlockRing() = default;
  BlockRing(const BlockRing&) = delete;
  BlockRing& operator=(const BlockRing&) = delete;

  // Gives the ring `slots` slots of `slotBytes` bytes each and empties it. Memory that is large
  // enough already is kept. The slots hold whatever they held, unless `touch`: then they are
  // zeroed now, so that a producer on a thread that must not wait (the device loop) meets no
  // page the system has yet to provide. Only while neither thread uses the ring.
  void Allocate(std::size_t slots, std::size_t slotBytes, bool touch = false);
  // Empties the ring. Only while neither thread uses it.
  void Reset();

  std::size_t slots() const { return slots_; }
  std::size_t slotBytes() const { return slotBytes_; }
  std::size_t bytes() const { return slots_ * slotBytes_; }

  // The producer's side: how many slots it may fill, the slot `ahead` places after the last
  // one published (0 = the next), and publishing the next `count` slots to the consumer.
  std::size_t Free() const {
    return slots_ - Distance(head_.load(std::memory_order_relaxed), tail_.load(std::memory_order_acquire));
  }
  unsigned char* ProducerSlot(std::size_t ahead) { return Slot(head_.load(std::memory_order_relaxed) + ahead); }
  SlotNote& ProducerNote(std::size_t ahead) { return notes_[Index(head_.load(std::memory_order_relaxed) + ahead)]; }
  void Publish(std::size_t count) {
    head_.store(head_.load(std::memory_order_relaxed) + static_cast<std::uint32_t>(count), std::memory_order_release);
  }

  // The consumer's side: how many slots are published, the slot `ahead` places after the
  // oldest one it holds, and giving back the oldest `count` slots.
  std::size_t Ready() const {
    return Distance(head_.load(std::memory_order_acquire), tail_.load(std::memory_order_relaxed));
  }
  unsigned char* ConsumerSlot(std::size_t ahead) { return Slot(tail_.load(std::memory_order_relaxed) + ahead); }
  const SlotNote& ConsumerNote(std::size_t ahead) const {
    return notes_[Index(tail_.load(std::memory_order_relaxed) + ahead)];
  }
  void Release(std::size_t count) {
    tail_.store(tail_.load(std::memory_order_relaxed) + static_cast<std::uint32_t>(count), std::memory_order_release);
  }

 private:
  void Ready(std::size_t slots, std::size_t slotBytes);
  // The counters run on past 2^32 and wrap; their difference is what counts.
  static std::size_t Distance(std::uint32_t head, std::uint32_t tail) {
    return static_cast<std::uint32_t>(head - tail);
  }
  std::size_t Index(std::uint32_t counter) const { return counter % slots_; }
  unsigned char* Slot(std::uint32_t counter) { return memory_.get() + Index(counter) * slotBytes_; }

  std::unique_ptr<unsigned char, RingMemoryUnmap> memory_;
  std::size_t capacity_ = 0;
  std::vector<SlotNote> notes_;
  std::size_t slots_ = 0;
  std::size_t slotBytes_ = 0;
  // 32 bits, lock-free on every target; each on a cache line of its own, so that the two
  // threads do not keep taking the line from each other.
  alignas(64) std::atomic<std::uint32_t> head_{0};  // slots published so far
  alignas(64) std::atomic<std::uint32_t> tail_{0};  // slots given back so far
  static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
};

}  // namespace tapeloom
