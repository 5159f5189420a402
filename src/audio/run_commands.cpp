#include "audio/run_commands.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/safe_convert.h"
#include "core/time_base.h"
#include "wave/wave_header.h"

namespace tapeloom {

bool StopTimeChecksPass(const SessionSettings& s, ConsoleInput& input) {
  bool passed = true;
  auto refuse = [&](const char* message) {
    std::puts(message);
    std::puts("Enter 'c' to continue and fix");
    input.WaitFor("c");
    passed = false;
  };
  // A stop that is not set is also before (or at) the record start: both are said.
  if (s.o == 0) refuse(">> Stop time is not set!");
  if (s.o < s.e) {
    refuse("\n>> Stop time is set before record start!");
  } else if (s.o == s.e) {
    refuse("\n>> Stop time is the same as record start!");
  } else if (const std::int64_t longest = LongestWaveFrames(1); static_cast<std::int64_t>(s.o) - s.e > longest) {
    // A take's sizes are 32-bit: a longer one would be cut short for every reader.
    const std::string message = "\n>> Stop time is too far after record start: a take holds at most " +
                                DurationText(longest, s.sr) + " at " + std::to_string(s.sr) + " Hz (" +
                                std::to_string(longest) + " frames)!";
    refuse(message.c_str());
  }
  return passed;
}

RunRequest PlayCommand(const std::string& word) {
  return {.kind = word == "sp" ? RunKind::kPlaySoloed : RunKind::kPlay};
}

std::optional<RunRequest> RecordCommand(SessionSettings& s, ConsoleInput& input, SamplePosition prerollFrames,
                                        const std::string& word) {
  if (word == "R") {
    if (!StopTimeChecksPass(s, input)) return std::nullopt;
    return RunRequest{.kind = RunKind::kRecord};
  }
  if (word == "r") {
    s.e = std::max(s.i, s.e);  // recording never starts before playback; this stays
    if (!StopTimeChecksPass(s, input)) return std::nullopt;
    return RunRequest{.kind = RunKind::kPlayAndRecord};
  }
  // "ri": record from the play start, playing the preroll before it.
  const PointsToRestore restore{.in = s.i, .enter = s.e};
  s.e = s.i;
  s.i = MovePosition(s.i, -static_cast<std::int64_t>(prerollFrames), 1);
  if (!StopTimeChecksPass(s, input)) {
    s.i = *restore.in;
    s.e = *restore.enter;
    return std::nullopt;
  }
  return RunRequest{.kind = RunKind::kPlayAndRecord, .restore = restore};
}

RunRequest AuditionCommand(SessionSettings& s, SamplePosition auditionFrames, const std::string& word) {
  RunRequest request{.kind = RunKind::kPlay, .restore = {.in = s.i, .out = s.o}};
  if (word == "ao") {
    s.i = s.o;
  } else if (word == "ae") {
    s.i = s.e;
  }
  s.o = MovePosition(s.i, auditionFrames, 1);
  return request;
}

RunRequest MonitorCommand(const SessionSettings& s, ConsoleInput& input, const std::string& word) {
  std::puts("Enter monitor time in seconds.");
  const float seconds = input.ReadFloat().value_or(0.0f);
  std::puts("");
  return {.kind = word == "ma" ? RunKind::kMonitorAll : RunKind::kMonitorArmed,
          .monitorFrames = TruncateToInt32(static_cast<double>(seconds) * s.sr)};
}

}  // namespace tapeloom
