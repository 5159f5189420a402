// Runs programs (tapeloom, sox) and collects their status and output; posix_spawn, never fork, which crashes the
// child under qemu-user.
#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tapeloom::test {

// Owns the file actions of a posix_spawn call.
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
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error, or why the program could not start
  int status = -1;  // exit status; 128 + signal when killed; -1 when it could not start
};

using Watch = std::function<void(pid_t, const std::string&)>;

// Starts argv[0] from PATH with `actions` (its standard input and directory), output into pipes; `liveInput` (when
// not negative) is given `input`; `watch` is called about every ms; after the timeout it is killed and fails the test.
CommandResult SpawnAndCollect(std::vector<std::string> argv, std::vector<std::string> env, SpawnActions& actions,
                              std::chrono::seconds timeout, const Watch& watch = {}, int liveInput = -1,
                              std::string_view input = {});

// Runs argv[0] with standard input from /dev/null.
CommandResult RunCommand(const std::vector<std::string>& argv);

// The command line that starts tapeloom with these words after its name: through the emulator in a cross build.
std::vector<std::string> ProgramCommand(const std::vector<std::string>& arguments = {});

// This process's environment, with the simulated card's configuration and the `extra` variables (NAME=value) in place
// of any of the same names.
std::vector<std::string> ProgramEnvironment(std::vector<std::string> extra = {});

// The strings as exec takes them: pointers ending in a null pointer.
std::vector<char*> Pointers(std::vector<std::string>& strings);

// The exit status from waitpid's word: 128 + the signal when a signal ended the process.
int ExitStatus(int wstatus);

}  // namespace tapeloom::test
