#include "wave/text_file.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>

#include "wave/file_creation.h"
#include "wave/wave_file.h"

namespace tapeloom {

FileStatus ReadWholeFile(const std::string& path, std::string& text) {
  text.clear();
  FileStatus status;
  const FileDescriptor file = OpenForReading(path, status);
  if (!file) return status;
  // What the file holds when it is opened, and no more: a file that grows meanwhile is not
  // followed. A settings or list file is a few kilobytes; one beyond kLargestTextFile is not
  // one, and is refused rather than read into memory.
  std::uint64_t size = 0;
  if (status = FileSize(file, size); !status.ok()) return status;
  if (size > kLargestTextFile) return FileStatus::Failed("read", path, EFBIG);
  text.resize(static_cast<std::size_t>(size));
  std::uint64_t got = 0;
  status = ReadAt(file, 0, std::span(reinterpret_cast<unsigned char*>(text.data()), text.size()), got);
  // A file cut short meanwhile gives what it still held.
  text.resize(status.ok() ? static_cast<std::size_t>(got) : 0);
  return status;
}

FileStatus ReplaceFileAtomically(const std::string& path, const std::string& text) {
  const std::filesystem::path target(path);
  FileStatus status;
  TemporaryFile temp = TemporaryFile::Create(target.parent_path(), target.filename().string() + ".tmp", status);
  if (!status.ok()) return status;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  if (status = WriteAt(temp.file(), 0, std::span(bytes, text.size())); !status.ok()) return status;
  return temp.Publish(path, Placement::kReplace);
}

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> entries;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (!line.empty()) entries.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return entries;
}

void AppendFormat(std::string& out, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (needed > 0) {
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(out.data() + start, static_cast<std::size_t>(needed) + 1, format, again);
    out.resize(start + static_cast<std::size_t>(needed));
  }
  va_end(again);
}

}  // namespace tapeloom
