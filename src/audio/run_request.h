// A transport run as the command that starts it asks for it, and what the session gives it to
// work on.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "audio/metering.h"
#include "audio/pcm_port.h"
#include "audio/transport_buffers.h"
#include "core/console_input.h"
#include "core/derived_values.h"
#include "core/session_settings.h"
#include "mix/gains.h"
#include "mix/mix_engine.h"
#include "takes/take_state.h"

namespace tapeloom {

// What a run does. The command that starts it decides; nothing changes it during the run.
enum class RunKind {
  kPlay,           // "p", "ai", "ao", "ae": the playlist from the play start to the stop
  kPlaySoloed,     // "sp": only the soloed tracks
  kPlayAndRecord,  // "r", "ri": playback, and the armed inputs recorded from the record start
  kRecord,         // "R": the armed inputs recorded from the record start, without playback
  kAudition,       // "aud" of the take menu: the new takes in place of their tracks
  kMonitorArmed,   // "mr": the peaks of the armed inputs
  kMonitorAll,     // "ma": the peaks of every input
  kCalibrate,      // "cal": a test signal played on one output and captured from one input
};

// The two ends of a calibration run, which otherwise plays and records as "r" does: the test
// signal it plays on one output instead of the playlist, and the memory it captures one input
// into instead of a take. Nothing is read from or written to a file.
struct CalibrationLoop {
  int output = 0;  // counted from 0
  int input = 0;
  std::vector<std::int32_t> signal;
  SamplePosition signalStart = 0;  // the position the signal's first frame plays at
  // What the input held from the record start to the stop, frame for frame, as a take would.
  std::vector<std::int32_t> captured;
  int xruns = 0;  // underruns, overruns and failed transfers: the measurement is not to be trusted
};

// Points that a command moved for its run only; each one given is put back when the run is
// over (also when it was cancelled), after its takes were handed over.
struct PointsToRestore {
  std::optional<SamplePosition> in;
  std::optional<SamplePosition> out;
  std::optional<SamplePosition> enter;
};

struct RunRequest {
  RunKind kind = RunKind::kPlay;
  SamplePosition monitorFrames = 0;  // the monitor's length
  // The audition plays the last recording's span, less these frames at its start and end,
  // each track's file starting at its offset.
  SamplePosition auditionStartOffset = 0;
  SamplePosition auditionStopCut = 0;
  std::array<SamplePosition, kMaxTracks> trackStartOffsets{};
  PointsToRestore restore;
  CalibrationLoop* calibration = nullptr;  // kCalibrate only

  bool plays() const;
  bool records() const;
  bool monitors() const;
};

// What a run works on besides its request: the settings and the console (a list file that has
// gone missing is asked for), the device, the session's buffers, mixer, gains and meter, and
// the take state that a recording hands its takes to.
struct RunContext {
  SessionSettings& settings;
  ConsoleInput& input;
  PcmPort& port;
  TransportBuffers& buffers;
  MixEngine& mixer;
  TrackGains& gains;
  MeterState& meterState;
  const MeterScale& meterScale;
  TakeState& takes;
};

}  // namespace tapeloom
