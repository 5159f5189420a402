// Ctrl-C (SIGINT), SIGTERM and SIGHUP never end Tapeloom in the middle of something. Once
// caught, a signal only notes itself; each place that can act on one looks for it:
//   - a transport run stops as if its stop had been reached, and an export stops and removes
//     its partial output;
//   - at a prompt, any of them ends the session as "x" does;
//   - SIGTERM and SIGHUP end the session after the run or export they stopped as well.
// The session then ends with status 128 + the signal number.
#pragma once

#include <poll.h>
#include <signal.h>

namespace tapeloom {

// Installs the catchers. A signal that was ignored when the program started (SIGHUP under
// nohup, SIGINT in a background job) stays ignored: it was not meant for the program.
void CatchSessionSignals();

// The signal caught and not yet taken, or 0. Taking it clears it, so that a stopped run does
// not also end the session; SIGTERM and SIGHUP are remembered as the session's end.
int TakeSignal();

// The signal caught and not yet taken, or 0.
int PendingSignal();

// The signal the session ends with, or 0.
int SessionEndSignal();
void EndSessionBySignal(int signal);

// Waits until `fd` can be read or a signal is caught, without the race of a signal arriving
// just before the wait. Returns the signal (not taken), or 0 when there is input (or the
// descriptor is at its end or in error: the read that follows says which).
int WaitForInputOrSignal(int fd);

// Waits at most `timeoutMs` until one of `descriptors` is ready, or a signal is caught, as
// WaitForInputOrSignal does: ppoll's count (0 when the time ran out), -EINTR for a session
// signal (not taken), -EAGAIN when another signal interrupted the wait, or another -errno.
int WaitForDescriptorsOrSignal(pollfd* descriptors, nfds_t count, int timeoutMs);

// While a run drives the card. A sound card's transfer can wait for a card that never answers
// (a stalled card, a sound server that died, an input fed by nothing), and a signal's catcher
// restarts the call it interrupts. For the time of a run, a session signal also starts an
// alarm that rings every 100 ms, and the alarm's catcher does not restart what it interrupts,
// so that the run sees the signal and stops. `Watch` sets the alarm to ring once after
// `seconds` without a new Watch: the card that moved nothing for that long is gone.
class RunSignals {
 public:
  RunSignals();
  ~RunSignals();
  RunSignals(const RunSignals&) = delete;
  RunSignals& operator=(const RunSignals&) = delete;

  static void Watch(int seconds);
  // How often the alarm has rung: a transfer during which it rang may have been cut short.
  static unsigned Alarms();
  // The signals a thread other than the main one blocks, so that all of them reach the thread
  // that waits for the card and the console.
  static sigset_t Set();
};

}  // namespace tapeloom
