// Ctrl-C (SIGINT), SIGTERM and SIGHUP never end Tapeloom in the middle of something. Once
// caught, a signal only notes itself; each place that can act on one looks for it:
//   - a transport run stops as if its stop had been reached, and an export stops and removes
//     its partial output;
//   - at a prompt, any of them ends the session as "x" does;
//   - SIGTERM and SIGHUP end the session after the run or export they stopped as well.
// The session then ends with status 128 + the signal number.
#pragma once

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

}  // namespace tapeloom
