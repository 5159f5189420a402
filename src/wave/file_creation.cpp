#include "wave/file_creation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "wave/storage_guard.h"

namespace tapeloom {
namespace {

// More taken names than any directory holds by accident; the search gives up there rather
// than run on.
constexpr int kMaxTemporaryNames = 10000;

std::string NumberedName(std::string_view base, int n) {
  if (n == 0) return std::string(base);
  const std::string_view::size_type dot = base.rfind('.');
  const std::string_view stem = base.substr(0, dot);
  const std::string_view extension = dot == std::string_view::npos ? std::string_view() : base.substr(dot);
  return std::string(stem) + "_" + std::to_string(n) + std::string(extension);
}

}  // namespace

bool PathExists(const std::string& name) {
  NoteStorageCall("lstat");
  struct stat64 status {};
  return ::lstat64(name.c_str(), &status) == 0;
}

FileStatus CheckReplaceable(const std::string& name, const char* action) {
  NoteStorageCall("stat");
  struct stat64 status {};
  if (::stat64(name.c_str(), &status) != 0) {
    return errno == ENOENT ? FileStatus{} : FileStatus::Failed(action, name, errno);
  }
  if (S_ISREG(status.st_mode)) return {};
  return FileStatus::Failed(action, name, S_ISDIR(status.st_mode) ? EISDIR : FileStatus::kNotRegularFile);
}

TemporaryFile TemporaryFile::Create(const std::filesystem::path& dir, std::string_view base, FileStatus& status) {
  for (int n = 0; n < kMaxTemporaryNames; ++n) {
    std::string name = (dir / NumberedName(base, n)).string();
    FileDescriptor file = CreateExclusive(name, status);
    if (file) return TemporaryFile(std::move(name), std::move(file));
    if (status.error != EEXIST) return {};
  }
  status = FileStatus::Failed("create", (dir / base).string(), EEXIST);
  return {};
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : name_(std::exchange(other.name_, {})), file_(std::move(other.file_)) {}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    Discard();
    name_ = std::exchange(other.name_, {});
    file_ = std::move(other.file_);
  }
  return *this;
}

TemporaryFile::~TemporaryFile() { Discard(); }

void TemporaryFile::Discard() {
  file_.Close();
  if (!name_.empty()) {
    NoteStorageCall("unlink");
    ::unlink(name_.c_str());
  }
  name_.clear();
}

FileStatus TemporaryFile::Complete() {
  // On the disk before it has its name: after a power cut the name holds the old file or the
  // whole new one.
  if (FileStatus status = SyncToDisk(file_); !status.ok()) return status;
  return file_.Close();
}

FileStatus TemporaryFile::Publish(const std::string& finalName, Placement placement, Flush flush) {
  if (file_) {
    if (FileStatus status = flush == Flush::kToDisk ? Complete() : file_.Close(); !status.ok()) return status;
  }
  FileStatus status;
  if (placement == Placement::kKeepExisting) {
    status = RenameKeepingExisting(name_, finalName);
    // The user knows the final name, not the temporary's.
    if (status.error == EEXIST) status = FileStatus::Failed("create", finalName, EEXIST);
  } else {
    status = RenameReplacing(name_, finalName);
  }
  if (status.ok()) name_.clear();  // it is the final file now
  return status;
}

FileStatus RenameKeepingExisting(const std::string& from, const std::string& to) {
  NoteStorageCall("rename");
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return FileStatus::Done();
  int error = errno;
  // EINVAL and ENOSYS: a file system or kernel that cannot refuse within the rename.
  if (error == EINVAL || error == ENOSYS) {
    if (::link(from.c_str(), to.c_str()) == 0) {
      if (::unlink(from.c_str()) != 0) return FileStatus::Failed("remove", from, errno);
      return FileStatus::Done();
    }
    error = errno;
    if (error == EPERM || error == EOPNOTSUPP || error == ENOSYS) {
      if (PathExists(to)) return FileStatus::Failed("rename", from, EEXIST, to);
      if (std::rename(from.c_str(), to.c_str()) == 0) return FileStatus::Done();
      error = errno;
    }
  }
  return FileStatus::Failed("rename", from, error, to);
}

FileStatus RenameReplacing(const std::string& from, const std::string& to) {
  NoteStorageCall("rename");
  if (std::rename(from.c_str(), to.c_str()) != 0) return FileStatus::Failed("rename", from, errno, to);
  return FileStatus::Done();
}

FileStatus RemoveFile(const std::string& name) {
  NoteStorageCall("unlink");
  if (::unlink(name.c_str()) != 0) return FileStatus::Failed("remove", name, errno);
  return FileStatus::Done();
}

FileStatus SyncFile(const std::string& name) {
  FileStatus status;
  const FileDescriptor file = OpenForReading(name, status);
  if (!file) return status;
  return SyncToDisk(file);
}

}  // namespace tapeloom
