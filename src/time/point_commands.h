// Console commands that set, nudge, copy and jump the transport points.
#pragma once

#include <string>

#include "console/command_table.h"

namespace tapeloom {

// "i", "o", "e": asks for the point in seconds, or as measure and beat in tempo mode.
PassOutcome PromptForPointCommand(Session& session, std::string& word);

// "i12.5", "o3", "e5.2": the time follows the point's letter.
PassOutcome DirectPointEntryCommand(Session& session, std::string& word);

// "j", "J".
PassOutcome JumpCommand(Session& session, std::string& word);

// "n", "b", "no", "bo", "ne", "be", "N", "B".
PassOutcome NudgeCommand(Session& session, std::string& word);

// "nn": shows and sets the nudge step.
PassOutcome NudgeAmountCommand(Session& session, std::string& word);

// "i.o", "m.e", ...: copies one point to another.
PassOutcome CopyPointCommand(Session& session, std::string& word);

// "f": the stop goes to the end of the longest file of the playlist, as it is (no rounding and
// no check against the play start).
PassOutcome LongestFileStopCommand(Session& session, std::string& word);

}  // namespace tapeloom
