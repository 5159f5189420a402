#include "support/pseudo_terminal.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "support/run_command.h"

namespace tapeloom::test {

TerminalProgram::TerminalProgram(const std::filesystem::path& dir) {
  // Everything the child needs is made before the fork: after it, only exec.
  std::vector<std::string> command = ProgramCommand();
  std::vector<std::string> environment = ProgramEnvironment({"TERM=xterm"});
  std::vector<char*> argv = Pointers(command);
  std::vector<char*> envp = Pointers(environment);
  const std::string directory = dir.string();

  winsize size{.ws_row = 24, .ws_col = 80, .ws_xpixel = 0, .ws_ypixel = 0};
  pid_ = ::forkpty(&master_, nullptr, nullptr, &size);
  if (pid_ == 0) {
    // The signals as a shell leaves them for the program it starts.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(signal, SIG_DFL);
    if (::chdir(directory.c_str()) == 0) ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
}

TerminalProgram::~TerminalProgram() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (master_ >= 0) ::close(master_);
}

void TerminalProgram::Type(std::string_view keys) const {
  while (!keys.empty()) {
    const ssize_t written = ::write(master_, keys.data(), keys.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    keys.remove_prefix(static_cast<std::size_t>(written));
  }
}

void TerminalProgram::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

bool TerminalProgram::Read(int milliseconds) {
  pollfd terminal{.fd = master_, .events = POLLIN, .revents = 0};
  if (::poll(&terminal, 1, milliseconds) <= 0) return true;
  char block[4096];
  const ssize_t got = ::read(master_, block, sizeof block);
  if (got > 0) shown_.append(block, static_cast<std::size_t>(got));
  // The last process that had the terminal open has ended: EIO.
  return got > 0 || (got < 0 && (errno == EINTR || errno == EAGAIN));
}

bool TerminalProgram::Await(std::string_view text, std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (const std::size_t at = shown_.find(text, mark_); at != std::string::npos) {
      mark_ = at + text.size();
      return true;
    }
    if (std::chrono::steady_clock::now() > deadline || !Read(10)) return false;
  }
}

bool TerminalProgram::AwaitEditing(std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (termios modes{}; ::tcgetattr(master_, &modes) == 0; ::usleep(1000)) {
    if ((modes.c_lflag & ICANON) == 0) return true;
    if (std::chrono::steady_clock::now() > deadline || !Read(0)) return false;
  }
  return false;
}

int TerminalProgram::Finish(std::chrono::seconds timeout) {
  if (pid_ <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  for (;;) {
    if (!Read(10)) ::usleep(1000);  // closed: only the exit is still to come
    if (::waitpid(pid_, &status, WNOHANG) == pid_) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
  }
  pid_ = -1;
  // What the program sent last.
  for (pollfd terminal{.fd = master_, .events = POLLIN, .revents = 0};
       ::poll(&terminal, 1, 0) > 0 && (terminal.revents & POLLIN) != 0 && Read(0);) {
  }
  return ExitStatus(status);
}

bool TerminalProgram::InLineMode() const {
  termios modes{};
  if (::tcgetattr(master_, &modes) != 0) return false;
  return (modes.c_lflag & ICANON) != 0 && (modes.c_lflag & ECHO) != 0;
}

}  // namespace tapeloom::test
