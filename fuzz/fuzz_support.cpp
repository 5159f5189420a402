#include "fuzz_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tapeloom::fuzz {

namespace fs = std::filesystem;
static fs::path scratch;

static void RemoveScratch() {
  std::error_code ignored;
  fs::current_path(scratch.parent_path(), ignored);
  fs::remove_all(scratch, ignored);
}

void PrepareProcess(void (*setup)()) {
  if (!scratch.empty()) return;
  if (std::getenv("TAPELOOM_FUZZ_SHOW_OUTPUT") == nullptr)
    Require(std::freopen("/dev/null", "w", stdout) != nullptr, "cannot silence standard output");
  std::string pattern = (fs::temp_directory_path() / "tapeloom-fuzz-XXXXXX").string();
  Require(mkdtemp(pattern.data()) != nullptr, "cannot make a scratch directory");
  fs::current_path(scratch = pattern);
  std::atexit(&RemoveScratch);  // libFuzzer too leaves through exit() at the end of a timed run
  if (setup != nullptr) setup();
}

void ClearWorkingDirectory() {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(scratch, error)) fs::remove_all(entry.path(), error);
}

void WriteFile(const std::string& name, std::string_view bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  Require(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).good(), "cannot write a file");
}

std::string CanonicalWave(int channels, int bits, std::uint32_t rate, std::uint32_t frames) {
  const auto ch = static_cast<std::uint32_t>(channels), width = static_cast<std::uint32_t>(bits / 8);
  const std::uint32_t align = ch * width, dataSize = frames * align;
  const auto le = [](std::uint32_t value, std::uint32_t bytes) {  // a little-endian field
    std::string field;
    for (std::uint32_t k = 0; k < bytes; ++k) field += static_cast<char>(value >> (8 * k));
    return field;
  };
  std::string file = "RIFF" + le(36 + dataSize, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(ch, 2) + le(rate, 4) +
                     le(rate * align, 4) + le(align, 2) + le(width * 8, 2) + "data" + le(dataSize, 4);
  for (std::uint32_t sample = 0; sample < frames * ch; ++sample) file += le(sample * 2654435761u, width);
  return file;
}

std::string Confined(std::string_view text) {
  std::string confined(text);
  std::replace(confined.begin(), confined.end(), '/', '_');
  return confined;
}

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace tapeloom::fuzz
