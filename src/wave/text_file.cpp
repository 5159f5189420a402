#include "wave/text_file.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <span>

#include "wave/file_creation.h"
#include "wave/wave_file.h"

namespace tapeloom {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  std::string text;
  char block[4096];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) text.append(block, got);
  if (std::ferror(file.get())) return std::nullopt;
  return text;
}

std::string ReplaceFileAtomically(const std::string& path, const std::string& text) {
  const std::filesystem::path target(path);
  FileStatus status;
  TemporaryFile temp = TemporaryFile::Create(target.parent_path(), target.filename().string() + ".tmp", status);
  if (!status.ok()) return std::strerror(status.error);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  if (std::string failure = WriteAt(temp.file(), 0, std::span(bytes, text.size())); !failure.empty()) return failure;
  if (status = temp.Publish(path, Placement::kReplace); !status.ok()) return std::strerror(status.error);
  return {};
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
