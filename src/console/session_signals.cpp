#include "console/session_signals.h"

#include <poll.h>
#include <signal.h>

#include <atomic>
#include <cerrno>

namespace tapeloom {
namespace {

constexpr int kSessionSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Set by the catcher, so lock-free (a plain int would have to be volatile sig_atomic_t).
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free);
int endSignal = 0;

sigset_t SessionSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kSessionSignals) sigaddset(&set, signal);
  return set;
}

// The catchers block one another, so this never runs twice at once. SIGTERM and SIGHUP
// outrank a Ctrl-C not yet taken: they also end the session.
extern "C" void NoteSignal(int signal) {
  if (signal != SIGINT || caught.load(std::memory_order_relaxed) == 0) {
    caught.store(signal, std::memory_order_relaxed);
  }
}

}  // namespace

void CatchSessionSignals() {
  for (const int signal : kSessionSignals) {
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) != 0) continue;
    if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler == SIG_IGN) continue;
    struct sigaction catcher {};
    catcher.sa_handler = &NoteSignal;
    catcher.sa_mask = SessionSignalSet();
    // A call under way when the signal comes is restarted: a capture read waiting for its
    // period delivers it, a write to a take completes. The run looks for the signal after
    // each period; a prompt waits in WaitForInputOrSignal, which a signal always ends.
    catcher.sa_flags = SA_RESTART;
    ::sigaction(signal, &catcher, nullptr);
  }
}

int TakeSignal() {
  const int signal = caught.exchange(0, std::memory_order_relaxed);
  if (signal == SIGTERM || signal == SIGHUP) EndSessionBySignal(signal);
  return signal;
}

int PendingSignal() { return caught.load(std::memory_order_relaxed); }

int SessionEndSignal() { return endSignal; }

void EndSessionBySignal(int signal) {
  if (endSignal == 0) endSignal = signal;
}

int WaitForInputOrSignal(int fd) {
  // The signals are held back from the look at `caught` until the wait has begun: ppoll lets
  // them in and starts waiting in one step, so none can come in between and be missed.
  const sigset_t session = SessionSignalSet();
  sigset_t previous;
  ::sigprocmask(SIG_BLOCK, &session, &previous);
  sigset_t during = previous;
  for (const int signal : kSessionSignals) sigdelset(&during, signal);
  int signal = caught.load(std::memory_order_relaxed);
  while (signal == 0) {
    pollfd input{.fd = fd, .events = POLLIN, .revents = 0};
    const int ready = ::ppoll(&input, 1, nullptr, &during);
    signal = caught.load(std::memory_order_relaxed);
    // Another signal (a stopped program that continues) only interrupts the wait.
    if (ready > 0 || (ready < 0 && errno != EINTR)) break;
  }
  ::sigprocmask(SIG_SETMASK, &previous, nullptr);
  return signal;
}

}  // namespace tapeloom
