// The session: everything that lives from the device set-up to "x", as the command loop works
// on it. PLAY_REC (app/play_rec.h) makes it, owns it and ends it; the command table hands each
// command the pieces it works on.
#pragma once

#include <memory>
#include <optional>

#include "audio/metering.h"
#include "audio/pcm_port.h"
#include "audio/transport_buffers.h"
#include "audio/transport_run.h"
#include "core/console_input.h"
#include "core/derived_values.h"
#include "core/session_settings.h"
#include "mix/gains.h"
#include "mix/mix_engine.h"
#include "takes/take_state.h"

namespace tapeloom {

struct Session {
  Session(SessionSettings& sessionSettings, ConsoleInput& consoleInput, std::unique_ptr<PcmPort> pcmPort);

  SessionSettings& settings;
  ConsoleInput& input;
  std::unique_ptr<PcmPort> port;              // the sound card
  std::unique_ptr<TransportBuffers> buffers;  // allocated once, reused by every run
  MixEngine mixer;
  TrackGains gains;  // kept between runs for tracks that do not play
  MeterState meterState;
  DerivedValues derived;
  TakeState takes;

  // A run that a command (or the take menu's audition) has prepared; it runs at the end of the
  // loop's pass, or as the loop goes round.
  std::optional<RunRequest> pendingRun;
  bool exitRequested = false;  // "x": the loop ends after this pass
  bool mixerView = false;      // the mixer console replaces the status display while it is on

  // The pieces a transport run works on.
  RunContext ForRun();
};

}  // namespace tapeloom
