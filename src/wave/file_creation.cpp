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

namespace {

// How a file of a group took its final name, so that it can be put back.
struct Placed {
  enum class How { kFresh, kExchanged, kMovedAside } how = How::kFresh;
  std::string aside;  // kMovedAside: where the replaced file went
};

FileStatus ExchangeNames(const std::string& a, const std::string& b) {
  NoteStorageCall("rename");
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) return FileStatus::Done();
  return FileStatus::Failed("rename", a, errno, b);
}

// Puts `temporary` under `finalName`, keeping what had that name: exchanged with the
// temporary where the file system can, else moved aside under a free name beside it.
FileStatus PlaceKeepingReplaced(const std::string& temporary, const std::string& finalName, Placed& placed) {
  NoteStorageCall("lstat");
  struct stat64 status {};
  if (::lstat64(finalName.c_str(), &status) != 0) {
    if (errno != ENOENT) return FileStatus::Failed("rename", temporary, errno, finalName);
    placed.how = Placed::How::kFresh;
    return RenameKeepingExisting(temporary, finalName);
  }
  // A folder is never put aside: a file cannot take its place, as a rename would say.
  if (S_ISDIR(status.st_mode)) return FileStatus::Failed("rename", temporary, EISDIR, finalName);
  FileStatus exchanged = ExchangeNames(temporary, finalName);
  if (exchanged.ok()) {
    placed.how = Placed::How::kExchanged;
    return exchanged;
  }
  if (exchanged.error != EINVAL && exchanged.error != ENOSYS) return exchanged;
  // A file system that cannot exchange (FAT): the old file steps aside first.
  for (int n = 1; n < kMaxTemporaryNames; ++n) {
    const std::string aside = NumberedName(finalName + ".old", n);
    FileStatus moved = RenameKeepingExisting(finalName, aside);
    if (moved.error == EEXIST) continue;
    if (!moved.ok()) return moved;
    placed = Placed{.how = Placed::How::kMovedAside, .aside = aside};
    FileStatus put = RenameKeepingExisting(temporary, finalName);
    if (!put.ok()) RenameReplacing(aside, finalName);
    return put;
  }
  return FileStatus::Failed("rename", finalName, EEXIST);
}

// Undoes PlaceKeepingReplaced: the new file goes back to the temporary's name.
void PutBack(const std::string& temporary, const std::string& finalName, const Placed& placed) {
  switch (placed.how) {
    case Placed::How::kFresh: RenameKeepingExisting(finalName, temporary); break;
    case Placed::How::kExchanged: ExchangeNames(temporary, finalName); break;
    case Placed::How::kMovedAside:
      if (RenameKeepingExisting(finalName, temporary).ok()) RenameReplacing(placed.aside, finalName);
      break;
  }
}

}  // namespace

FileStatus TemporaryFile::PublishAll(const std::vector<Destination>& files) {
  for (const Destination& d : files) {
    if (d.file->file_) {
      if (FileStatus status = d.file->Complete(); !status.ok()) return status;
    }
  }
  std::vector<Placed> placed(files.size());
  for (std::size_t k = 0; k < files.size(); ++k) {
    FileStatus status = PlaceKeepingReplaced(files[k].file->name_, files[k].finalName, placed[k]);
    if (status.ok()) continue;
    for (std::size_t j = k; j-- > 0;) PutBack(files[j].file->name_, files[j].finalName, placed[j]);
    return status;
  }
  // All in place: what they replaced goes (an exchanged file is under the temporary's name).
  for (std::size_t k = 0; k < files.size(); ++k) {
    TemporaryFile& file = *files[k].file;
    if (placed[k].how == Placed::How::kFresh) file.name_.clear();
    if (placed[k].how == Placed::How::kMovedAside) {
      file.name_.clear();
      RemoveFile(placed[k].aside);
    }
  }
  return FileStatus::Done();
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
