#include "audio/disk_buffers.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "audio/disk_worker.h"

namespace tapeloom {
namespace {

// Half of the memory the system has to give, so that the rest of the board keeps its caches.
constexpr std::uint64_t kShareOfAvailable = 2;
// A ring of fewer blocks cannot overlap a long transfer with the loop's use of it.
constexpr std::size_t kLeastSlots = 4;

}  // namespace

DiskBufferSize SizeDiskBuffers(std::uint32_t sr, int playRows, int captureRows, std::uint64_t memoryAvailable,
                               double wantedSeconds) {
  DiskBufferSize size;
  if (sr == 0) return size;
  const std::uint64_t rows = static_cast<std::uint64_t>(std::max(playRows, 0) + std::max(captureRows, 0));
  if (rows == 0) return size;
  std::uint64_t budget = kMostDiskBufferBytes;
  if (memoryAvailable > 0) budget = std::min(budget, memoryAvailable / kShareOfAvailable);
  const double bytesPerSecond = static_cast<double>(rows) * sr * kSampleBytes;
  const double wanted = wantedSeconds > 0.0 ? wantedSeconds : kDiskBufferSeconds;
  const double seconds = std::min(wanted, static_cast<double>(budget) / bytesPerSecond);
  const auto slots = std::max(kLeastSlots, static_cast<std::size_t>(std::ceil(seconds * sr / kBlockFrames)));
  size.playSlots = playRows > 0 ? slots : 0;
  size.captureSlots = captureRows > 0 ? slots : 0;
  size.seconds = static_cast<double>(slots) * kBlockFrames / sr;
  return size;
}

std::uint64_t AvailableMemory() {
  std::FILE* info = std::fopen("/proc/meminfo", "r");
  if (info == nullptr) return 0;
  char line[128];
  std::uint64_t kib = 0;
  while (std::fgets(line, sizeof line, info) != nullptr) {
    if (std::sscanf(line, "MemAvailable: %" SCNu64 " kB", &kib) == 1) break;
  }
  std::fclose(info);
  return kib * 1024;
}

}  // namespace tapeloom
