#include "wave/storage_guard.h"

#include <atomic>

namespace tapeloom {
namespace {

thread_local bool storageForbidden = false;
std::atomic<std::uint32_t> forbiddenCalls{0};  // 32 bits: lock-free on 32-bit ARM too
std::atomic<const char*> firstForbidden{nullptr};

}  // namespace

NoStorageOnThisThread::NoStorageOnThisThread() : previous_(storageForbidden) { storageForbidden = true; }

NoStorageOnThisThread::~NoStorageOnThisThread() { storageForbidden = previous_; }

void NoteStorageCall(const char* what) {
  if (!storageForbidden) return;
  forbiddenCalls.fetch_add(1, std::memory_order_relaxed);
  const char* none = nullptr;
  firstForbidden.compare_exchange_strong(none, what, std::memory_order_relaxed);
}

std::uint64_t ForbiddenStorageCalls() { return forbiddenCalls.load(std::memory_order_relaxed); }

std::string FirstForbiddenStorageCall() {
  const char* what = firstForbidden.load(std::memory_order_relaxed);
  return what != nullptr ? what : "";
}

}  // namespace tapeloom
