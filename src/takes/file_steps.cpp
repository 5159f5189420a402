#include "takes/file_steps.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <span>
#include <vector>

#include "core/program_end.h"

namespace tapeloom {

std::string_view StemOf(std::string_view name) { return name.substr(0, name.find('.')); }

FileStatus RenameFile(const std::string& from, const std::string& to, Placement placement) {
  const FileStatus status =
      placement == Placement::kReplace ? RenameReplacing(from, to) : RenameKeepingExisting(from, to);
  // ENOENT also stands for a target folder that does not exist: only a missing source is
  // the silent case.
  if (!status.ok() && !(status.error == ENOENT && !PathExists(from))) Report(status);
  return status;
}

void EndForOwnFileWithoutData() {
  std::puts("Can't find data block in wave file!");
  EndProgram(kExitCorruptOwnFile);
}

bool ReportOrEnd(const FileStatus& status) {
  if (status.error == FileStatus::kNoDataChunk) EndForOwnFileWithoutData();
  return Report(status);
}

void RemoveIfPresent(const std::string& name) {
  const FileStatus status = RemoveFile(name);
  if (status.error != ENOENT) Report(status);
}

namespace {

// The copy through this process: reads and writes of one block at a time. Used where the
// kernel does not copy, and for what is left of a copy it failed: a read or a write that fails
// names its own file.
FileStatus CopyThroughBuffer(const FileDescriptor& from, std::uint64_t fromOffset, const FileDescriptor& to,
                             std::uint64_t toOffset, std::uint64_t count) {
  std::vector<unsigned char> block(static_cast<std::size_t>(std::min<std::uint64_t>(count, kCopyBlockBytes)));
  for (std::uint64_t copied = 0; copied < count;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(count - copied, block.size()));
    std::uint64_t got = 0;
    if (FileStatus status = ReadAt(from, fromOffset + copied, std::span(block.data(), want), got); !status.ok()) {
      return status;
    }
    if (got == 0) break;  // the end of the source
    const auto bytes = std::span<const unsigned char>(block.data(), static_cast<std::size_t>(got));
    if (FileStatus status = WriteAt(to, toOffset + copied, bytes); !status.ok()) return status;
    copied += got;
    if (got < want) break;
  }
  return FileStatus::Done();
}

FileStatus WriteZeroBlocks(const FileDescriptor& to, std::uint64_t offset, std::uint64_t count) {
  const std::vector<unsigned char> zeros(static_cast<std::size_t>(std::min<std::uint64_t>(count, kCopyBlockBytes)));
  for (std::uint64_t done = 0; done < count;) {
    const auto bytes = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, zeros.size()));
    if (FileStatus status = WriteAt(to, offset + done, std::span(zeros.data(), bytes)); !status.ok()) return status;
    done += bytes;
  }
  return FileStatus::Done();
}

// The most the kernel is asked to copy at once: a few calls per gigabyte (one per 192 KiB
// costs measurably more on tmpfs), and a stop at every step for a signal.
constexpr std::uint64_t kKernelCopyStepBytes = std::uint64_t{3} << 24;

static_assert(kCopyBlockBytes == kCopyBytesPerFaultCheck, "a copy meets the fault hook once per block it writes");

// The reasons for which a file system has no fallocate.
bool AllocationUnsupported(int error) { return error == EOPNOTSUPP || error == ENOSYS || error == EINVAL; }

}  // namespace

FileStatus CopyBytes(const FileDescriptor& from, std::uint64_t fromOffset, const FileDescriptor& to,
                     std::uint64_t toOffset, std::uint64_t count) {
  // What the source holds from fromOffset on: a copy that is cut short before that is a
  // kernel that does not copy, not the source's end.
  std::uint64_t size = 0;
  if (FileStatus status = FileSize(from, size); !status.ok()) return status;
  const std::uint64_t available = size > fromOffset ? std::min(count, size - fromOffset) : 0;
  std::uint64_t copied = 0;
  while (copied < available) {
    std::uint64_t got = 0;
    const FileStatus status = CopyRange(from, fromOffset + copied, to, toOffset + copied,
                                        std::min(available - copied, kKernelCopyStepBytes), got);
    if (!status.ok() && std::string_view(status.action) != kCopyAction) return status;
    if (!status.ok() || (got == 0 && copied == 0)) {
      return CopyThroughBuffer(from, fromOffset + copied, to, toOffset + copied, count - copied);
    }
    if (got == 0) break;  // the source became shorter since it was measured
    copied += got;
  }
  return FileStatus::Done();
}

FileStatus WriteZeros(const FileDescriptor& to, std::uint64_t offset, std::uint64_t count) {
  if (count == 0) return FileStatus::Done();
  std::uint64_t size = 0;
  if (FileStatus status = FileSize(to, size); !status.ok()) return status;
  // Inside the file the zeros are written over what is there; beyond its end they are
  // allocated, which writes nothing.
  const std::uint64_t inside = size > offset ? std::min(count, size - offset) : 0;
  if (FileStatus status = WriteZeroBlocks(to, offset, inside); !status.ok() || inside == count) return status;
  const FileStatus allocated = AllocateZeros(to, offset + inside, count - inside);
  if (allocated.ok() || !AllocationUnsupported(allocated.error)) return allocated;
  return WriteZeroBlocks(to, offset + inside, count - inside);
}

}  // namespace tapeloom
