// "disk": a storage check. For a number of seconds it writes, into the session's folder, as many
// mono 24-bit streams as the record list arms and reads the playlist's tracks from the play
// start, at the session's rate, through the disk worker and its rings exactly as a recording
// does; then it says how fast the storage was, how long its calls took at worst and for 99 in
// 100, what buffer the session has, and whether this storage holds this session. Its files are
// removed whatever happens.
#pragma once

#include <cstdint>
#include <string>

#include "core/console_input.h"
#include "core/session_settings.h"

namespace tapeloom {

// What a check measured.
struct StorageFigures {
  double seconds = 0.0;         // how long it ran
  double bufferSeconds = 0.0;   // what each ring holds
  double worstSeconds = 0.0;    // the longest read or write
  double busyFraction = 0.0;    // of the time, spent in reads and writes
  std::int64_t lostFrames = 0;  // frames a recording would have lost: a ring ran out
  std::uint32_t sr = 0;
};

enum class StorageVerdict { kHolds, kHoldsBarely, kFails };

// The verdict and its reasons, in one paragraph.
StorageVerdict Judge(const StorageFigures& figures);
std::string VerdictText(const StorageFigures& figures);

void StorageCheckCommand(SessionSettings& settings, ConsoleInput& input);

}  // namespace tapeloom
