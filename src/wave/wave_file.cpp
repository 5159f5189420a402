#include "wave/wave_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "wave/wave_layout.h"

namespace tapeloom {
namespace {

FileFaultHook faultHook = nullptr;

int InjectedFault(const FileDescriptor& file) { return faultHook != nullptr ? faultHook(file.get()) : 0; }

}  // namespace

void SetFileFaultHook(FileFaultHook hook) { faultHook = hook; }

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FileDescriptor::~FileDescriptor() { Close(); }

int FileDescriptor::Close() {
  if (fd_ < 0) return 0;
  // No retry on EINTR: on Linux the descriptor is gone either way.
  const int result = ::close(std::exchange(fd_, -1));
  return result == 0 ? 0 : errno;
}

FileDescriptor OpenForReading(const std::string& path) {
  return FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_LARGEFILE));
}

FileDescriptor OpenForUpdate(const std::string& path) {
  return FileDescriptor(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_LARGEFILE));
}

FileDescriptor CreateOrTruncate(const std::string& path) {
  return FileDescriptor(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_LARGEFILE, 0666));
}

bool OpensForReading(const std::string& path) { return static_cast<bool>(OpenForReading(path)); }

FileDescriptor CreateExclusive(const std::string& path) {
  return FileDescriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_LARGEFILE, 0666));
}

int SyncToDisk(const FileDescriptor& file) {
  if (const int fault = InjectedFault(file); fault != 0) return fault;
  return ::fsync(file.get()) == 0 ? 0 : errno;
}

std::string ReadFileHead(const FileDescriptor& file, std::size_t count, FileHead& head) {
  struct stat64 status {};
  if (::fstat64(file.get(), &status) != 0) return std::strerror(errno);
  head.size = status.st_size > 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
  head.bytes.resize(count);
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = ::pread64(file.get(), head.bytes.data() + got, count - got, static_cast<off64_t>(got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::strerror(errno);
    }
    if (n == 0) break;  // end of file
    got += static_cast<std::size_t>(n);
  }
  head.bytes.resize(got);
  return {};
}

std::string ReadWaveHead(const FileDescriptor& file, FileHead& head) {
  if (std::string failure = ReadFileHead(file, kQuickHeadBytes, head); !failure.empty()) return failure;
  if (HeadSettlesSearch(head.bytes, head.size)) return {};
  return ReadFileHead(file, kWaveHeadBytes, head);
}

std::int64_t ReadAt(const FileDescriptor& file, std::uint64_t offset, std::span<unsigned char> bytes,
                    std::string& failure) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::pread64(file.get(), bytes.data() + done, bytes.size() - done, static_cast<off64_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      failure = std::strerror(errno);
      return -1;
    }
    if (n == 0) break;  // end of file
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

std::string WriteAt(const FileDescriptor& file, std::uint64_t offset, std::span<const unsigned char> bytes) {
  if (const int fault = InjectedFault(file); fault != 0) return std::strerror(fault);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::pwrite64(file.get(), bytes.data() + done, bytes.size() - done, static_cast<off64_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::strerror(errno);
    }
    if (n == 0) return std::strerror(ENOSPC);
    done += static_cast<std::size_t>(n);
  }
  return {};
}

}  // namespace tapeloom
