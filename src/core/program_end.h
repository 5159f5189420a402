// The few places where the program ends other than through "x" go through here. Ending is an
// exception caught by main, so that every open file and device handle is closed on the way
// out by its owner.
#pragma once

#include <stdexcept>

namespace tapeloom {

class ProgramEnd : public std::runtime_error {
 public:
  explicit ProgramEnd(int status) : std::runtime_error("program end"), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

// Exit statuses.
inline constexpr int kExitDeviceFailure = 1;     // the audio device could not be set up
inline constexpr int kExitFirstRunDeclined = 2;  // "x" at the first-run question
inline constexpr int kExitCorruptOwnFile = 2;    // a file the program wrote has no data chunk

[[noreturn]] inline void EndProgram(int status) { throw ProgramEnd(status); }

}  // namespace tapeloom
