// Files that appear under their names only whole, and never take the place of a file by
// accident: temporaries created exclusively beside the name they are meant for, published by
// a flush and a rename once complete, and renames that refuse to replace anything.
//
// A user's own file, a symbolic link, or a temporary left behind by an interrupted operation
// may carry any name a temporary would take: the temporary then takes another name, and the
// file of that name, or the file a link points to, is never opened.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "wave/file_status.h"
#include "wave/wave_file.h"

namespace tapeloom {

// Whether publishing may replace a file that already has the final name.
enum class Placement {
  kReplace,       // the file takes the place of an existing one in one step (the settings, a padded take)
  kKeepExisting,  // refused with EEXIST when anything of that name exists (backups, new names)
};

class TemporaryFile {
 public:
  // Creates an empty file, open for reading and writing, in dir: named base or, when that
  // name is taken, base with "_1", "_2", ... before its extension. On failure the result is
  // empty and status says why.
  static TemporaryFile Create(const std::filesystem::path& dir, std::string_view base, FileStatus& status);

  TemporaryFile() = default;
  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&& other) noexcept;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  // Closes the file and removes it, unless it was published.
  ~TemporaryFile();

  explicit operator bool() const { return static_cast<bool>(file_); }
  const std::string& name() const { return name_; }
  const FileDescriptor& file() const { return file_; }

  // Flushes the file to the disk and closes it: the first steps of Publish, which then only
  // renames. An operation that writes several files completes each before it publishes any,
  // so that a failed flush leaves every earlier file of their names in place. Nothing can be
  // written after it.
  FileStatus Complete();

  // What Publish does before the rename: a finished file goes to the disk first; a file that
  // is only begun (a take's header before its recording, which flushes it at its end) need
  // only never appear half-made.
  enum class Flush { kToDisk, kNone };

  // Flushes the file to the disk, closes it (unless Complete did) and renames it to
  // finalName. With kKeepExisting a file of that name is never replaced: the status is then
  // "Can't create <finalName>: File exists". On any failure the temporary is removed when this
  // object goes, and no file of the final name has changed.
  FileStatus Publish(const std::string& finalName, Placement placement, Flush flush = Flush::kToDisk);

  // Publishes several files as one, each replacing what has its final name: either every name
  // holds its new file, or, when one cannot take its name, the ones published before it are put
  // back as they were (a file they replaced under its name again, a name that was free freed
  // again) and every temporary is removed when its object goes. The status is the failure's.
  struct Destination {
    TemporaryFile* file;
    std::string finalName;
  };
  static FileStatus PublishAll(const std::vector<Destination>& files);

 private:
  TemporaryFile(std::string name, FileDescriptor file) : name_(std::move(name)), file_(std::move(file)) {}
  void Discard();

  std::string name_;
  FileDescriptor file_;
};

// True when anything of that name exists: a file, a directory, a link (even a dangling one).
bool PathExists(const std::string& name);

// Whether a finished file may be put in place under this name: when nothing is there (or a
// link that leads nowhere) or a regular file, directly or through a link. A directory, a FIFO,
// a device or a socket is refused ("Can't <action> <name>: Not a regular file" or "Is a
// directory"): the user made it for some other use.
FileStatus CheckReplaceable(const std::string& name, const char* action);

// Renames from to to only if nothing of that name exists; otherwise fails with EEXIST ("Can't
// rename <from> to <to>: File exists") and leaves both as they are. In one step where the file system allows it, else
// by a hard link and the removal of the old name, else (file systems without links, such as FAT) by a check just before
// the rename.
FileStatus RenameKeepingExisting(const std::string& from, const std::string& to);

// Renames from to to, replacing a file of that name in one step.
FileStatus RenameReplacing(const std::string& from, const std::string& to);

// Removes a file; never a directory.
FileStatus RemoveFile(const std::string& name);

// Flushes a file that was changed in place, by name. The status names the file.
FileStatus SyncFile(const std::string& name);

}  // namespace tapeloom
