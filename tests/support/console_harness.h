// The real tapeloom binary in a temporary session directory on the simulated sound card, words on its standard input.
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

// param.txt lines for the simulated card at 48000 Hz.
std::string SimCardParams(int inputs = 2, int outputs = 2, int ch = 4, int buf = 1024);

// What a call printed on standard output.
inline std::string Printed(const std::function<void()>& call) {
  testing::internal::CaptureStdout();
  call();
  return testing::internal::GetCapturedStdout();
}

class ConsoleSession : public TempDir {
 public:
  // A fresh session directory (this TempDir) holding an empty card-in.raw, so that the capture side opens.
  ConsoleSession();

  const std::filesystem::path& dir() const { return path(); }
  // The names of the files in the session directory, sorted.
  std::vector<std::string> Files() const;

  // Runs tapeloom here with `input` on standard input; killed and failed after the timeout. fileSizeLimit: the largest
  // file it may write (prlimit --fsize, as a full disk). whileRunning: called about every ms with its process id.
  RunResult Run(std::string_view input, std::chrono::seconds timeout = std::chrono::seconds(120),
                std::optional<long> fileSizeLimit = std::nullopt,
                const std::function<void(pid_t)>& whileRunning = {}) const;

  // As Run, standard input a pipe open until the program ends (it waits at its prompt for more); `watch` is called
  // about every ms with the process id and what was printed so far.
  RunResult RunLive(std::string_view input, const Watch& watch,
                    std::chrono::seconds timeout = std::chrono::seconds(60)) const;

  // As Run, on a tmpfs of `diskBytes` in a mount namespace of its own, holding a copy of the session's files (what it
  // leaves comes back; the card's files stay outside). nullopt when no such disk can be mounted (needs root).
  std::optional<RunResult> RunOnSmallDisk(std::string_view input, long diskBytes) const;

  // As Run, `wrapper` the command line before the program's name (a tracer, say).
  RunResult RunUnder(const std::vector<std::string>& wrapper, std::string_view input) const;

  // Whether the program runs in an emulator (the cross-built suite).
  static bool Emulated();

  // As Run, with these words after the program's name on its command line.
  RunResult RunWithArguments(const std::vector<std::string>& arguments, std::string_view input = "") const;

 private:
  RunResult Spawn(std::string_view input, bool liveInput, std::chrono::seconds timeout,
                  const std::vector<std::string>& wrapper, const Watch& watch,
                  const std::vector<std::string>& arguments = {}) const;

  TempDir aside_;  // standard input's file, the small disk
};

// A console scenario: a session directory with empty record and play lists unless the test writes its own.
class ConsoleTest : public testing::Test {
 protected:
  void SetUp() override;
  // Writes param.txt, types `input`, requires status 0 and returns what was printed after the driver report.
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
