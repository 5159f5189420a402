#include "support/console_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

namespace tapeloom::test {

std::string SimCardParams(int inputs, int outputs, int ch, int buf) {
  return "dv\ttapeloom_sim\nsr\t48000\ninputs\t" + std::to_string(inputs) + "\noutputs\t" + std::to_string(outputs) +
         "\nch\t" + std::to_string(ch) + "\nbuf\t" + std::to_string(buf) + "\n";
}

ConsoleSession::ConsoleSession() { Write("card-in.raw", ""); }

std::vector<std::string> ConsoleSession::Files() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

RunResult ConsoleSession::Run(std::string_view input, std::chrono::seconds timeout, std::optional<long> fileSizeLimit,
                              const std::function<void(pid_t)>& whileRunning) const {
  const Watch watch = whileRunning ? [&](pid_t pid, const std::string&) { whileRunning(pid); } : Watch();
  std::vector<std::string> wrapper;
  if (fileSizeLimit) wrapper = {"prlimit", "--fsize=" + std::to_string(*fileSizeLimit), "--"};
  return Spawn(input, false, timeout, wrapper, watch);
}

RunResult ConsoleSession::RunUnder(const std::vector<std::string>& wrapper, std::string_view input) const {
  return Spawn(input, false, std::chrono::seconds(120), wrapper, {});
}

bool ConsoleSession::Emulated() { return !std::string_view(TAPELOOM_EMULATOR).empty(); }

RunResult ConsoleSession::RunWithArguments(const std::vector<std::string>& arguments, std::string_view input) const {
  return Spawn(input, false, std::chrono::seconds(60), {}, {}, arguments);
}

RunResult ConsoleSession::RunLive(std::string_view input, const Watch& watch, std::chrono::seconds timeout) const {
  return Spawn(input, true, timeout, {}, watch);
}

std::optional<RunResult> ConsoleSession::RunOnSmallDisk(std::string_view input, long diskBytes) const {
  // A tmpfs in a mount namespace of its own gets the session's files, the card's linked; what is left comes back.
  const std::filesystem::path disk = aside_ / "disk";
  std::filesystem::create_directories(disk);
  const std::string script =
      "disk=$1; session=$2; shift 2\n"
      "mount -t tmpfs -o size=" +
      std::to_string(diskBytes) +
      " tmpfs \"$disk\" 2>/dev/null || exit 97\n"
      "cd \"$session\" && for f in *; do case $f in card-*) ln -s \"$session/$f\" \"$disk/$f\";; "
      "*) cp -p \"$f\" \"$disk/$f\" || exit 98;; esac; done\n"
      "cd \"$disk\" && \"$@\"; status=$?\n"
      "cd \"$session\" && for f in *; do case $f in card-*) ;; *) rm -f \"$f\";; esac; done\n"
      "cd \"$disk\" && for f in *; do case $f in card-*) ;; *) cp -p \"$f\" \"$session/$f\";; esac; done\n"
      "exit $status\n";
  const RunResult run = Spawn(input, false, std::chrono::seconds(120),
                              {"unshare", "--mount", "sh", "-c", script, "sh", disk.string(), path().string()}, {});
  if (run.status == 97 || run.status == 98) return std::nullopt;
  return run;
}

RunResult ConsoleSession::Spawn(std::string_view input, bool liveInput, std::chrono::seconds timeout,
                                const std::vector<std::string>& wrapper, const Watch& watch,
                                const std::vector<std::string>& arguments) const {
  std::vector<std::string> command = wrapper;
  for (std::string& part : ProgramCommand(arguments)) command.push_back(part);
  SpawnActions actions;
  // Live input: a pipe that the program reads as it would a terminal, open until it ends.
  int ends[2] = {-1, -1};
  if (liveInput) {
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    posix_spawn_file_actions_adddup2(actions.get(), ends[0], 0);
  } else {
    const std::filesystem::path stdinPath = aside_ / "stdin";
    WriteFileBytes(stdinPath, input);
    posix_spawn_file_actions_addopen(actions.get(), 0, stdinPath.c_str(), O_RDONLY, 0);
  }
  posix_spawn_file_actions_addchdir_np(actions.get(), path().c_str());
  RunResult result = SpawnAndCollect(command, ProgramEnvironment(), actions, timeout, watch, ends[1], input);
  for (const int end : ends) {
    if (end >= 0) ::close(end);
  }
  return result;
}

void ConsoleTest::SetUp() {
  session.Write("record.txt", "");
  session.Write("play.txt", "");
}

std::string ConsoleTest::Prompt(const std::string& params, const std::string& input) {
  session.Write("param.txt", params);
  last = session.Run(input);
  EXPECT_EQ(last.status, 0) << last.err;
  return AfterDriverReport(last.out);
}

std::string AfterDriverReport(const std::string& out) {
  const std::string marker = "-----------------------------------------\n\n";
  const std::size_t at = out.find(marker);
  if (at == std::string::npos) return {};
  return out.substr(at + marker.size());
}

std::string ZeroStatusDisplay() {
  return "Time functions:  (memory = 0.00)\n\n   'i' to set play start (0.00)\n   'o' to set play/record stop (0.00)\n"
         "   'e' to set record enter (0.00)\n\nTransport:\n   'p' to play from 0.00 to 0.00.\n"
         "   'r' to play from 0.00 and record from 0.00 to 0.00.\n   'R' to record without playback from 0.00 to "
         "0.00.\n"
         "\n   '+' for all functions\n   's' to save all settings to param.txt file\n   'x' to exit program\n";
}

}  // namespace tapeloom::test
