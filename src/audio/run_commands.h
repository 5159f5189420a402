// The console commands that start transport runs: plays, recordings, auditions and the input
// monitor. Each prepares the run and sets the loop state; the run happens at the end of the
// command loop's pass.
#pragma once

#include <string>

#include "console/command_table.h"

namespace tapeloom {

struct SessionSettings;
class ConsoleInput;

// "p" and "sp".
PassOutcome PlayCommand(Session& session, std::string& word);

// "r", "R", "ri".
PassOutcome RecordCommand(Session& session, std::string& word);

// "ai", "ao", "ae".
PassOutcome AuditionCommand(Session& session, std::string& word);

// "ma", "mr".
PassOutcome MonitorCommand(Session& session, std::string& word);

// The checks made before a recording starts: the stop must be set and lie after the record
// start. Each problem is shown and waits for "c". Returns true when none was found.
bool StopTimeChecksPass(const SessionSettings& settings, ConsoleInput& input);

}  // namespace tapeloom
