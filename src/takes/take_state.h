// What the session keeps about the takes of the last recording, from the naming pass to the
// take menu that settles them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/session_settings.h"
#include "wave/file_status.h"

namespace tapeloom {

struct TakeState {
  // Set by a record command that carries a take name ("r_vox2"): the takes get their final
  // names at once and no take menu follows.
  bool takeNameMode = false;
  std::string takeName;

  std::string takeList;        // one line per input channel: the take's name, or "-"
  std::string recordListText;  // the record list as the last recording read it
  TrackFlags recorded{};       // inputs whose take was written
  // Inputs whose take lost audio to a failed write: the system's reason. Such a take keeps
  // what was written under its own name and is never put in place of another file.
  std::array<FileStatus, kMaxTracks> writeFailures;
  std::int32_t stamp = 0;  // the clock stamp of the last naming pass
  SamplePosition recordStart = 0;
  SamplePosition recordLength = 0;
  bool pending = false;  // takes wait for the take menu
  // The quarter of the takes the last audition played ("aud"); every recording clears them.
  SamplePosition auditionStartOffset = 0;
  SamplePosition auditionStopCut = 0;
  int dontAskAgain = 0;  // "W" in the overwrite question: never asked again this session
};

}  // namespace tapeloom
