// How much audio the rings between the device loop and the disk worker hold: seconds, so that a
// storage stall of that long costs nothing. Ten seconds in each direction when memory allows,
// at least five where it can, and never more than a fixed bound of memory in all, whatever the
// track count: the bound wins, and a session so large that it leaves less than five seconds is
// told so before the run.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tapeloom {

inline constexpr double kDiskBufferSeconds = 10.0;                               // wanted in each direction
inline constexpr double kLeastDiskBufferSeconds = 5.0;                           // below this the run says so
inline constexpr std::uint64_t kMostDiskBufferBytes = std::uint64_t{256} << 20;  // both rings together

struct DiskBufferSize {
  std::size_t playSlots = 0;     // blocks of the play ring (0 when nothing plays)
  std::size_t captureSlots = 0;  // blocks of the capture ring (0 when nothing records)
  double seconds = 0.0;          // what each ring holds
};

// The rings for a run with `playRows` rows per play block and `captureRows` per record block
// (0 for a direction the run does not use) at `sr`, with `memoryAvailable` bytes free for them
// (0: not known). `wantedSeconds` replaces the ten seconds when it is above 0 (tests make the
// rings small that way).
DiskBufferSize SizeDiskBuffers(std::uint32_t sr, int playRows, int captureRows, std::uint64_t memoryAvailable,
                               double wantedSeconds = 0.0);

// The memory the system can give without swapping (MemAvailable), or 0 when it does not say.
std::uint64_t AvailableMemory();

}  // namespace tapeloom
