// The take menu: after a recording whose takes were not named in the command, the user
// settles the new takes: deletes them, puts them in place of the record list's files, inserts
// them with crossfades, keeps them under names derived from the record list or made
// automatically, or auditions them first.
#pragma once

#include "audio/run_request.h"
#include "core/console_input.h"
#include "core/session_settings.h"
#include "takes/take_state.h"

namespace tapeloom {

enum class TakeMenuOutcome {
  Settled,   // a command was carried out; no takes are pending any more
  Audition,  // "aud": the audition run is prepared; the menu comes back after it
};

// Shows the menu and reads commands until one is carried out or an audition is asked for (the
// run is then put in `audition`). crossfadeFrames is the full crossfade of an insertion. Throws
// InputEnded when the input ends: the takes stay on disk under their current names.
TakeMenuOutcome RunTakeMenu(TakeState& takes, const SessionSettings& settings, ConsoleInput& input,
                            SamplePosition crossfadeFrames, RunRequest& audition);

}  // namespace tapeloom
