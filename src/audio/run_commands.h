// The console commands that start transport runs: plays, recordings, auditions and the input
// monitor. Each decides the run and returns it; the command loop runs it at the end of its
// pass.
#pragma once

#include <optional>
#include <string>

#include "audio/transport_run.h"
#include "core/console_input.h"
#include "core/session_settings.h"

namespace tapeloom {

// "p" and "sp".
RunRequest PlayCommand(const std::string& word);

// "r", "R", "ri". A recording needs a stop after the record start (StopTimeChecksPass);
// without one there is no run. "ri" records from the play start with the preroll before it:
// the play start and record start it moves come back after the run, or at once when there is
// none.
std::optional<RunRequest> RecordCommand(SessionSettings& s, ConsoleInput& input, SamplePosition prerollFrames,
                                        const std::string& word);

// "ai", "ao", "ae": auditionFrames from the play start, the stop or the record start; the play
// start and stop come back after the run.
RunRequest AuditionCommand(SessionSettings& s, SamplePosition auditionFrames, const std::string& word);

// "ma", "mr": asks for the time in seconds.
RunRequest MonitorCommand(const SessionSettings& s, ConsoleInput& input, const std::string& word);

// The checks made before a recording starts: the stop must be set and lie after the record
// start, but no further than a take can hold (LongestWaveFrames). Each problem is shown and
// waits for "c". Returns true when none was found.
bool StopTimeChecksPass(const SessionSettings& settings, ConsoleInput& input);

}  // namespace tapeloom
