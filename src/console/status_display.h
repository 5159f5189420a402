// The transport status shown before every command word: the full display with the menu lines,
// or one short line, in seconds or in measure.beat.
#pragma once

#include "app/session_settings.h"

namespace tapeloom {

void ShowStatus(const SessionSettings& settings);

// The short status line alone ("Play: ...   Rec: ...   Stop: ...   Mem: ..."); the mixer
// view shows it too.
void ShowStatusLine(const SessionSettings& settings);

}  // namespace tapeloom
