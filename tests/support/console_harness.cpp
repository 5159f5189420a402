#include "support/console_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "support/run_command.h"

namespace tapeloom::test {
namespace {

std::vector<std::string> SplitList(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in{std::string(text)};
  while (std::getline(in, part, separator)) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

// The environment of the program: this process's, with the simulated card's ALSA
// configuration directory.
std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string_view(*entry).starts_with("XDG_CONFIG_HOME=")) continue;
    env.emplace_back(*entry);
  }
  env.emplace_back(std::string("XDG_CONFIG_HOME=") + TAPELOOM_SIMCARD_DIR);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

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
    if (read >= 0) ::close(read);
    CloseWriteEnd();
  }
  void CloseWriteEnd() {
    if (write >= 0) ::close(write);
    write = -1;
  }
  // Appends what can be read now.
  void Drain(std::string& to) const {
    char block[65536];
    for (;;) {
      const ssize_t n = ::read(read, block, sizeof block);
      if (n <= 0) return;
      to.append(block, static_cast<std::size_t>(n));
    }
  }
  // Appends everything up to the end of the pipe (every writer gone).
  void DrainToEnd(std::string& to) const {
    ::fcntl(read, F_SETFL, 0);
    char block[65536];
    ssize_t n = 0;
    while ((n = ::read(read, block, sizeof block)) > 0) to.append(block, static_cast<std::size_t>(n));
  }

  int read = -1;
  int write = -1;
};

}  // namespace

std::string SimCardParams(int inputs, int outputs, int ch, int buf) {
  return "dv\ttapeloom_sim\nsr\t48000\ninputs\t" + std::to_string(inputs) + "\noutputs\t" + std::to_string(outputs) +
         "\nch\t" + std::to_string(ch) + "\nbuf\t" + std::to_string(buf) + "\n";
}

ConsoleSession::ConsoleSession() : session_(root_.path() / "session") {
  std::filesystem::create_directory(session_);
  std::filesystem::create_directory(root_.path() / "io");
  Write("card-in.raw", "");
}

void ConsoleSession::Write(std::string_view name, std::string_view content) const {
  WriteFileBytes(session_ / name, content);
}

std::string ConsoleSession::Read(std::string_view name) const { return ReadFileBytes(session_ / name); }

bool ConsoleSession::Exists(std::string_view name) const { return std::filesystem::exists(session_ / name); }

std::vector<std::string> ConsoleSession::Files() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(session_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

RunResult ConsoleSession::Run(std::string_view input, std::chrono::seconds timeout, std::optional<long> fileSizeLimit,
                              const std::function<void(pid_t)>& whileRunning) const {
  const std::function<void(pid_t, const std::string&)> watch =
      whileRunning ? [&](pid_t pid, const std::string&) { whileRunning(pid); }
                   : std::function<void(pid_t, const std::string&)>();
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

RunResult ConsoleSession::RunLive(std::string_view input, const std::function<void(pid_t, const std::string&)>& watch,
                                  std::chrono::seconds timeout) const {
  return Spawn(input, true, timeout, {}, watch);
}

std::optional<RunResult> ConsoleSession::RunOnSmallDisk(std::string_view input, long diskBytes) const {
  // In a mount namespace of its own, a tmpfs of that size is mounted on a directory beside the
  // session, the session's files are copied onto it, the program runs there, and what it left
  // comes back into the session directory. The card's files stay outside, linked.
  const std::filesystem::path disk = root_.path() / "disk";
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
                              {"unshare", "--mount", "sh", "-c", script, "sh", disk.string(), session_.string()}, {});
  if (run.status == 97 || run.status == 98) return std::nullopt;
  return run;
}

RunResult ConsoleSession::Spawn(std::string_view input, bool liveInput, std::chrono::seconds timeout,
                                const std::vector<std::string>& wrapper,
                                const std::function<void(pid_t, const std::string&)>& watch,
                                const std::vector<std::string>& arguments) const {
  const std::filesystem::path io = root_.path() / "io";
  WriteFileBytes(io / "stdin", input);
  // Live input: a pipe that the program reads as it would a terminal, open until it ends.
  Pipe in;
  ::fcntl(in.read, F_SETFL, 0);

  std::vector<std::string> command = wrapper;
  for (std::string& part : SplitList(TAPELOOM_EMULATOR, '|')) command.push_back(part);
  command.push_back(TAPELOOM_BINARY);
  command.insert(command.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = Pointers(command);
  std::vector<std::string> environment = ChildEnvironment();
  std::vector<char*> envp = Pointers(environment);

  // Output goes through pipes, read while the program runs: a file size limit set for the
  // program does not apply to them.
  Pipe out;
  Pipe err;
  SpawnActions actions;
  if (liveInput) {
    posix_spawn_file_actions_adddup2(actions.get(), in.read, 0);
  } else {
    posix_spawn_file_actions_addopen(actions.get(), 0, (io / "stdin").c_str(), O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(actions.get(), out.write, 1);
  posix_spawn_file_actions_adddup2(actions.get(), err.write, 2);
  posix_spawn_file_actions_addclose(actions.get(), out.read);
  posix_spawn_file_actions_addclose(actions.get(), err.read);
  posix_spawn_file_actions_addchdir_np(actions.get(), session_.c_str());

  std::fflush(nullptr);
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, argv[0], actions.get(), nullptr, argv.data(), envp.data());
  out.CloseWriteEnd();
  err.CloseWriteEnd();
  if (liveInput && spawned == 0) {
    EXPECT_EQ(::write(in.write, input.data(), input.size()), static_cast<ssize_t>(input.size()));
  }
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawned);
    return {};
  }

  RunResult result;
  int wstatus = 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    pollfd fds[] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
    ::poll(fds, 2, 1);
    out.Drain(result.out);
    err.Drain(result.err);
    const pid_t done = ::waitpid(child, &wstatus, WNOHANG);
    if (done == child) break;
    if (watch) watch(child, result.out);
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &wstatus, 0);
      ADD_FAILURE() << "tapeloom did not finish within " << timeout.count() << " s";
      break;
    }
  }
  // What the program wrote last, up to the end of the pipes.
  out.DrainToEnd(result.out);
  err.DrainToEnd(result.err);
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) result.status = 128 + WTERMSIG(wstatus);
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
  return "Time functions:  (memory = 0.00)\n\n"
         "   'i' to set play start (0.00)\n"
         "   'o' to set play/record stop (0.00)\n"
         "   'e' to set record enter (0.00)\n"
         "\nTransport:\n"
         "   'p' to play from 0.00 to 0.00.\n"
         "   'r' to play from 0.00 and record from 0.00 to 0.00.\n"
         "   'R' to record without playback from 0.00 to 0.00.\n"
         "\n"
         "   '+' for all functions\n"
         "   's' to save all settings to param.txt file\n"
         "   'x' to exit program\n";
}

}  // namespace tapeloom::test
