#include "support/run_command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace tapeloom::test {
namespace {

// A pipe whose read end does not block; both ends close when it goes.
struct Pipe {
  Pipe() {
    int ends[2] = {-1, -1};
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    read = ends[0];
    write = ends[1];
    ::fcntl(read, F_SETFL, O_NONBLOCK);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  ~Pipe() {
    for (const int end : {read, write}) {
      if (end >= 0) ::close(end);
    }
  }
  // Appends what can be read now, or, once `toEnd`, everything until every writer is gone.
  void Drain(std::string& to, bool toEnd = false) const {
    if (toEnd) ::fcntl(read, F_SETFL, 0);
    char block[65536];
    for (ssize_t n = 0; (n = ::read(read, block, sizeof block)) > 0;) to.append(block, static_cast<std::size_t>(n));
  }

  int read = -1;
  int write = -1;
};

}  // namespace

CommandResult SpawnAndCollect(std::vector<std::string> argv, std::vector<std::string> env, SpawnActions& actions,
                              std::chrono::seconds timeout, const Watch& watch, int liveInput, std::string_view input) {
  Pipe out;
  Pipe err;
  posix_spawn_file_actions_adddup2(actions.get(), out.write, 1);
  posix_spawn_file_actions_adddup2(actions.get(), err.write, 2);
  std::vector<char*> args = Pointers(argv);
  std::vector<char*> envp = Pointers(env);
  std::fflush(nullptr);
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, args[0], actions.get(), nullptr, args.data(), envp.data());
  for (int* end : {&out.write, &err.write}) {
    ::close(*end);
    *end = -1;
  }
  CommandResult result;
  if (spawned != 0) {
    result.err = "cannot start " + argv[0] + ": " + std::strerror(spawned);
    return result;
  }
  if (liveInput >= 0) {
    EXPECT_EQ(::write(liveInput, input.data(), input.size()), static_cast<ssize_t>(input.size()));
  }
  int wstatus = 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    pollfd fds[] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
    ::poll(fds, 2, 1);
    out.Drain(result.out);
    err.Drain(result.err);
    if (::waitpid(child, &wstatus, WNOHANG) == child) break;
    if (watch) watch(child, result.out);
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &wstatus, 0);
      ADD_FAILURE() << argv[0] << " did not finish within " << timeout.count() << " s";
      break;
    }
  }
  // What the program wrote last, up to the end of the pipes.
  out.Drain(result.out, true);
  err.Drain(result.err, true);
  result.status = ExitStatus(wstatus);
  return result;
}

CommandResult RunCommand(const std::vector<std::string>& argv) {
  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) env.emplace_back(*entry);
  return SpawnAndCollect(argv, env, actions, std::chrono::seconds(600));
}

std::vector<std::string> ProgramCommand(const std::vector<std::string>& arguments) {
  std::vector<std::string> command;
  std::istringstream emulator{std::string(TAPELOOM_EMULATOR)};
  for (std::string part; std::getline(emulator, part, '|');) {
    if (!part.empty()) command.push_back(part);
  }
  command.emplace_back(TAPELOOM_BINARY);
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

std::vector<std::string> ProgramEnvironment(std::vector<std::string> extra) {
  extra.push_back(std::string("XDG_CONFIG_HOME=") + TAPELOOM_SIMCARD_DIR);
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    const auto named = [&](const std::string& e) { return variable.starts_with(e.substr(0, e.find('=') + 1)); };
    if (std::none_of(extra.begin(), extra.end(), named)) env.emplace_back(variable);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

int ExitStatus(int wstatus) {
  if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
  return WIFSIGNALED(wstatus) ? 128 + WTERMSIG(wstatus) : -1;
}

}  // namespace tapeloom::test
