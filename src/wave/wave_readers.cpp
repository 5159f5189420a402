#include "wave/wave_readers.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string_view>

#include "wave/text_file.h"
#include "wave/wave_file.h"

namespace tapeloom {
namespace {

enum class HeadRead { kRead, kCannotOpen, kCannotRead };

// Reads the head of the file at path. Something there that is no file (a directory, a FIFO) or
// that cannot be read is reported here with its reason; a name with nothing readable behind it
// is left to the caller's own words.
HeadRead ReadHeadOf(const std::string& path, FileHead& head) {
  FileStatus status;
  FileDescriptor file = OpenForReading(path, status);
  if (status.error == EISDIR || status.error == FileStatus::kNotRegularFile) {
    Report(FileStatus::Failed("read", path, status.error));
    return HeadRead::kCannotRead;
  }
  if (!file) return HeadRead::kCannotOpen;
  if (!Report(ReadWaveHead(file, head))) return HeadRead::kCannotRead;
  return HeadRead::kRead;
}

}  // namespace

int GET_ATTRIBUTES(const std::string& path, WaveAttributes& out) {
  FileHead head;
  switch (ReadHeadOf(path, head)) {
    case HeadRead::kRead: break;
    case HeadRead::kCannotOpen: std::printf("Cannot find file in track list called %s!!\n", path.c_str()); return 0;
    case HeadRead::kCannotRead: return 0;
  }
  switch (ReadWaveAttributes(head.bytes, head.size, out)) {
    case WaveCheck::kUsable: return 1;
    case WaveCheck::kNoFormatChunk: std::puts("Can't find format chunk in wave file!"); return 0;
    case WaveCheck::kNotMono: std::printf("%s is not a mono file and will not be played\n", path.c_str()); return 0;
    case WaveCheck::kNot24Bit: std::printf("%s is not a 24 bit file and will not be played\n", path.c_str()); return 0;
    case WaveCheck::kNoDataChunk: std::printf("Cannot find data block in file %s!\n", path.c_str()); return 0;
  }
  return 0;
}

SamplePosition GET_LENGTH(const std::string& path) {
  FileHead head;
  if (ReadHeadOf(path, head) != HeadRead::kRead) return 0;
  WaveAttributes attributes;
  switch (ReadWaveAttributes(head.bytes, head.size, attributes)) {
    case WaveCheck::kUsable: return attributes.length;
    case WaveCheck::kNoFormatChunk: std::puts("Can't find format chunk in wave file!"); return 0;
    case WaveCheck::kNotMono: std::puts("Mono files only"); return 0;
    case WaveCheck::kNot24Bit: std::puts("24 bit wave files only!"); return 0;
    case WaveCheck::kNoDataChunk: std::puts("Can't find data block in wave file!"); return 0;
  }
  return 0;
}

SamplePosition SEEK_LONG_FILE(int count, char skipChar, const std::string& listPath) {
  std::string list;
  if (!ReadWholeFile(listPath, list).ok()) {
    std::printf("Playlist file called %s was not found!\n", listPath.c_str());
    return 0;
  }
  SamplePosition longest = 0;
  const std::vector<std::string> entries = SplitList(list);
  for (std::size_t k = 0; k < entries.size() && k < static_cast<std::size_t>(std::max(count, 0)); ++k) {
    const std::string& entry = entries[k];
    if (entry.front() == skipChar) continue;
    const SamplePosition length = GET_LENGTH(entry);
    std::printf("Checking file %s\n", entry.c_str());
    longest = std::max(longest, length);
  }
  return longest;
}

std::optional<std::uint32_t> ReadSampleRateQuietly(const std::string& path) {
  FileStatus status;
  const FileDescriptor file = OpenForReading(path, status);
  if (!file) return std::nullopt;
  FileHead head;
  if (!ReadWaveHead(file, head).ok()) return std::nullopt;
  WaveAttributes attributes;
  if (ReadWaveAttributes(head.bytes, head.size, attributes) != WaveCheck::kUsable) return std::nullopt;
  return attributes.sampleRate;
}

bool WarnOfOtherRate(const std::string& path, std::uint32_t fileRate, std::uint32_t sessionRate) {
  if (fileRate == sessionRate) return false;
  std::printf("%s is a %u Hz file; the session runs at %u Hz, so it plays at the wrong speed\n", path.c_str(),
              static_cast<unsigned>(fileRate), static_cast<unsigned>(sessionRate));
  return true;
}

}  // namespace tapeloom
