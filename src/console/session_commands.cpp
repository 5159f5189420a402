#include "console/session_commands.h"

#include "app/session.h"
#include "app/settings_file.h"
#include "console/help_page.h"

namespace tapeloom {

PassOutcome ShowHelpCommand(Session& session, std::string& word) {
  ShowHelpPage(session.input, word);
  return PassOutcome::Continue;
}

PassOutcome SaveCommand(Session& session, std::string& /*word*/) {
  Store_Settings(session.settings);
  return PassOutcome::Continue;
}

PassOutcome ExitCommand(Session& session, std::string& /*word*/) {
  session.loopState = LoopState::Exit;
  return PassOutcome::Continue;
}

}  // namespace tapeloom
