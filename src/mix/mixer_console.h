// The mixer console: the mixer view with its edit words for volume, pan and bus level, the
// mix mode menu and the bus routing page. Volumes and pans take effect at the next run (modes
// 1 to 3) or export, when SetVolume turns them into gains; bus levels take effect at once.
#pragma once

#include <string>

#include "core/console_input.h"
#include "core/session_settings.h"

namespace tapeloom {

// The mixer view, drawn instead of the status display while the console is on: the playlist's
// tracks with their volume and pan, the master or bus levels, a rule, the status line and the
// console's prompt.
void ShowMixer(const SessionSettings& s);

// While the console is on: draws the view, reads the next word at its prompt and, when it is a
// mixer edit (nv, nb, np) or "h", carries it out. The word is left for the session's commands.
void MixerConsoleWord(SessionSettings& s, ConsoleInput& input, std::string& word);

// "mod": shows the current mix mode and the others, and asks for one until 0 to 3 is typed.
void MixModeMenu(SessionSettings& s, ConsoleInput& input);

// "bus": the bus routing page, with tracks added to and removed from busses until "c".
void BusRoutingPage(SessionSettings& s, ConsoleInput& input);

}  // namespace tapeloom
