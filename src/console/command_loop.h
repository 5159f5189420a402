#pragma once

namespace tapeloom {

struct Session;

// Shows the status, reads a word, offers it to the command table and acts on the loop state,
// until "x". Throws InputEnded when standard input ends.
void RunCommandLoop(Session& session);

}  // namespace tapeloom
