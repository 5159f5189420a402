// Disk failures on demand: the nth write or flush of the file layer fails with EIO, whatever file it is for.
#pragma once

#include <cerrno>

#include "wave/wave_file.h"

namespace tapeloom::test {

class FailingWrite {
 public:
  // The nth write or flush from now on (counting from 1) fails; the others succeed.
  explicit FailingWrite(int n) {
    countdown_ = n;
    fired_ = false;
    SetFileFaultHook(&Hook);
  }
  FailingWrite(const FailingWrite&) = delete;
  FailingWrite& operator=(const FailingWrite&) = delete;
  ~FailingWrite() { SetFileFaultHook(nullptr); }

  // Whether the failure happened: false when the operation made fewer than n writes.
  bool fired() const { return fired_; }

 private:
  static int Hook(int) {
    if (--countdown_ != 0) return 0;
    fired_ = true;
    return EIO;
  }

  static inline int countdown_ = 0;
  static inline bool fired_ = false;
};

// Runs operation() with the 1st, 2nd, ... write failing, check() after each run that met its failure, until one
// meets none; returns the number of failure points.
template <typename Operation, typename Check>
int SweepWriteFailures(Operation&& operation, Check&& check) {
  for (int n = 1; n < 10000; ++n) {
    bool fired = false;
    {
      const FailingWrite failing(n);
      operation();
      fired = failing.fired();
    }
    if (!fired) return n - 1;
    check(n);
  }
  return -1;
}

}  // namespace tapeloom::test
