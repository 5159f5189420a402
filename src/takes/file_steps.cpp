#include "takes/file_steps.h"

#include <algorithm>
#include <cerrno>
#include <span>
#include <vector>

namespace tapeloom {

std::string_view StemOf(std::string_view name) { return name.substr(0, name.find('.')); }

RenameResult RenameFile(const std::string& from, const std::string& to, Placement placement) {
  const FileStatus status =
      placement == Placement::kReplace ? RenameReplacing(from, to) : RenameKeepingExisting(from, to);
  if (status.ok()) return RenameResult::kDone;
  // ENOENT also stands for a target folder that does not exist: only a missing source is
  // the silent case.
  if (status.error == ENOENT && !PathExists(from)) return RenameResult::kNoSource;
  Report(status);
  return RenameResult::kFailed;
}

void RemoveIfPresent(const std::string& name) {
  const FileStatus status = RemoveFile(name);
  if (status.error != ENOENT) Report(status);
}

FileStatus CopyBytes(const FileDescriptor& from, std::uint64_t fromOffset, const FileDescriptor& to,
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

FileStatus WriteZeros(const FileDescriptor& to, std::uint64_t offset, std::uint64_t count) {
  const std::vector<unsigned char> zeros(static_cast<std::size_t>(std::min<std::uint64_t>(count, kCopyBlockBytes)));
  for (std::uint64_t done = 0; done < count;) {
    const auto bytes = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, zeros.size()));
    if (FileStatus status = WriteAt(to, offset + done, std::span(zeros.data(), bytes)); !status.ok()) return status;
    done += bytes;
  }
  return FileStatus::Done();
}

}  // namespace tapeloom
