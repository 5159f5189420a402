// A transport run: playback, recording, playback with recording, a take audition or the input
// monitor, run to its end inside the command that started it. It reads the playlist's files
// block by block, mixes them, writes them to the playback device one period at a time, reads
// the capture device one period at a time once the device latency is covered, and writes the
// captured blocks into the takes.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "app/session_settings.h"

namespace tapeloom {

struct Session;

struct RunRequest {
  bool plays = false;
  bool records = false;
  bool solo = false;          // "sp": only soloed tracks play
  bool monitor = false;       // "ma", "mr"
  bool monitorAll = false;    // "ma": every input, not only the armed ones
  bool takeAudition = false;  // a new take auditioned from the take menu
  SamplePosition monitorFrames = 0;
  // A take audition plays the last recording's span, less these frames at its start and end.
  SamplePosition auditionStartOffset = 0;
  SamplePosition auditionStopCut = 0;
  // Points that the command changed for the run only and that are put back after it.
  std::optional<SamplePosition> restoreIn;
  std::optional<SamplePosition> restoreOut;
  // The take audition: the position at which each track's file starts playing.
  std::array<SamplePosition, kMaxTracks> trackStartOffsets{};
};

// Runs the transport and prints its reports. After a recording the session's take state
// holds the new takes (pending for the take menu unless they were named in the command).
void RunTransport(Session& session, const RunRequest& request);

}  // namespace tapeloom
