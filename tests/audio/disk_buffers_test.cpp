// The rings between the device loop and the disk worker: two threads passing numbered blocks
// through a small ring lose, repeat and reorder none; and the rings' size for the sessions the
// documentation names, with the bound on memory that holds whatever the track count.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>

#include "audio/block_ring.h"
#include "audio/disk_buffers.h"

namespace tapeloom {
namespace {

TEST(BlockRing, TwoThreadsPassEveryBlockOnceAndInOrder) {
  // Three slots and many blocks: the counters wrap the ring thousands of times, and each side
  // keeps finding it full or empty.
  BlockRing ring;
  ring.Allocate(3, 16);
  constexpr std::int64_t kBlocks = 200000;
  std::thread producer([&] {
    for (std::int64_t n = 0; n < kBlocks;) {
      if (ring.Free() == 0) continue;
      std::memcpy(ring.ProducerSlot(0), &n, sizeof n);
      ring.ProducerNote(0) = SlotNote{.position = n, .frames = static_cast<int>(n % 4096)};
      ring.Publish(1);
      ++n;
    }
  });
  std::int64_t expected = 0;
  std::int64_t mismatches = 0;
  while (expected < kBlocks) {
    const std::size_t ready = ring.Ready();
    for (std::size_t s = 0; s < ready; ++s) {
      std::int64_t n = -1;
      std::memcpy(&n, ring.ConsumerSlot(s), sizeof n);
      if (n != expected || ring.ConsumerNote(s).position != expected ||
          ring.ConsumerNote(s).frames != static_cast<int>(expected % 4096)) {
        ++mismatches;
      }
      ++expected;
    }
    ring.Release(ready);
  }
  producer.join();
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(ring.Ready(), 0u);
  EXPECT_EQ(ring.Free(), 3u);
}

TEST(DiskBuffers, TenSecondsEachWayWithinABoundOfMemory) {
  // At 48 kHz with 8 inputs recording: a block is 4096 frames, a row of one channel 12288 bytes.
  struct Case {
    const char* what;
    std::uint32_t sr;
    int playRows;
    int captureRows;
    std::uint64_t available;
    double wanted;
    std::size_t slots;  // each way
    double mebibytes;   // both rings
  };
  constexpr std::uint64_t kPlenty = std::uint64_t{4} << 30;
  // clang-format off
  const Case cases[] = {
      {"8 tracks",                       48000, 8,   8, kPlenty,              0.0, 118, 22.1},
      {"64 tracks",                      48000, 64,  8, kPlenty,              0.0, 118, 99.6},
      {"256 tracks: the bound",          48000, 256, 8, kPlenty,              0.0, 83,  256.8},
      {"64 tracks with 150 MB free",     48000, 64,  8, 150u * 1000 * 1000,   0.0, 85,  71.7},
      {"nothing recorded",               48000, 64,  0, kPlenty,              0.0, 118, 88.5},
      {"a test's small ring",            48000, 2,   2, kPlenty,              0.25, 4,  0.2},
      {"memory not known",               44100, 8,   8, 0,                    0.0, 108, 20.25},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const DiskBufferSize size = SizeDiskBuffers(c.sr, c.playRows, c.captureRows, c.available, c.wanted);
    EXPECT_EQ(size.playSlots, c.slots);
    EXPECT_EQ(size.captureSlots, c.captureRows > 0 ? c.slots : 0u);
    const double bytes = static_cast<double>(size.playSlots) * c.playRows * 12288.0 +
                         static_cast<double>(size.captureSlots) * c.captureRows * 12288.0;
    EXPECT_NEAR(bytes / 1048576.0, c.mebibytes, 0.05);
    EXPECT_LE(bytes, static_cast<double>(kMostDiskBufferBytes) + (c.playRows + c.captureRows) * 12288.0)
        << "the bound, give or take the block that rounds the length up";
  }
  EXPECT_EQ(SizeDiskBuffers(48000, 0, 0, kPlenty).playSlots, 0u) << "a run without files has no rings";
  EXPECT_EQ(SizeDiskBuffers(0, 8, 8, kPlenty).playSlots, 0u);
}

}  // namespace
}  // namespace tapeloom
