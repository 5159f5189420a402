// The transport status shown before every command word: the full display with the menu lines,
// or the points' one short line (ShowStatusLine), in seconds or in measure.beat.
#pragma once

#include "core/session_settings.h"

namespace tapeloom {

void ShowStatus(const SessionSettings& settings);

}  // namespace tapeloom
