// The real tapeloom binary on a pseudo-terminal: keys typed, every byte shown, signals, status, modes left.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

namespace tapeloom::test {

class TerminalProgram {
 public:
  // Starts the program in `dir` on the simulated card, on a terminal of 24 by 80 (TERM=xterm).
  explicit TerminalProgram(const std::filesystem::path& dir);
  TerminalProgram(const TerminalProgram&) = delete;
  TerminalProgram& operator=(const TerminalProgram&) = delete;
  ~TerminalProgram();

  bool Started() const { return pid_ > 0; }
  void Type(std::string_view keys) const;
  void Signal(int signal) const;

  // Waits until `text` is shown after what the last Await found; false after the timeout or the program's end.
  bool Await(std::string_view text, std::chrono::seconds timeout = std::chrono::seconds(30));

  // Waits until the program reads keys one by one, so that Ctrl-U and Ctrl-D reach it, not the line discipline.
  bool AwaitEditing(std::chrono::seconds timeout = std::chrono::seconds(30));

  // Waits for the end (killing it after the timeout): the exit status, 128 + the signal that killed it.
  int Finish(std::chrono::seconds timeout = std::chrono::seconds(30));

  const std::string& Shown() const { return shown_; }

  // Whether the terminal reads whole lines and echoes them, as the program found it.
  bool InLineMode() const;

 private:
  // Appends what the program sends within `milliseconds`; false once the terminal is closed.
  bool Read(int milliseconds);

  int master_ = -1;
  pid_t pid_ = -1;
  std::string shown_;
  std::size_t mark_ = 0;
};

}  // namespace tapeloom::test
