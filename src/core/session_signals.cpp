#include "core/session_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <cerrno>

namespace tapeloom {
namespace {

constexpr int kSessionSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Set by the catcher, so lock-free (a plain int would have to be volatile sig_atomic_t).
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free);
int endSignal = 0;

// While a run drives the card: whether one is under way, and how often the alarm has rung.
std::atomic<bool> runUnderWay{false};
std::atomic<unsigned> alarms{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<unsigned>::is_always_lock_free);

// A run stopped by a signal rings this often until it has stopped.
constexpr suseconds_t kRingAgainMicroseconds = 100000;

void SetAlarm(time_t seconds, suseconds_t microseconds, suseconds_t againMicroseconds) {
  itimerval timer{};
  timer.it_value.tv_sec = seconds;
  timer.it_value.tv_usec = microseconds;
  timer.it_interval.tv_usec = againMicroseconds;
  ::setitimer(ITIMER_REAL, &timer, nullptr);
}

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
  // A call under way is restarted after the signal; during a run the alarm then interrupts
  // whatever the card's transfer still waits for, again and again until the run has stopped.
  if (runUnderWay.load(std::memory_order_relaxed)) {
    SetAlarm(0, kRingAgainMicroseconds, kRingAgainMicroseconds);
  }
}

// The alarm is caught without restarting the call it interrupts: that is its purpose.
extern "C" void NoteAlarm(int /*signal*/) { alarms.fetch_add(1, std::memory_order_relaxed); }

// Waits with the session's signals let in only for the wait itself (ppoll lets them in and
// starts waiting in one step, so none can come between the look at `caught` and the wait).
// Returns the signal caught (not taken), or 0 with `ready` set to ppoll's result.
int WaitWithSignals(pollfd* descriptors, nfds_t count, const timespec* timeout, int& ready) {
  const sigset_t session = SessionSignalSet();
  sigset_t previous;
  ::sigprocmask(SIG_BLOCK, &session, &previous);
  sigset_t during = previous;
  for (const int signal : kSessionSignals) sigdelset(&during, signal);
  int signal = caught.load(std::memory_order_relaxed);
  ready = 0;
  if (signal == 0) {
    ready = ::ppoll(descriptors, count, timeout, &during);
    if (ready < 0) ready = -errno;
    signal = caught.load(std::memory_order_relaxed);
  }
  ::sigprocmask(SIG_SETMASK, &previous, nullptr);
  return signal;
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
  for (;;) {
    pollfd input{.fd = fd, .events = POLLIN, .revents = 0};
    int ready = 0;
    const int signal = WaitWithSignals(&input, 1, nullptr, ready);
    // Another signal (a stopped program that continues) only interrupts the wait.
    if (signal != 0 || ready != -EINTR) return signal;
  }
}

int WaitForDescriptorsOrSignal(pollfd* descriptors, nfds_t count, int timeoutMs) {
  const timespec timeout{.tv_sec = timeoutMs / 1000, .tv_nsec = static_cast<long>(timeoutMs % 1000) * 1000000};
  int ready = 0;
  if (WaitWithSignals(descriptors, count, &timeout, ready) != 0) return -EINTR;
  return ready == -EINTR ? -EAGAIN : ready;
}

RunSignals::RunSignals() {
  struct sigaction alarm {};
  alarm.sa_handler = &NoteAlarm;
  alarm.sa_mask = SessionSignalSet();
  alarm.sa_flags = 0;
  ::sigaction(SIGALRM, &alarm, nullptr);
  runUnderWay.store(true, std::memory_order_relaxed);
  // A signal that came before the run began rings at once.
  if (PendingSignal() != 0) SetAlarm(0, kRingAgainMicroseconds, kRingAgainMicroseconds);
}

RunSignals::~RunSignals() {
  runUnderWay.store(false, std::memory_order_relaxed);
  SetAlarm(0, 0, 0);
  // Ignoring discards an alarm that rang and was not delivered yet; then back to the default.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGALRM, &ignore, nullptr);
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  ::sigaction(SIGALRM, &standard, nullptr);
}

void RunSignals::Watch(int seconds) {
  if (PendingSignal() == 0) SetAlarm(seconds, 0, 0);
}

unsigned RunSignals::Alarms() { return alarms.load(std::memory_order_relaxed); }

sigset_t RunSignals::Set() {
  sigset_t set = SessionSignalSet();
  sigaddset(&set, SIGALRM);
  return set;
}

}  // namespace tapeloom
