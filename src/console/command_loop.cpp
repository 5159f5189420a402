#include "console/command_loop.h"

#include <string>

#include "app/session.h"
#include "console/command_table.h"
#include "console/status_display.h"

namespace tapeloom {

void RunCommandLoop(Session& session) {
  std::string word;
  session.loopState = LoopState::Prompt;
  while (session.loopState != LoopState::Exit) {
    // While the mixer console is on it shows its own view and reads the words itself.
    if (!session.mixerView) {
      ShowStatus(session.settings);
      word = session.input.ReadWord();
    }
    OfferToCommandTable(session, word);
    if (session.loopState == LoopState::Run) session.loopState = LoopState::Prompt;
  }
}

}  // namespace tapeloom
