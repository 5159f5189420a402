#include "console/command_loop.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "audio/transport_run.h"
#include "console/command_table.h"
#include "console/line_editor.h"
#include "console/session.h"
#include "console/status_display.h"
#include "core/session_signals.h"
#include "takes/take_menu.h"
#include "tracks/run_lists.h"
#include "wave/text_file.h"

namespace tapeloom {
namespace {

void RunPending(Session& session) {
  const RunRequest request = *session.pendingRun;
  session.pendingRun.reset();
  RunTransport(session.ForRun(), request);
}

void OnePass(Session& session, std::string& word) {
  if (session.pendingRun) {
    // An audition the take menu asked for runs as the loop goes round, then the menu returns.
    RunPending(session);
  } else {
    // While the mixer console is on it shows its own view and reads the words itself.
    if (!session.mixerView) {
      ShowStatus(session.settings);
      word = session.input.ReadWord();
    }
    OfferToCommandTable(session, word);
    if (session.pendingRun) RunPending(session);
  }
  // A session that ends by a signal asks nothing more: the takes stay on disk as recorded.
  if (session.takes.pending && SessionEndSignal() == 0) {
    RunRequest audition;
    if (RunTakeMenu(session.takes, session.settings, session.input, session.derived.xfadeFull(), audition) ==
        TakeMenuOutcome::Audition) {
      session.pendingRun = audition;
    }
  }
  // A take name typed with a record command is for that command only.
  session.takes.takeNameMode = false;
  session.takes.takeName.clear();
}

void ListKeptTakes(const TakeState& takes) {
  std::puts("\nThe takes of the last recording stay on disk as they are:");
  const std::vector<std::string> names = SplitList(takes.takeList);
  for (std::size_t k = 0; k < names.size() && k < takes.recorded.size(); ++k) {
    if (takes.recorded[k] == 1) std::printf("   %s\n", names[k].c_str());
  }
}

// Before the session ends, the list files in use are opened again, as a run would, so that a
// list that has gone missing is named before leaving. Without input nothing can be asked.
void PrepareExit(Session& session) {
  try {
    ResolveRunLists(session.settings, session.input, {});
  } catch (const InputEnded&) {
  }
}

// The words the command table takes whole, which Tab completes at a terminal.
std::vector<std::string> CommandWords() {
  std::vector<std::string> words;
  for (const CommandTest& test : CommandTable()) {
    if (test.kind != MatchKind::Equals) continue;
    for (const std::string_view word : test.words) {
      if (!word.empty()) words.emplace_back(word);
    }
  }
  return words;
}

}  // namespace

void RunCommandLoop(Session& session) {
  // At a terminal the words are typed with line editing, a history and completion.
  const std::unique_ptr<LineEditor> editor = LineEditor::ForTerminal(session.input, CommandWords());
  std::string word;
  try {
    while (!session.exitRequested && SessionEndSignal() == 0) OnePass(session, word);
  } catch (const InputEnded&) {
    // The end of input ends the session as "x" does, and so does a signal at a prompt.
  }
  if (SessionEndSignal() != 0 && session.takes.pending) ListKeptTakes(session.takes);
  PrepareExit(session);
}

}  // namespace tapeloom
