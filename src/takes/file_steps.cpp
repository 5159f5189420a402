#include "takes/file_steps.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <system_error>
#include <vector>

namespace tapeloom {

std::string_view StemOf(std::string_view name) { return name.substr(0, name.find('.')); }

bool PathExists(const std::string& name) {
  struct stat64 status {};
  return ::lstat64(name.c_str(), &status) == 0;
}

RenameResult RenameReplacing(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return RenameResult::kDone;
  const int error = errno;
  // ENOENT also stands for a target folder that does not exist: only a missing source is
  // the silent case.
  if (error == ENOENT && !PathExists(from)) return RenameResult::kNoSource;
  std::printf("Can't rename %s to %s: %s\n", from.c_str(), to.c_str(), std::strerror(error));
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

std::string TemporaryName(const std::filesystem::path& dir, std::string_view base,
                          std::initializer_list<std::string_view> keep) {
  const std::string_view::size_type dot = base.rfind('.');
  const std::string_view stem = base.substr(0, dot);
  const std::string_view extension = dot == std::string_view::npos ? std::string_view() : base.substr(dot);
  for (int n = 0;; ++n) {
    std::string name =
        (dir / (n == 0 ? std::string(base) : std::string(stem) + "_" + std::to_string(n) + std::string(extension)))
            .string();
    const bool taken = std::any_of(keep.begin(), keep.end(), [&name](std::string_view file) {
      std::error_code ignored;  // a file that does not exist is no other file
      return std::filesystem::equivalent(name, file, ignored);
    });
    if (!taken) return name;
  }
}

TemporaryFile::~TemporaryFile() {
  if (!name_.empty()) ::unlink(name_.c_str());
}

}  // namespace tapeloom
