// The device loop of a transport run must never wait on storage: a read or a write that stalls
// while the kernel writes back to slow flash would stall the card with it. The loop marks its
// thread for as long as it runs, and every call of the file layer notes itself; a call made on
// a marked thread is counted, so that tests (and anyone who suspects one) can see that none
// was made. Nothing else changes: the call is made as before.
#pragma once

#include <cstdint>
#include <string>

namespace tapeloom {

// While one exists, the calling thread may make no file call.
class NoStorageOnThisThread {
 public:
  NoStorageOnThisThread();
  ~NoStorageOnThisThread();
  NoStorageOnThisThread(const NoStorageOnThisThread&) = delete;
  NoStorageOnThisThread& operator=(const NoStorageOnThisThread&) = delete;

 private:
  bool previous_;
};

// Called by the file layer before each call that reaches the file system.
void NoteStorageCall(const char* what);

// File calls made on a marked thread since the program started, and the first of them.
std::uint64_t ForbiddenStorageCalls();
std::string FirstForbiddenStorageCall();

}  // namespace tapeloom
