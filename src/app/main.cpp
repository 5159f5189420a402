// Tapeloom: a text-console multitrack audio recorder and player. It takes no arguments; it
// works in the current directory, from param.txt, the list files and the words typed.
#include <cstdio>

#include "app/startup.h"
#include "console/console_input.h"

int main() {
  tapeloom::ConsoleInput input(stdin);
  const int status = tapeloom::RunTapeloom(input);
  std::fflush(stdout);
  return status;
}
