// The commands of the command loop itself: the help page, save and exit.
#pragma once

#include <string>

#include "console/command_table.h"

namespace tapeloom {

PassOutcome ShowHelpCommand(Session& session, std::string& word);

// "s": saves every setting and the current transport points to param.txt.
PassOutcome SaveCommand(Session& session, std::string& word);

// "x": ends the session at the end of this pass. Nothing is saved.
PassOutcome ExitCommand(Session& session, std::string& word);

}  // namespace tapeloom
