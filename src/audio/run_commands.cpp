#include "audio/run_commands.h"

#include <algorithm>
#include <cstdio>

#include "app/session.h"
#include "time/safe_convert.h"
#include "time/time_base.h"

namespace tapeloom {
namespace {

void StartRun(Session& session, const RunRequest& request) {
  session.pendingRun = request;
  session.loopState = LoopState::Run;
}

}  // namespace

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
  }
  return passed;
}

PassOutcome PlayCommand(Session& session, std::string& word) {
  StartRun(session, {.plays = true, .solo = word == "sp"});
  return PassOutcome::Continue;
}

PassOutcome RecordCommand(Session& session, std::string& word) {
  SessionSettings& s = session.settings;
  if (word == "r") {
    s.e = std::max(s.i, s.e);  // recording never starts before playback; this stays
    if (StopTimeChecksPass(s, session.input)) StartRun(session, {.plays = true, .records = true});
  } else if (word == "R") {
    if (StopTimeChecksPass(s, session.input)) StartRun(session, {.records = true});
  } else {
    // "ri": record from the play start, playing the preroll before it. Both points come back
    // when the loop goes round next, after the run and its take handling.
    session.pointsAfterRecordFromIn = PointsToRestore{s.i, s.e};
    s.e = s.i;
    s.i = MovePosition(s.i, -static_cast<std::int64_t>(session.derived.prerollFrames), 1);
    if (StopTimeChecksPass(s, session.input)) StartRun(session, {.plays = true, .records = true});
  }
  return PassOutcome::Continue;
}

PassOutcome AuditionCommand(Session& session, std::string& word) {
  SessionSettings& s = session.settings;
  const SamplePosition length = session.derived.auditionFrames;
  RunRequest request{.plays = true, .restoreIn = s.i, .restoreOut = s.o};
  if (word == "ao") {
    s.i = s.o;
  } else if (word == "ae") {
    s.i = s.e;
  }
  s.o = MovePosition(s.i, length, 1);
  StartRun(session, request);
  return PassOutcome::Continue;
}

PassOutcome MonitorCommand(Session& session, std::string& word) {
  SessionSettings& s = session.settings;
  std::puts("Enter monitor time in seconds.");
  const float seconds = session.input.ReadFloat().value_or(0.0f);
  std::puts("");
  StartRun(session, {.monitor = true,
                     .monitorAll = word == "ma",
                     .monitorFrames = TruncateToInt32(static_cast<double>(seconds) * s.sr)});
  return PassOutcome::Continue;
}

}  // namespace tapeloom
