// A transport run: playback, recording, playback with recording, a take audition, the input
// monitor or the latency calibration, run to its end inside the command that started it.
//
// A run is made of three parts. The plan, made before it starts, resolves the lists, opens
// the files and creates the takes, computes the gains and where the take begins
// (run_plan.h). The play source gives the blocks to play and the capture sink takes the
// blocks captured (play_source.h, capture_sink.h); for the playlist and the takes they meet the
// disk worker (disk_worker.h), which does every file call of the run in a thread of its own.
// Between them the device cycle (device_cycle.h) knows only the port, the source and the
// sink, and never waits on storage.
#pragma once

#include "audio/run_request.h"

namespace tapeloom {

// Runs the transport and prints its reports. After a recording, context.takes holds the new
// takes (pending for the take menu unless they were named in the command).
void RunTransport(const RunContext& context, const RunRequest& request);

}  // namespace tapeloom
