#include "fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace tapeloom::fuzz {
namespace {

namespace fs = std::filesystem;

// The scratch directory of this process; removed when the process ends normally (libFuzzer
// leaves through exit() too at the end of a timed run).
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (fs::temp_directory_path() / "tapeloom-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
    path_ = pattern;
    fs::current_path(path_);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  ~ScratchDirectory() {
    std::error_code ignored;
    fs::current_path(path_.parent_path(), ignored);
    fs::remove_all(path_, ignored);
  }

  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

ScratchDirectory& Scratch() {
  static ScratchDirectory directory;
  return directory;
}

}  // namespace

void PrepareProcess() {
  const bool show = std::getenv("TAPELOOM_FUZZ_SHOW_OUTPUT") != nullptr;
  if (!show && std::freopen("/dev/null", "w", stdout) == nullptr) throw std::runtime_error("cannot silence stdout");
  Scratch();
}

void ClearWorkingDirectory() {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(Scratch().path(), error)) {
    fs::remove_all(entry.path(), error);
  }
}

void WriteFile(const std::string& name, std::span<const unsigned char> bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + name);
}

void WriteFile(const std::string& name, std::string_view text) {
  WriteFile(name, std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
}

std::vector<unsigned char> CanonicalWave(int channels, int bits, std::uint32_t rate, std::uint32_t frames) {
  const std::uint32_t bytesPerSample = static_cast<std::uint32_t>(bits) / 8;
  const std::uint32_t blockAlign = static_cast<std::uint32_t>(channels) * bytesPerSample;
  const std::uint32_t dataSize = frames * blockAlign;
  std::vector<unsigned char> file;
  const auto text = [&](std::string_view tag) {
    for (const char c : tag) file.push_back(static_cast<unsigned char>(c));
  };
  const auto field = [&](std::uint32_t value, int width) {
    for (int k = 0; k < width; ++k) file.push_back(static_cast<unsigned char>(value >> (8 * k)));
  };
  text("RIFF");
  field(36 + dataSize, 4);
  text("WAVE");
  text("fmt ");
  field(16, 4);
  field(1, 2);
  field(static_cast<std::uint32_t>(channels), 2);
  field(rate, 4);
  field(rate * blockAlign, 4);
  field(blockAlign, 2);
  field(static_cast<std::uint32_t>(bits), 2);
  text("data");
  field(dataSize, 4);
  for (std::uint32_t sample = 0; sample < frames * static_cast<std::uint32_t>(channels); ++sample) {
    field(sample * 2654435761u, static_cast<int>(bytesPerSample));
  }
  return file;
}

std::string Confined(std::string_view text) {
  std::string confined(text);
  for (char& c : confined) {
    if (c == '/') c = '_';
  }
  return confined;
}

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

std::uint8_t InputParts::Byte() { return at_ < bytes_.size() ? bytes_[at_++] : 0; }

std::string_view InputParts::Part(char separator) {
  const std::size_t start = at_;
  while (at_ < bytes_.size() && bytes_[at_] != static_cast<std::uint8_t>(separator)) ++at_;
  const std::string_view part(reinterpret_cast<const char*>(bytes_.data() + start), at_ - start);
  if (at_ < bytes_.size()) ++at_;
  return part;
}

std::span<const unsigned char> InputParts::Rest() {
  const std::span<const unsigned char> rest = bytes_.subspan(std::min(at_, bytes_.size()));
  at_ = bytes_.size();
  return rest;
}

}  // namespace tapeloom::fuzz
