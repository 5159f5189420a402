// Tapeloom: a text-console multitrack audio recorder and player. It takes no arguments; it
// works in the current directory, from param.txt, the list files and the words typed.
#include <csignal>
#include <cstdio>

#include "app/startup.h"
#include "console/console_input.h"

int main() {
  // A file that reaches the system's size limit must fail its write, which the recorder
  // reports and survives, instead of killing the program in the middle of a take.
  std::signal(SIGXFSZ, SIG_IGN);
  tapeloom::ConsoleInput input(stdin);
  const int status = tapeloom::RunTapeloom(input);
  std::fflush(stdout);
  return status;
}
