// What went wrong where during a run, kept for the list after it: each xrun of the card and each
// stretch that the disk did not deliver or take in time, with its position on the tracks'
// timeline, so that the user knows where to listen. The room is made before the run; nothing
// is allocated while it goes on.
#pragma once

#include <cstdint>
#include <vector>

namespace tapeloom {

enum class RunEventKind {
  kUnderrun,    // playback ran dry: the card played silence
  kOverrun,     // capture overflowed: the card dropped input
  kTracksLate,  // the tracks' blocks were not read in time: silence played in their place
  kTakesLate,   // the takes' blocks could not be handed to the disk in time: silence in the takes
};

struct RunEvent {
  RunEventKind kind = RunEventKind::kUnderrun;
  std::int64_t position = 0;  // on the tracks' timeline, in frames
  std::int64_t frames = 0;    // how long it lasted (0: not known)
};

class RunEvents {
 public:
  RunEvents();

  // Notes an event. A stretch of the disk that continues the one noted last of its kind
  // grows it.
  void Add(RunEventKind kind, std::int64_t position, std::int64_t frames);

  const std::vector<RunEvent>& list() const { return events_; }
  // Events beyond the room made for them: counted, not listed.
  int unlisted() const { return unlisted_; }

 private:
  std::vector<RunEvent> events_;
  int unlisted_ = 0;
};

}  // namespace tapeloom
