// The thin file layer under the wave readers and writers: an owned descriptor that knows its
// file's name, the read of a file's head and its size, and whole reads and writes at an
// offset. Everything that interprets bytes works on memory (wave_layout.h), so tests and
// fuzzers need no files. Every call that can fail returns a FileStatus naming the operation,
// the file and the system's reason.
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

#include "wave/file_status.h"

namespace tapeloom {

// Closes its descriptor when it goes. Moving passes the descriptor on.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  FileDescriptor(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  FileDescriptor(FileDescriptor&& other) noexcept;
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();

  int get() const { return fd_; }
  const std::string& name() const { return name_; }
  explicit operator bool() const { return fd_ >= 0; }

  // Closes now. A failed close is on some file systems the first report of a write that did
  // not reach the disk: it reads "Can't write to <name>: <reason>".
  FileStatus Close();

 private:
  int fd_ = -1;
  std::string name_;
};

// Opening. Only regular files are opened: a directory ("Is a directory"), a FIFO, a device or a
// socket ("Not a regular file") is refused before anything is read or written, and a FIFO is
// not waited on. An empty owner comes back with the status saying why ("Can't open <path>:
// ...", "Can't create <path>: ...").
FileDescriptor OpenForReading(const std::string& path, FileStatus& status);
FileDescriptor OpenForUpdate(const std::string& path, FileStatus& status);     // reading and writing in place
FileDescriptor CreateOrTruncate(const std::string& path, FileStatus& status);  // writing, from an empty file
// Reading and writing a file that did not exist: fails (EEXIST) when anything of that name is
// there, a symbolic link included, so that nothing is truncated or written through a link.
FileDescriptor CreateExclusive(const std::string& path, FileStatus& status);

// Whether the file can be opened for reading: the test that decides whether a list file or a
// record list's file is there.
bool OpensForReading(const std::string& path);

// Flushes the file's data to the disk (fsync).
FileStatus SyncToDisk(const FileDescriptor& file);

// The first bytes of a file (up to a given count) and the file's size.
struct FileHead {
  std::vector<unsigned char> bytes;
  std::uint64_t size = 0;
};

// Reads min(file size, count) bytes from the start, in one read where the system allows.
FileStatus ReadFileHead(const FileDescriptor& file, std::size_t count, FileHead& head);

// The head of a wave file as far as the readers' tag search needs it: a short read first, the
// whole search region only when that does not settle the search.
FileStatus ReadWaveHead(const FileDescriptor& file, FileHead& head);

// Reads up to bytes.size() bytes at offset; fewer at the end of the file. `got` receives the
// count read.
FileStatus ReadAt(const FileDescriptor& file, std::uint64_t offset, std::span<unsigned char> bytes, std::uint64_t& got);

// Reads consecutive bytes at offset into the pieces, filling each before the next, with one
// system call for all of them where the system allows: a long job reads several blocks of a
// file straight into the places they are needed. `got` receives the count read; fewer than
// the pieces hold at the end of the file.
FileStatus ReadAtInto(const FileDescriptor& file, std::uint64_t offset,
                      std::span<const std::span<unsigned char>> pieces, std::uint64_t& got);

// Writes all of bytes at offset. A short write that makes no progress counts as "No space left
// on device". `written`, when given, is set to the bytes that reached the file from offset on,
// all of them or those before the failure: a full disk can take a part of a write.
FileStatus WriteAt(const FileDescriptor& file, std::uint64_t offset, std::span<const unsigned char> bytes,
                   std::uint64_t* written = nullptr);

// Writes the pieces one after the other from offset on, with one system call for all of them
// where the system allows: a take's blocks, scattered over a ring in memory, go to the disk in
// one long write. Fails, and counts what was written, as WriteAt does.
FileStatus WriteAtFrom(const FileDescriptor& file, std::uint64_t offset,
                       std::span<const std::span<const unsigned char>> pieces, std::uint64_t* written = nullptr);

// Reserves the disk blocks of a range beyond the file's end without changing its size
// (fallocate with FALLOC_FL_KEEP_SIZE), so that a file written piece by piece over a long
// time lies in long runs on the disk and its writes need no allocation. Only a hint: false
// when the file system cannot (FAT, for one), and a full disk shows at the writes.
bool ReserveSpace(const FileDescriptor& file, std::uint64_t offset, std::uint64_t bytes);

// Gives back the blocks reserved beyond the file's end: the file is cut to the size it has,
// which changes no byte of it.
FileStatus ReleaseReservedSpace(const FileDescriptor& file);

// Tells the kernel that the file will be read from start to end (a larger read-ahead), and
// that a range of it will be read soon (it starts reading it now). Only hints.
void AdviseSequential(const FileDescriptor& file);
void AdviseWillNeed(const FileDescriptor& file, std::uint64_t offset, std::uint64_t bytes);
// Tells the kernel to forget what it keeps of the file in memory (what is not yet on the disk
// stays): the next reads come from the disk, as they would after a while of other work.
void AdviseDontNeed(const FileDescriptor& file);

// Starts writing a range of the file to the disk without waiting for it, so that a long file
// written piece by piece is mostly on the disk by the time SyncToDisk is called, instead of
// all of it waiting for that flush. Only a hint: a failure to write shows at the flush.
void StartWriteBack(const FileDescriptor& file, std::uint64_t offset, std::uint64_t bytes);

// The file's size as it is now. A failure reads "Can't read <name>: <reason>".
FileStatus FileSize(const FileDescriptor& file, std::uint64_t& size);

// Copies up to count bytes from `from` at fromOffset to `to` at toOffset with one
// copy_file_range: the kernel moves them between its caches (or shares the blocks, where the
// file system can), so they never pass through this process. `copied` receives the count
// copied, which may be short; 0 means the source ends at fromOffset, or a kernel or emulator
// that copies nothing at all, which the caller tells apart by the size it expected.
//
// The kernel gives one reason for both sides, so the status names a side only where the reason
// can belong to one: ENOSPC, EFBIG and EDQUOT are the destination's ("Can't write to <to>").
// Every other failure comes back with the action kCopyAction ("Can't copy <from> to <to>"):
// the kernel refusing this pair of files (EXDEV, ENOSYS, EINVAL, EOPNOTSUPP) as well as a
// reason either side could have given (EIO, EBADF, ...). The caller then does that part with
// reads and writes, which either copy it after all or fail naming the side that failed.
FileStatus CopyRange(const FileDescriptor& from, std::uint64_t fromOffset, const FileDescriptor& to,
                     std::uint64_t toOffset, std::uint64_t count, std::uint64_t& copied);

// While a fault hook is set, one CopyRange copies at most this many bytes: the size of each
// write of a copy through a buffer, so that the hook meets a copy at the same points whichever
// way it is made, and a failure can fall between its pieces as it can between writes.
inline constexpr std::uint64_t kCopyBytesPerFaultCheck = 3 * 65536;
inline constexpr char kCopyAction[] = "copy";

// Makes a range at or beyond the file's end hold zeros with one fallocate (mode 0): the blocks
// are reserved now, so a full disk is reported here and not at a later write or flush, and the
// file grows to offset + count. No data is written: ext4 marks the blocks as not yet written,
// which read as zeros; tmpfs gives zeroed pages. A range that begins inside the file is
// refused with EINVAL, since there the blocks keep what they hold. A failure reads "Can't
// write to <name>: <reason>"; EOPNOTSUPP, ENOSYS and EINVAL mean the file system cannot, and
// the caller writes the zeros instead.
FileStatus AllocateZeros(const FileDescriptor& file, std::uint64_t offset, std::uint64_t count);

// Test seam for the failures a disk can have: when a hook is set, it is asked before every
// write and flush of this file layer (a copy or an allocation counts as a write), and an errno
// value it returns makes that call fail with it. No hook is set outside tests.
using FileFaultHook = int (*)(int descriptor);
void SetFileFaultHook(FileFaultHook hook);

// Test seam for storage that stalls or is slow: when a hook is set, it is called before every
// read, write and flush of this file layer with the descriptor and the bytes the call moves,
// and may sleep there, as a card that writes back to slow flash does. No hook is set outside
// tests.
enum class StorageCall { kRead, kWrite, kFlush };
using StorageDelayHook = void (*)(int descriptor, StorageCall call, std::uint64_t bytes);
void SetStorageDelayHook(StorageDelayHook hook);

// Test seam for kernels and file systems without in-kernel copies and allocation: while set,
// CopyRange and AllocateZeros refuse with ENOSYS before anything else, as such a system does,
// so that the read and write paths beside them can be tested anywhere. Never set outside tests.
void SetKernelCopiesRefused(bool refused);

}  // namespace tapeloom
