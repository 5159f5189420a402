#include "console/command_loop.h"

#include <string>

#include "app/session.h"
#include "audio/transport_run.h"
#include "console/command_table.h"
#include "console/status_display.h"
#include "tracks/run_lists.h"

namespace tapeloom {
namespace {

void OnePass(Session& session, std::string& word) {
  if (session.pointsAfterRecordFromIn) {
    session.settings.i = session.pointsAfterRecordFromIn->in;
    session.settings.e = session.pointsAfterRecordFromIn->enter;
    session.pointsAfterRecordFromIn.reset();
  }
  // While the mixer console is on it shows its own view and reads the words itself.
  if (!session.mixerView) {
    ShowStatus(session.settings);
    word = session.input.ReadWord();
  }
  OfferToCommandTable(session, word);
  if (session.loopState == LoopState::Run && session.pendingRun) {
    const RunRequest request = *session.pendingRun;
    session.pendingRun.reset();
    RunTransport(session, request);
  }
  if (session.loopState == LoopState::Run) session.loopState = LoopState::Prompt;
  // A take name typed with a record command is for that command only.
  session.takes.takeNameMode = false;
  session.takes.takeName.clear();
}

// Before the session ends, the list files in use are opened again, as a run would, so that a
// list that has gone missing is named before leaving. Without input nothing can be asked.
void PrepareExit(Session& session) {
  try {
    ResolveRunLists(session.settings, session.input, {});
  } catch (const InputEnded&) {
  }
}

}  // namespace

void RunCommandLoop(Session& session) {
  std::string word;
  session.loopState = LoopState::Prompt;
  try {
    while (session.loopState != LoopState::Exit) OnePass(session, word);
  } catch (const InputEnded&) {
    // The end of input ends the session as "x" does.
  }
  PrepareExit(session);
}

}  // namespace tapeloom
