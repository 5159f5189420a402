// The session function: from the device set-up to "x".
#pragma once

#include "console/session.h"
#include "core/console_input.h"
#include "core/session_settings.h"

namespace tapeloom {

// Sets up the audio devices, saves a first-run param.txt, derives the device-dependent values,
// rounds the stored positions to whole periods and runs the command loop until "x" or the end
// of input; then drains and closes the devices.
void PLAY_REC(SessionSettings& settings, ConsoleInput& input);

// Rounds the play start, stop, record start, every range end and every locate point up to
// whole device periods.
void RoundStoredPositions(SessionSettings& settings, int periodFrames);

// The session values that depend on the device: allocations, derived frame counts, bus gains.
void StartSession(Session& session);

}  // namespace tapeloom
