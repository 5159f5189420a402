// "cal": the latency calibration. With an output wired to an input by a cable, a test signal
// is played and recorded through the transport run twice, as a recording with the play start
// at the record start and as one with the play start before it. Where the signal lands in
// each capture shows how far off takes land with the session's settings; the correction
// (`odcomp` whole periods for runs that start playing early, `latcomp` frames for every run
// that plays) is offered, and set only when the user agrees.
#pragma once

#include <cstdint>
#include <optional>

#include "audio/transport_run.h"

namespace tapeloom {

// How far off a take lands in each case, in frames: positive when what was played shows up
// later in the take than where it played. Nullopt for a case that was not measured.
struct LatencyMeasurement {
  std::int64_t atRecordStart = 0;      // play start = record start
  std::int64_t beforeRecordStart = 0;  // play start before the record start
};

// The settings that put both cases on their exact frame, from a measurement taken with
// `odcomp` and `latcomp` in force. `residual` is what the second case is still off when the
// two cases differ by more than whole periods (a card whose latency is not steady).
struct LatencyCorrection {
  int odcomp = 0;
  int latcomp = 0;
  std::int64_t residual = 0;
  std::int64_t roundTrip = 0;  // frames from the write of a frame to its capture
};

std::optional<LatencyCorrection> CorrectionFor(const LatencyMeasurement& measured, int odcomp, int latcomp, int period,
                                               int playBufferFrames);

// The console command. The session's settings change only when the user agrees.
void CalibrateCommand(const RunContext& context);

}  // namespace tapeloom
