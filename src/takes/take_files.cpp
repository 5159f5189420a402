#include "takes/take_files.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

#include "takes/file_steps.h"
#include "tracks/list_files.h"
#include "wave/text_file.h"
#include "wave/wave_file.h"
#include "wave/wave_header.h"
#include "wave/wave_layout.h"

namespace tapeloom {
namespace {

constexpr std::uint64_t kToTheEnd = std::numeric_limits<std::uint64_t>::max();

// The number of lines an operation may look at: count, never below 0 nor beyond the flags.
std::size_t Lines(int count, std::size_t limit = kMaxTracks) {
  return std::min(static_cast<std::size_t>(std::max(count, 0)), limit);
}

// The padding itself, up to the padded file being complete in the temporary: the first step
// that failed.
FileStatus WritePadded(const FileDescriptor& file, const FileHead& head, std::uint64_t dataOffset,
                       std::uint64_t silenceBytes, const TemporaryFile& out) {
  // The whole header, whatever chunks it holds, unchanged. A file that ends inside its data
  // chunk header gets the missing bytes as zeros; the size correction below sets them.
  std::vector<unsigned char> header(static_cast<std::size_t>(dataOffset), 0);
  std::copy_n(head.bytes.begin(), std::min(header.size(), head.bytes.size()), header.begin());
  FileStatus status = WriteAt(out.file(), 0, header);
  if (status.ok()) status = WriteZeros(out.file(), dataOffset, silenceBytes);
  if (status.ok()) status = CopyBytes(file, dataOffset, out.file(), dataOffset + silenceBytes, kToTheEnd);
  if (status.ok()) status = FixSize(out.file());
  return status;
}

}  // namespace

std::string RETURN_NAME(int count, std::string_view list, int index) {
  const std::vector<std::string> lines = SplitList(list);
  if (index < 0 || index >= count || static_cast<std::size_t>(index) >= lines.size()) return {};
  return lines[static_cast<std::size_t>(index)];
}

void RENAME_FILES(int count, std::string_view takeList, std::string_view targetList) {
  const std::vector<std::string> takes = SplitList(takeList);
  const std::vector<std::string> targets = SplitList(targetList);
  const std::size_t n = std::min({Lines(count, takes.size()), targets.size()});
  for (std::size_t i = 0; i < n; ++i) {
    if (!IsSkipLine(takes[i])) RenameFile(takes[i], targets[i], Placement::kReplace);
  }
}

std::string StampedName(std::string_view name, long value) {
  const std::string stem(StemOf(name));
  std::string stamped;
  AppendFormat(stamped, "%s_stp_%li.wav", stem.c_str(), value);
  return stamped;
}

void STAMP_FILES(int count, std::string_view list, long value, const TrackFlags& flags) {
  const std::vector<std::string> lines = SplitList(list);
  for (std::size_t i = 0; i < Lines(count) && i < lines.size(); ++i) {
    if (flags[i] != 1 || IsSkipLine(lines[i])) continue;
    RenameFile(lines[i], StampedName(lines[i], value), Placement::kKeepExisting);
  }
}

FileStatus PadTake(const std::string& take, std::int64_t frames, const std::string& destination, Placement placement) {
  FileStatus status;
  FileDescriptor file = OpenForReading(take, status);
  if (!Report(status)) return status;
  const auto notPadded = [&take](const FileStatus& failure) {
    ReportOrEnd(failure);
    std::printf("%s was not padded; it is unchanged\n", take.c_str());
    return failure;
  };
  FileHead head;
  if (status = ReadWaveHead(file, head); !status.ok()) return notPadded(status);
  const std::optional<std::uint32_t> dataTag = FindDataTag(head.bytes);
  if (!dataTag) EndForOwnFileWithoutData();  // before any file is created
  const std::uint64_t dataOffset = *dataTag + 8u;
  const std::uint64_t silenceBytes = 3 * static_cast<std::uint64_t>(std::max<std::int64_t>(frames, 0));

  // Beside the destination, so that the final rename stays on one file system and puts the
  // padded file in place in one step.
  TemporaryFile out = TemporaryFile::Create(std::filesystem::path(destination).parent_path(), "temp_pad.wav", status);
  if (!status.ok()) return notPadded(status);
  if (status = WritePadded(file, head, dataOffset, silenceBytes, out); !status.ok()) return notPadded(status);
  if (status = out.Publish(destination, placement); !status.ok()) return notPadded(status);
  return status;
}

FileStatus PAD_FILE(const std::string& name, std::int64_t frames) {
  return PadTake(name, frames, name, Placement::kReplace);
}

std::string StampRemovedName(const std::string& name) {
  const std::string::size_type cut = name.find("_stp");
  if (cut == std::string::npos) return name;
  const std::string base = name.substr(0, cut);
  std::string target;
  AppendFormat(target, "%s.wav", base.c_str());
  return target;
}

std::string BackupName(std::string_view name, std::int32_t number) {
  const std::string stem(StemOf(name));
  std::string backup;
  AppendFormat(backup, "%s_bkup_%i.wav", stem.c_str(), number);
  return backup;
}

int COPY_FILE(std::int32_t number, const std::string& name) {
  FileStatus status;
  FileDescriptor source = OpenForReading(name, status);
  if (!source) {
    // A file that is there but cannot be read (a FIFO, a directory, no permission) says why.
    if (status.error == ENOENT) {
      std::printf("File %s does not exist\n", name.c_str());
    } else {
      Report(status);
    }
    return 0;
  }
  const std::string backup = BackupName(name, number);
  const auto notCreated = [&backup] {
    std::printf("Cannot create backup file %s\n", backup.c_str());
    return 0;
  };
  // Checked first so that a long file is not copied in vain; the publishing refuses it again
  // should the name be taken meanwhile.
  if (PathExists(backup)) {
    Report(FileStatus::Failed("create", backup, EEXIST));
    return notCreated();
  }
  TemporaryFile copy = TemporaryFile::Create(std::filesystem::path(backup).parent_path(),
                                             std::filesystem::path(backup).filename().string() + ".tmp", status);
  if (!Report(status)) return notCreated();
  if (!Report(CopyBytes(source, 0, copy.file(), 0, kToTheEnd))) return notCreated();
  if (!Report(copy.Publish(backup, Placement::kKeepExisting))) return notCreated();
  std::printf("Copied %s to %s\n", name.c_str(), backup.c_str());
  return 1;
}

void REMOVE_FILES(int count, std::string_view list) {
  const std::vector<std::string> lines = SplitList(list);
  for (std::size_t i = 0; i < Lines(count, lines.size()); ++i) {
    if (!IsSkipLine(lines[i])) RemoveIfPresent(lines[i]);
  }
}

void APPEND_NAMES(int count, std::string_view takeList, std::string_view baseList, std::string characters,
                  const TrackFlags& flags, ConsoleInput& input) {
  const std::vector<std::string> takes = SplitList(takeList);
  const std::vector<std::string> bases = SplitList(baseList);
  bool overwriteAll = false;
  for (std::size_t i = 0; i < Lines(count) && i < takes.size(); ++i) {
    if (flags[i] != 1 || IsSkipLine(takes[i])) continue;
    const std::string& take = takes[i];
    const std::string stem(i < bases.size() ? StemOf(bases[i]) : std::string_view());
    for (;;) {
      std::string newName;
      AppendFormat(newName, "%s_%s.wav", stem.c_str(), characters.c_str());
      bool replace = false;  // the user said so
      if (!overwriteAll && PathExists(newName)) {
        std::printf("\nFile %s exists!\n", newName.c_str());
        char choice = 0;
        while (choice != 'o' && choice != 'O' && choice != 'n') {
          std::puts("\n'o' to overwrite one file");
          std::puts("'O' (shift-o) to overwrite all conflicts,");
          std::puts("'n' to try a new append name");
          const std::string word = input.ReadWord();
          choice = word.empty() ? '\0' : word[0];
        }
        if (choice == 'n') {
          std::puts("Enter new append name");
          characters = input.ReadWord();  // for this take and all later ones
          continue;
        }
        if (choice == 'O') overwriteAll = true;
        replace = true;
      }
      if (RenameFile(take, newName, replace || overwriteAll ? Placement::kReplace : Placement::kKeepExisting).ok()) {
        std::printf("%s -> %s\n", take.c_str(), newName.c_str());
      }
      break;
    }
  }
}

}  // namespace tapeloom
