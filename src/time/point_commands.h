// Console commands that set, nudge, copy and jump the transport points.
#pragma once

#include <string>

#include "core/console_input.h"
#include "core/session_settings.h"

namespace tapeloom {

// "i", "o", "e": asks for the point in seconds, or as measure and beat in tempo mode. The word
// is cleared, so that the letter is not taken as a time typed after it by a later test.
void PromptForPointCommand(SessionSettings& s, ConsoleInput& input, int period, std::string& word);

// "i12.5", "o3", "e5.2": the time follows the point's letter.
void DirectPointEntryCommand(SessionSettings& s, int period, const std::string& word);

// "j", "J".
void JumpCommand(SessionSettings& s, int period, const std::string& word);

// "nn": shows and sets the nudge step.
void NudgeAmountCommand(SessionSettings& s, ConsoleInput& input, int period, SamplePosition& nudgeStep);

// "f": the stop goes to the end of the longest file of the playlist, as it is (no rounding and
// no check against the play start).
void LongestFileStopCommand(SessionSettings& s);

}  // namespace tapeloom
