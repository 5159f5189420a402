// The thin file layer under the wave readers and writers: an owned descriptor, the read of a
// file's head and its size, and whole writes at an offset. Everything that interprets bytes
// works on memory (wave_layout.h), so tests and fuzzers need no files.
//
// Sizes and offsets are 64-bit, also on 32-bit ARM where off_t, long and size_t are 32 bits
// unless asked otherwise: the files are opened with O_LARGEFILE and measured with the 64-bit
// calls, so a file of 2 GiB or more is measured correctly instead of failing to open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tapeloom {

// Closes its descriptor when it goes. Moving passes the descriptor on.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept;
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

  // Closes now and returns 0, or the errno of a failed close: on some file systems that is
  // the first report of a write that did not reach the disk.
  int Close();

 private:
  int fd_;
};

// Open calls that leave errno set when they return an empty owner.
FileDescriptor OpenForReading(const std::string& path);
FileDescriptor OpenForUpdate(const std::string& path);     // reading and writing in place
FileDescriptor CreateOrTruncate(const std::string& path);  // writing, from an empty file
// Whether the file can be opened for reading: the test that decides whether a list file or a
// record list's file is there.
bool OpensForReading(const std::string& path);

// Reading and writing a file that did not exist: fails (EEXIST) when anything of that name is
// there, a symbolic link included, so that nothing is truncated or written through a link.
FileDescriptor CreateExclusive(const std::string& path);

// Flushes the file's data to the disk (fsync). Returns 0, or the errno of the failure.
int SyncToDisk(const FileDescriptor& file);

// The first bytes of a file (up to a given count) and the file's size.
struct FileHead {
  std::vector<unsigned char> bytes;
  std::uint64_t size = 0;
};

// Reads min(file size, count) bytes from the start, in one read where the system allows.
// Returns an empty string, or the system's reason.
std::string ReadFileHead(const FileDescriptor& file, std::size_t count, FileHead& head);

// The head of a wave file as far as the readers' tag search needs it: a short read first, the
// whole search region only when that does not settle the search.
std::string ReadWaveHead(const FileDescriptor& file, FileHead& head);

// Reads up to bytes.size() bytes at offset; fewer at the end of the file. Returns the count
// read, or -1 with the system's reason in failure.
std::int64_t ReadAt(const FileDescriptor& file, std::uint64_t offset, std::span<unsigned char> bytes,
                    std::string& failure);

// Writes all of bytes at offset. Returns an empty string, or the system's reason (a short
// write that makes no progress counts as "No space left on device").
std::string WriteAt(const FileDescriptor& file, std::uint64_t offset, std::span<const unsigned char> bytes);

// Test seam for the failures a disk can have: when a hook is set, it is asked before every
// write and flush of this file layer, and an errno value it returns makes that call fail with
// it. No hook is set outside tests.
using FileFaultHook = int (*)(int descriptor);
void SetFileFaultHook(FileFaultHook hook);

}  // namespace tapeloom
