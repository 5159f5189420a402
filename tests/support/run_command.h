// Runs an external program (for example sox, the independent reference for wave files) and
// collects its exit status and output.
#pragma once

#include <spawn.h>

#include <string>
#include <vector>

namespace tapeloom::test {

// Owns the file actions of a posix_spawn call. Programs are started with posix_spawn, never
// fork: the armhf suite runs under qemu-user, where a forked child crashes.
class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

struct CommandResult {
  int status = -1;  // exit status; 128 + signal when killed; -1 when it could not start
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error, or why the program could not start
};

// Runs argv[0], looked up on PATH, with standard input from /dev/null. Started with
// posix_spawnp, never fork: the armhf suite runs under qemu-user, where a forked child
// crashes.
CommandResult RunCommand(const std::vector<std::string>& argv);

}  // namespace tapeloom::test
