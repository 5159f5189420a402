// Choosing the list files in use and the soloed tracks: "pf" and "rf" keep tables of stored
// playlist and record list names, slot 1 being the list in use; "so" edits the solo flags that
// "sp" plays.
#pragma once

#include <array>
#include <string>

#include "core/console_input.h"
#include "core/session_settings.h"

namespace tapeloom {

// Which table the dialogue works on, and its texts.
enum class ListKind { kPlaylist, kRecordList };

// "pf" and "rf": lists the stored names, then a slot number makes that name the list in use, a
// new name becomes it, "rem", "a" and "ac" edit the table, "d" leaves. Names are kept whole.
void ListSelectionCommand(std::array<std::string, kListSlots>& slots, ListKind kind, ConsoleInput& input,
                          std::string& word);

// "so": the soloed tracks, with tracks added ("a") and removed ("r") until "d".
void SoloCommand(SessionSettings& s, ConsoleInput& input, std::string& word);

}  // namespace tapeloom
