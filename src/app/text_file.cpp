#include "app/text_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>

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
  const std::string temp = path + ".tmp";
  FileDescriptor file = CreateOrTruncate(temp);
  if (!file) return std::strerror(errno);
  auto fail = [&temp](std::string reason) {
    ::unlink(temp.c_str());
    return reason;
  };
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  if (std::string failure = WriteAt(file, 0, std::span(bytes, text.size())); !failure.empty()) return fail(failure);
  // On the disk before it takes the old file's place: a power cut leaves one or the other.
  if (::fsync(file.get()) != 0) return fail(std::strerror(errno));
  if (const int error = file.Close(); error != 0) return fail(std::strerror(error));
  if (std::rename(temp.c_str(), path.c_str()) != 0) return fail(std::strerror(errno));
  return {};
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
