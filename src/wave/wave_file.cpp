#include "wave/wave_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

#include "wave/storage_guard.h"
#include "wave/wave_layout.h"

namespace tapeloom {
namespace {

FileFaultHook faultHook = nullptr;
StorageDelayHook delayHook = nullptr;
bool kernelCopiesRefused = false;
// Set once a system call turns out not to exist (ENOSYS: an old kernel, an emulator), so that
// it is not tried again, nor counted by the fault hook before each fallback.
bool copyRangeMissing = false;
bool fallocateMissing = false;

int InjectedFault(const FileDescriptor& file) { return faultHook != nullptr ? faultHook(file.get()) : 0; }

// Every call that reaches the file system: noted for the device loop's guard, and delayed
// where a test makes the storage stall.
void Reaching(const char* what, const FileDescriptor& file, StorageCall call, std::uint64_t bytes) {
  NoteStorageCall(what);
  if (delayHook != nullptr) delayHook(file.get(), call, bytes);
}

// The most one copy_file_range is asked for: its count is a size_t and its result an ssize_t,
// 32 bits on 32-bit ARM.
constexpr std::uint64_t kMaxCopyPerCall = std::uint64_t{1} << 30;

bool IsWritersReason(int error) { return error == ENOSPC || error == EFBIG || error == EDQUOT; }

// Where a transfer into or out of several pieces of memory stands: the first piece not yet done
// whole, and its bytes done. The rest goes to the system as vectors, 64 at a time.
template <typename Byte>
class PieceCursor {
 public:
  explicit PieceCursor(std::span<const std::span<Byte>> pieces) : pieces_(pieces) { SkipDone(); }

  bool Finished() const { return piece_ == pieces_.size(); }
  int Vectors(std::array<iovec, 64>& vectors) const {
    int count = 0;
    for (std::size_t p = piece_; p < pieces_.size() && count < static_cast<int>(vectors.size()); ++p) {
      const std::size_t skip = p == piece_ ? done_ : 0;
      if (pieces_[p].size() == skip) continue;
      // iovec takes a pointer to change for either direction; a write only reads through it.
      vectors[static_cast<std::size_t>(count++)] = {const_cast<unsigned char*>(pieces_[p].data()) + skip,
                                                    pieces_[p].size() - skip};
    }
    return count;
  }
  void Advance(std::size_t bytes) {
    while (bytes > 0 && !Finished()) {
      const std::size_t taken = std::min(bytes, pieces_[piece_].size() - done_);
      done_ += taken;
      bytes -= taken;
      SkipDone();
    }
  }

 private:
  void SkipDone() {
    while (piece_ < pieces_.size() && done_ == pieces_[piece_].size()) {
      ++piece_;
      done_ = 0;
    }
  }

  std::span<const std::span<Byte>> pieces_;
  std::size_t piece_ = 0;
  std::size_t done_ = 0;
};

// Opens only regular files: a directory, a FIFO, a device or a socket under a name that should
// hold a wave or list file is refused before anything is read from or written to it. Opening
// does not wait for a FIFO's other end.
FileDescriptor Open(const std::string& path, int flags, const char* action, FileStatus& status) {
  NoteStorageCall("open");
  FileDescriptor file(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_LARGEFILE, 0666), path);
  if (!file) {
    status = FileStatus::Failed(action, path, errno);
    return file;
  }
  struct stat64 kind {};
  if (::fstat64(file.get(), &kind) != 0) {
    status = FileStatus::Failed(action, path, errno);
    return {};
  }
  if (!S_ISREG(kind.st_mode)) {
    status = FileStatus::Failed(action, path, S_ISDIR(kind.st_mode) ? EISDIR : FileStatus::kNotRegularFile);
    return {};
  }
  // Regular files never block; clearing the flag keeps the descriptor as plain as it was.
  ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
  status = FileStatus::Done();
  return file;
}

}  // namespace

void SetFileFaultHook(FileFaultHook hook) { faultHook = hook; }

void SetStorageDelayHook(StorageDelayHook hook) { delayHook = hook; }

void SetKernelCopiesRefused(bool refused) { kernelCopiesRefused = refused; }

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), name_(std::move(other.name_)) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    name_ = std::move(other.name_);
  }
  return *this;
}

FileDescriptor::~FileDescriptor() { Close(); }

FileStatus FileDescriptor::Close() {
  if (fd_ < 0) return FileStatus::Done();
  NoteStorageCall("close");
  // No retry on EINTR: on Linux the descriptor is gone either way.
  if (::close(std::exchange(fd_, -1)) != 0) return FileStatus::Failed("write to", name_, errno);
  return FileStatus::Done();
}

FileDescriptor OpenForReading(const std::string& path, FileStatus& status) {
  return Open(path, O_RDONLY, "open", status);
}

FileDescriptor OpenForUpdate(const std::string& path, FileStatus& status) { return Open(path, O_RDWR, "open", status); }

FileDescriptor CreateOrTruncate(const std::string& path, FileStatus& status) {
  return Open(path, O_WRONLY | O_CREAT | O_TRUNC, "create", status);
}

FileDescriptor CreateExclusive(const std::string& path, FileStatus& status) {
  return Open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, "create", status);
}

bool OpensForReading(const std::string& path) {
  FileStatus status;
  return static_cast<bool>(OpenForReading(path, status));
}

FileStatus SyncToDisk(const FileDescriptor& file) {
  Reaching("fsync", file, StorageCall::kFlush, 0);
  int error = InjectedFault(file);
  if (error == 0 && ::fsync(file.get()) != 0) error = errno;
  return error == 0 ? FileStatus::Done() : FileStatus::Failed("write to", file.name(), error);
}

FileStatus ReadFileHead(const FileDescriptor& file, std::size_t count, FileHead& head) {
  NoteStorageCall("fstat");
  struct stat64 status {};
  if (::fstat64(file.get(), &status) != 0) return FileStatus::Failed("read", file.name(), errno);
  head.size = status.st_size > 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
  head.bytes.resize(count);
  std::uint64_t got = 0;
  FileStatus read = ReadAt(file, 0, head.bytes, got);
  head.bytes.resize(static_cast<std::size_t>(got));
  return read;
}

FileStatus ReadWaveHead(const FileDescriptor& file, FileHead& head) {
  if (FileStatus status = ReadFileHead(file, kQuickHeadBytes, head); !status.ok()) return status;
  if (HeadSettlesSearch(head.bytes, head.size)) return FileStatus::Done();
  return ReadFileHead(file, kWaveHeadBytes, head);
}

FileStatus ReadAt(const FileDescriptor& file, std::uint64_t offset, std::span<unsigned char> bytes,
                  std::uint64_t& got) {
  Reaching("read", file, StorageCall::kRead, bytes.size());
  std::size_t done = 0;
  got = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::pread64(file.get(), bytes.data() + done, bytes.size() - done, static_cast<off64_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      got = done;
      return FileStatus::Failed("read", file.name(), errno);
    }
    if (n == 0) break;  // end of file
    done += static_cast<std::size_t>(n);
  }
  got = done;
  return FileStatus::Done();
}

FileStatus ReadAtInto(const FileDescriptor& file, std::uint64_t offset,
                      std::span<const std::span<unsigned char>> pieces, std::uint64_t& got) {
  std::uint64_t wanted = 0;
  for (const std::span<unsigned char> piece : pieces) wanted += piece.size();
  Reaching("read", file, StorageCall::kRead, wanted);
  got = 0;
  PieceCursor<unsigned char> cursor(pieces);
  while (!cursor.Finished()) {
    std::array<iovec, 64> vectors{};
    const int count = cursor.Vectors(vectors);
    const ssize_t n = ::preadv64(file.get(), vectors.data(), count, static_cast<off64_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return FileStatus::Failed("read", file.name(), errno);
    }
    if (n == 0) break;  // end of file
    got += static_cast<std::uint64_t>(n);
    cursor.Advance(static_cast<std::size_t>(n));
  }
  return FileStatus::Done();
}

void StartWriteBack(const FileDescriptor& file, std::uint64_t offset, std::uint64_t bytes) {
  NoteStorageCall("sync_file_range");
  ::sync_file_range(file.get(), static_cast<off64_t>(offset), static_cast<off64_t>(bytes), SYNC_FILE_RANGE_WRITE);
}

FileStatus WriteAt(const FileDescriptor& file, std::uint64_t offset, std::span<const unsigned char> bytes,
                   std::uint64_t* written) {
  if (written != nullptr) *written = 0;
  Reaching("write", file, StorageCall::kWrite, bytes.size());
  if (const int fault = InjectedFault(file); fault != 0) return FileStatus::Failed("write to", file.name(), fault);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::pwrite64(file.get(), bytes.data() + done, bytes.size() - done, static_cast<off64_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return FileStatus::Failed("write to", file.name(), errno);
    }
    if (n == 0) return FileStatus::Failed("write to", file.name(), ENOSPC);
    done += static_cast<std::size_t>(n);
    if (written != nullptr) *written = done;
  }
  return FileStatus::Done();
}

FileStatus WriteAtFrom(const FileDescriptor& file, std::uint64_t offset,
                       std::span<const std::span<const unsigned char>> pieces, std::uint64_t* written) {
  if (written != nullptr) *written = 0;
  std::uint64_t total = 0;
  for (const std::span<const unsigned char> piece : pieces) total += piece.size();
  Reaching("write", file, StorageCall::kWrite, total);
  if (const int fault = InjectedFault(file); fault != 0) return FileStatus::Failed("write to", file.name(), fault);
  std::uint64_t done = 0;
  PieceCursor<const unsigned char> cursor(pieces);
  while (!cursor.Finished()) {
    std::array<iovec, 64> vectors{};
    const int count = cursor.Vectors(vectors);
    const ssize_t n = ::pwritev64(file.get(), vectors.data(), count, static_cast<off64_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return FileStatus::Failed("write to", file.name(), errno);
    }
    if (n == 0) return FileStatus::Failed("write to", file.name(), ENOSPC);
    done += static_cast<std::uint64_t>(n);
    if (written != nullptr) *written = done;
    cursor.Advance(static_cast<std::size_t>(n));
  }
  return FileStatus::Done();
}

bool ReserveSpace(const FileDescriptor& file, std::uint64_t offset, std::uint64_t bytes) {
  NoteStorageCall("fallocate");
  if (bytes == 0) return true;
  while (::fallocate64(file.get(), FALLOC_FL_KEEP_SIZE, static_cast<off64_t>(offset), static_cast<off64_t>(bytes)) !=
         0) {
    if (errno != EINTR) return false;
  }
  return true;
}

FileStatus ReleaseReservedSpace(const FileDescriptor& file) {
  std::uint64_t size = 0;
  if (FileStatus status = FileSize(file, size); !status.ok()) return status;
  NoteStorageCall("ftruncate");
  while (::ftruncate64(file.get(), static_cast<off64_t>(size)) != 0) {
    if (errno != EINTR) return FileStatus::Failed("write to", file.name(), errno);
  }
  return FileStatus::Done();
}

void AdviseSequential(const FileDescriptor& file) {
  NoteStorageCall("fadvise");
  ::posix_fadvise64(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
}

void AdviseDontNeed(const FileDescriptor& file) {
  NoteStorageCall("fadvise");
  ::posix_fadvise64(file.get(), 0, 0, POSIX_FADV_DONTNEED);
}

void AdviseWillNeed(const FileDescriptor& file, std::uint64_t offset, std::uint64_t bytes) {
  NoteStorageCall("fadvise");
  ::posix_fadvise64(file.get(), static_cast<off64_t>(offset), static_cast<off64_t>(bytes), POSIX_FADV_WILLNEED);
}

FileStatus FileSize(const FileDescriptor& file, std::uint64_t& size) {
  NoteStorageCall("fstat");
  struct stat64 status {};
  if (::fstat64(file.get(), &status) != 0) return FileStatus::Failed("read", file.name(), errno);
  size = status.st_size > 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
  return FileStatus::Done();
}

FileStatus CopyRange(const FileDescriptor& from, std::uint64_t fromOffset, const FileDescriptor& to,
                     std::uint64_t toOffset, std::uint64_t count, std::uint64_t& copied) {
  copied = 0;
  Reaching("copy_file_range", to, StorageCall::kWrite, count);
  if (kernelCopiesRefused || copyRangeMissing) return FileStatus::Failed(kCopyAction, from.name(), ENOSYS, to.name());
  if (count == 0) return FileStatus::Done();
  if (const int fault = InjectedFault(to); fault != 0) return FileStatus::Failed("write to", to.name(), fault);
  auto in = static_cast<off64_t>(fromOffset);
  auto out = static_cast<off64_t>(toOffset);
  const auto length =
      static_cast<std::size_t>(std::min(count, faultHook != nullptr ? kCopyBytesPerFaultCheck : kMaxCopyPerCall));
  for (;;) {
    const ssize_t n = ::copy_file_range(from.get(), &in, to.get(), &out, length, 0);
    if (n >= 0) {
      copied = static_cast<std::uint64_t>(n);
      return FileStatus::Done();
    }
    const int error = errno;
    if (error == EINTR) continue;
    if (IsWritersReason(error)) return FileStatus::Failed("write to", to.name(), error);
    if (error == ENOSYS) copyRangeMissing = true;
    return FileStatus::Failed(kCopyAction, from.name(), error, to.name());
  }
}

FileStatus AllocateZeros(const FileDescriptor& file, std::uint64_t offset, std::uint64_t count) {
  Reaching("fallocate", file, StorageCall::kWrite, count);
  if (kernelCopiesRefused || fallocateMissing) return FileStatus::Failed("write to", file.name(), ENOSYS);
  if (count == 0) return FileStatus::Done();
  std::uint64_t size = 0;
  if (FileStatus status = FileSize(file, size); !status.ok()) return status;
  if (offset < size) return FileStatus::Failed("write to", file.name(), EINVAL);
  if (const int fault = InjectedFault(file); fault != 0) return FileStatus::Failed("write to", file.name(), fault);
  while (::fallocate64(file.get(), 0, static_cast<off64_t>(offset), static_cast<off64_t>(count)) != 0) {
    const int error = errno;
    if (error == EINTR) continue;
    if (error == ENOSYS) fallocateMissing = true;
    return FileStatus::Failed("write to", file.name(), error);
  }
  return FileStatus::Done();
}

}  // namespace tapeloom
