// Runs the real tapeloom binary in a temporary session directory on the simulated sound card,
// with a script of words on standard input, and collects what it printed and its exit status.
// Scenarios of every feature build on this: write the session's files, run, compare the text.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/run_command.h"
#include "support/temp_dir.h"

namespace tapeloom::test {

using RunResult = CommandResult;

// param.txt lines for the simulated card at 48000 Hz. With a period of 128 frames every whole
// second is a whole number of periods.
std::string SimCardParams(int inputs = 2, int outputs = 2, int ch = 4, int buf = 1024);

class ConsoleSession {
 public:
  // A fresh session directory holding an empty card-in.raw, so that the capture side opens.
  ConsoleSession();

  const std::filesystem::path& dir() const { return session_; }
  std::filesystem::path operator/(std::string_view name) const { return session_ / name; }
  void Write(std::string_view name, std::string_view content) const;
  std::string Read(std::string_view name) const;
  bool Exists(std::string_view name) const;
  // The names of the files in the session directory, sorted.
  std::vector<std::string> Files() const;

  // Runs tapeloom here with `input` on standard input. A run that outlives the timeout is
  // killed and fails the test. fileSizeLimit, when given, is the largest file in bytes the
  // program may write (prlimit --fsize), to make writes fail as on a full disk; its output
  // goes through pipes, which the limit does not cut. whileRunning, when given, is called
  // about every millisecond with the program's process id while it runs (to signal it).
  RunResult Run(std::string_view input, std::chrono::seconds timeout = std::chrono::seconds(120),
                std::optional<long> fileSizeLimit = std::nullopt,
                const std::function<void(pid_t)>& whileRunning = {}) const;

  // As Run, with standard input a pipe that is given `input` and stays open until the program
  // ends, as a terminal would: the program waits at its prompt for more. `watch` is called
  // about every millisecond with the process id and what the program printed so far.
  RunResult RunLive(std::string_view input, const Watch& watch,
                    std::chrono::seconds timeout = std::chrono::seconds(60)) const;

  // As Run, on a disk of `diskBytes` (a tmpfs in a mount namespace of the program's own) that
  // holds a copy of the session's files; what the program leaves there comes back into the
  // session directory. The card's files stay outside. nullopt when no such disk can be
  // mounted here (mounting needs root).
  std::optional<RunResult> RunOnSmallDisk(std::string_view input, long diskBytes) const;

  // As Run, started by another program: `wrapper` is the command line before the program's
  // name (a tracer, say).
  RunResult RunUnder(const std::vector<std::string>& wrapper, std::string_view input) const;

  // Whether the program runs in an emulator (the cross-built suite).
  static bool Emulated();

  // As Run, with these words after the program's name on its command line.
  RunResult RunWithArguments(const std::vector<std::string>& arguments, std::string_view input = "") const;

 private:
  RunResult Spawn(std::string_view input, bool liveInput, std::chrono::seconds timeout,
                  const std::vector<std::string>& wrapper, const Watch& watch,
                  const std::vector<std::string>& arguments = {}) const;

  TempDir root_;
  std::filesystem::path session_;
};

// A console scenario: a session directory with empty record and play lists unless the test
// writes its own.
class ConsoleTest : public testing::Test {
 protected:
  void SetUp() override;
  // Writes param.txt, types `input` and returns what was printed after the driver report. The
  // program must end with status 0; the whole result stays in `last`.
  std::string Prompt(const std::string& params, const std::string& input);
  std::string Saved() const { return session.Read("param.txt"); }

  ConsoleSession session;
  RunResult last;
};

// The text printed after the driver report, i.e. from the first status display on.
std::string AfterDriverReport(const std::string& out);

// The full status display in seconds with every point at 0.
std::string ZeroStatusDisplay();

}  // namespace tapeloom::test
