// Tapeloom: a text-console multitrack audio recorder and player. A session takes no arguments;
// it works in the current directory, from param.txt, the list files and the words typed.
// "--version" and "--help" answer without starting one.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/arguments.h"
#include "app/startup.h"
#include "core/console_input.h"
#include "core/session_signals.h"

int main(int argc, char** argv) {
  if (argc > 1) return tapeloom::AnswerArguments(argc, argv);
  // A file that reaches the system's size limit must fail its write, which the recorder
  // reports and survives, instead of killing the program in the middle of a take.
  std::signal(SIGXFSZ, SIG_IGN);
  // Ctrl-C, SIGTERM and SIGHUP stop a run or an export, or end the session, but never in the
  // middle of a write.
  tapeloom::CatchSessionSignals();
  tapeloom::ConsoleInput input(stdin);
  int status = tapeloom::RunTapeloom(input);
  if (const int signal = tapeloom::SessionEndSignal(); signal != 0) {
    std::printf("\nSession ended by signal %i (%s)\n", signal, strsignal(signal));
    status = 128 + signal;
  }
  std::fflush(stdout);
  return status;
}
