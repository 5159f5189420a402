#include "takes/take_files.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "app/text_file.h"
#include "takes/file_steps.h"
#include "tracks/list_files.h"
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

// The padding itself, up to the padded file being complete under its temporary name. Prints
// what failed and returns false; the caller then removes the temporary.
bool WritePadded(const FileDescriptor& file, const std::string& name, const FileHead& head, std::uint64_t dataOffset,
                 std::uint64_t silenceBytes, const FileDescriptor& out, const std::string& tempName) {
  // The whole header, whatever chunks it holds, unchanged. A file that ends inside its data
  // chunk header gets the missing bytes as zeros; the size correction below sets them.
  std::vector<unsigned char> header(static_cast<std::size_t>(dataOffset), 0);
  std::copy_n(head.bytes.begin(), std::min(header.size(), head.bytes.size()), header.begin());
  std::string failure = WriteAt(out, 0, header);
  if (failure.empty()) failure = WriteZeros(out, dataOffset, silenceBytes);
  if (!failure.empty()) {
    std::printf("Can't write to %s: %s\n", tempName.c_str(), failure.c_str());
    return false;
  }
  if (!ReportCopy(CopyBytes(file, dataOffset, out, dataOffset + silenceBytes, kToTheEnd), name, tempName)) {
    return false;
  }
  if (failure = FIX_SIZE(tempName); !failure.empty()) {
    std::printf("Can't write to %s: %s\n", tempName.c_str(), failure.c_str());
    return false;
  }
  // On the disk before it takes the take's place: after a power cut the name holds either the
  // old take or the whole padded one.
  if (::fsync(out.get()) != 0) {
    std::printf("Can't write to %s: %s\n", tempName.c_str(), std::strerror(errno));
    return false;
  }
  return true;
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
    if (!IsSkipLine(takes[i])) RenameReplacing(takes[i], targets[i]);
  }
}

void STAMP_FILES(int count, std::string_view list, long value, const std::array<int, kMaxTracks>& flags) {
  const std::vector<std::string> lines = SplitList(list);
  for (std::size_t i = 0; i < Lines(count) && i < lines.size(); ++i) {
    if (flags[i] != 1 || IsSkipLine(lines[i])) continue;
    const std::string stem(StemOf(lines[i]));
    std::string stamped;
    AppendFormat(stamped, "%s_stp_%li.wav", stem.c_str(), value);
    RenameReplacing(lines[i], stamped);
  }
}

bool PAD_FILE(const std::string& name, std::int64_t frames) {
  FileDescriptor file = OpenForReading(name);
  if (!file) {
    std::printf("Can't open %s: %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  FileHead head;
  if (std::string failure = ReadWaveHead(file, head); !failure.empty()) {
    std::printf("Can't read %s: %s\n", name.c_str(), failure.c_str());
    std::printf("%s was not padded; it is unchanged\n", name.c_str());
    return false;
  }
  const std::optional<std::uint32_t> dataTag = FindDataTag(head.bytes);
  if (!dataTag) EndForOwnFileWithoutData();  // before any file is created
  const std::uint64_t dataOffset = *dataTag + 8u;
  const std::uint64_t silenceBytes = 3 * static_cast<std::uint64_t>(std::max<std::int64_t>(frames, 0));

  // Beside the file, so that the final rename stays on one file system and replaces the take
  // in one step: the take's name always holds either the old take or the padded one.
  const std::string tempName =
      TemporaryName(std::filesystem::path(name).parent_path(), "temp_pad.wav", {std::string_view(name)});
  FileDescriptor out = CreateOrTruncate(tempName);
  if (!out) {
    std::printf("Can't create %s: %s\n", tempName.c_str(), std::strerror(errno));
    std::printf("%s was not padded; it is unchanged\n", name.c_str());
    return false;
  }
  TemporaryFile temp(tempName);
  bool padded = WritePadded(file, name, head, dataOffset, silenceBytes, out, tempName);
  if (padded) {
    if (const int error = out.Close(); error != 0) {
      std::printf("Can't write to %s: %s\n", tempName.c_str(), std::strerror(error));
      padded = false;
    }
  }
  if (padded) padded = RenameReplacing(tempName, name) == RenameResult::kDone;
  if (!padded) {
    std::printf("%s was not padded; it is unchanged\n", name.c_str());
    return false;
  }
  temp.Keep();
  return true;
}

bool REMOVE_STAMP(const std::string& name) {
  const std::string::size_type cut = name.find("_stp");
  if (cut == std::string::npos) return true;
  const std::string base = name.substr(0, cut);
  std::string target;
  AppendFormat(target, "%s.wav", base.c_str());
  return RenameReplacing(name, target) == RenameResult::kDone;
}

int COPY_FILE(std::int32_t number, const std::string& name) {
  FileDescriptor source = OpenForReading(name);
  if (!source) {
    std::printf("File %s does not exist\n", name.c_str());
    return 0;
  }
  const std::string stem(StemOf(name));
  std::string backup;
  AppendFormat(backup, "%s_bkup_%i.wav", stem.c_str(), number);
  FileDescriptor copy = CreateOrTruncate(backup);
  if (!copy) {
    std::printf("Cannot create backup file %s\n", backup.c_str());
    return 0;
  }
  if (!ReportCopy(CopyBytes(source, 0, copy, 0, kToTheEnd), name, backup)) return 0;
  if (const int error = copy.Close(); error != 0) {
    std::printf("Can't write to %s: %s\n", backup.c_str(), std::strerror(error));
    return 0;
  }
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
                  const std::array<int, kMaxTracks>& flags, ConsoleInput& input) {
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
      }
      if (RenameReplacing(take, newName) == RenameResult::kDone) {
        std::printf("%s -> %s\n", take.c_str(), newName.c_str());
      }
      break;
    }
  }
}

}  // namespace tapeloom
