// The session: everything that lives from the device set-up to "x". PLAY_REC owns it.
#pragma once

#include <array>
#include <memory>
#include <optional>

#include "app/derived_values.h"
#include "app/session_settings.h"
#include "audio/device_setup.h"
#include "audio/metering.h"
#include "audio/pcm_port.h"
#include "audio/transport_buffers.h"
#include "audio/transport_run.h"
#include "console/console_input.h"
#include "mix/mix_engine.h"
#include "takes/take_state.h"

namespace tapeloom {

// What the command loop does at the end of a pass.
enum class LoopState {
  Prompt = 0,  // show the status and read the next word
  Run = 1,     // run the transport that the handler prepared, then prompt again
  Exit = 2,    // leave the loop and end the session
};

struct PointsToRestore {
  SamplePosition in = 0;
  SamplePosition enter = 0;
};

struct Session {
  Session(SessionSettings& sessionSettings, ConsoleInput& consoleInput, AudioDevices audioDevices);

  SessionSettings& settings;
  ConsoleInput& input;
  AudioDevices devices;
  std::unique_ptr<PcmPort> port;              // the PCM calls of the runs (tests put a fault injector here)
  std::unique_ptr<TransportBuffers> buffers;  // allocated once, reused by every run
  MixEngine mixer;
  std::array<float, kMaxTracks> gainL{};  // track gains, kept between runs for tracks that do not play
  std::array<float, kMaxTracks> gainR{};
  MeterState meterState;
  DerivedValues derived;
  TakeState takes;

  LoopState loopState = LoopState::Prompt;
  std::optional<RunRequest> pendingRun;  // prepared by a command, run at the end of its pass
  // "ri" moves the play start and record start for its run; they come back when the loop
  // goes round next.
  std::optional<PointsToRestore> pointsAfterRecordFromIn;
  bool mixerView = false;  // the mixer console replaces the status display while it is on
};

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
