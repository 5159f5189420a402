#pragma once

namespace tapeloom {

struct Session;

// Shows the status, reads a word, offers it to the command table and runs what the commands
// prepared, until "x" or the end of input. Before it returns, the list files in use are read
// once more, so that a list that has gone missing is asked for before the session ends.
void RunCommandLoop(Session& session);

}  // namespace tapeloom
