// The session: everything that lives from the device set-up to "x". PLAY_REC owns it.
#pragma once

#include "app/derived_values.h"
#include "app/session_settings.h"
#include "audio/device_setup.h"
#include "console/console_input.h"

namespace tapeloom {

// What the command loop does at the end of a pass.
enum class LoopState {
  Prompt = 0,  // show the status and read the next word
  Run = 1,     // run the transport that the handler prepared, then prompt again
  Exit = 2,    // leave the loop and end the session
};

struct Session {
  SessionSettings& settings;
  ConsoleInput& input;
  AudioDevices devices;
  DerivedValues derived;
  LoopState loopState = LoopState::Prompt;
  bool mixerView = false;  // the mixer console replaces the status display while it is on
};

// Sets up the audio devices, saves a first-run param.txt, derives the device-dependent values,
// rounds the stored positions to whole periods and runs the command loop until "x" or the end
// of input; then drains and closes the devices.
void PLAY_REC(SessionSettings& settings, ConsoleInput& input);

// Rounds the play start, stop, record start, every range end and every locate point up to
// whole device periods.
void RoundStoredPositions(SessionSettings& settings, int periodFrames);

}  // namespace tapeloom
