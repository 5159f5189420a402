#include "support/run_command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/temp_dir.h"

namespace tapeloom::test {
CommandResult RunCommand(const std::vector<std::string>& argv) {
  TempDir io;
  const std::string outPath = io / "stdout";
  const std::string errPath = io / "stderr";
  std::vector<std::string> args = argv;
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);

  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(actions.get(), 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(actions.get(), 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::fflush(nullptr);
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, pointers[0], actions.get(), nullptr, pointers.data(), environ);

  CommandResult result;
  if (spawned != 0) {
    result.err = "cannot start " + argv[0] + ": " + std::strerror(spawned);
    return result;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      result.err = std::string("waitpid: ") + std::strerror(errno);
      return result;
    }
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  result.out = ReadFileBytes(outPath);
  result.err = ReadFileBytes(errPath);
  return result;
}

}  // namespace tapeloom::test
