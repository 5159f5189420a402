#include "takes/file_steps.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

namespace tapeloom {

std::string_view StemOf(std::string_view name) { return name.substr(0, name.find('.')); }

RenameResult RenameFile(const std::string& from, const std::string& to, Placement placement) {
  FileStatus status;
  if (placement == Placement::kReplace) {
    if (std::rename(from.c_str(), to.c_str()) != 0) status = FileStatus::Failed("rename", from, errno, to);
  } else {
    status = RenameKeepingExisting(from, to);
  }
  if (status.ok()) return RenameResult::kDone;
  // ENOENT also stands for a target folder that does not exist: only a missing source is
  // the silent case.
  if (status.error == ENOENT && !PathExists(from)) return RenameResult::kNoSource;
  Report(status);
  return RenameResult::kFailed;
}

void RemoveIfPresent(const std::string& name) {
  if (::unlink(name.c_str()) == 0) return;
  const int error = errno;
  if (error != ENOENT) std::printf("Can't remove %s: %s\n", name.c_str(), std::strerror(error));
}

CopyOutcome CopyBytes(const FileDescriptor& from, std::uint64_t fromOffset, const FileDescriptor& to,
                      std::uint64_t toOffset, std::uint64_t count) {
  CopyOutcome outcome;
  std::vector<unsigned char> block(static_cast<std::size_t>(std::min<std::uint64_t>(count, kCopyBlockBytes)));
  while (outcome.copied < count) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(count - outcome.copied, block.size()));
    const std::int64_t got =
        ReadAt(from, fromOffset + outcome.copied, std::span(block.data(), want), outcome.readFailure);
    if (got <= 0) break;  // the end of the source, or a failure
    const auto bytes = std::span<const unsigned char>(block.data(), static_cast<std::size_t>(got));
    outcome.writeFailure = WriteAt(to, toOffset + outcome.copied, bytes);
    if (!outcome.writeFailure.empty()) break;
    outcome.copied += static_cast<std::uint64_t>(got);
    if (static_cast<std::size_t>(got) < want) break;
  }
  return outcome;
}

bool ReportCopy(const CopyOutcome& outcome, const std::string& fromName, const std::string& toName) {
  if (!outcome.readFailure.empty()) std::printf("Can't read %s: %s\n", fromName.c_str(), outcome.readFailure.c_str());
  if (!outcome.writeFailure.empty()) {
    std::printf("Can't write to %s: %s\n", toName.c_str(), outcome.writeFailure.c_str());
  }
  return outcome.ok();
}

std::string WriteZeros(const FileDescriptor& to, std::uint64_t offset, std::uint64_t count) {
  const std::vector<unsigned char> zeros(static_cast<std::size_t>(std::min<std::uint64_t>(count, kCopyBlockBytes)));
  for (std::uint64_t done = 0; done < count;) {
    const auto bytes = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, zeros.size()));
    if (std::string failure = WriteAt(to, offset + done, std::span(zeros.data(), bytes)); !failure.empty()) {
      return failure;
    }
    done += bytes;
  }
  return {};
}

}  // namespace tapeloom
