// The plan of a transport run, made before the card is touched: the lists resolved, the tracks
// opened, the takes named, created and opened, the gains computed, where playback starts and
// stops, and where in the captured stream the take begins. Making it prints the run's titles
// and points; a run that cannot start is cancelled here, with a message, before anything plays.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/run_request.h"
#include "takes/take_naming.h"
#include "tracks/run_lists.h"
#include "wave/wave_file.h"

namespace tapeloom {

struct RunPlan {
  RunKind kind = RunKind::kPlay;
  bool plays = false;
  bool records = false;
  bool monitors = false;

  RunLists lists;    // the flags and attributes of this run
  NamedTakes takes;  // the names of the new takes
  int busCount = 0;  // mix modes 2 and 3: the busses that reach the outputs
  std::array<FileDescriptor, kMaxTracks> trackFiles;
  std::array<SamplePosition, kMaxTracks> trackStartOffsets{};  // the play position of each file's first frame
  std::array<FileDescriptor, kMaxTracks> takeFiles;
  std::array<std::int32_t, kMaxTracks> takeDataOffsets{};
  TrackFlags recording{};  // armed inputs whose take is open

  std::int64_t start = 0;         // where playback (or the recording without it) starts
  std::int64_t stop = 0;          // a run that only plays ends once it has read past it
  std::int64_t recordStart = 0;   // `e`
  std::int64_t recordLength = 0;  // frames of take
  // A run that plays and records starts capturing once it has played this many frames, and
  // drops this many captured frames before the take begins.
  std::int64_t captureStart = 0;
  std::int64_t captureSkip = 0;

  // The inputs that record, in input order.
  std::vector<int> RecordingInputs() const;
  // Rows a play block needs: every active track's, and every output's.
  int PlayRows(int outputs) const;
};

// Makes the plan of a run, or returns null when the run is cancelled (the message printed).
std::unique_ptr<RunPlan> MakeRunPlan(const RunContext& context, const RunRequest& request);

}  // namespace tapeloom
