// Runs a fuzz target once on every corpus file given (or in a directory given), in name order; none found fails.
#include <iterator>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;  // absolute: the target works in a directory of its own
  for (int k = 1; k < argc; ++k)
    if (const auto path = std::filesystem::absolute(argv[k]); std::filesystem::is_directory(path))
      for (const auto& entry : std::filesystem::directory_iterator(path)) files.push_back(entry.path());
    else
      files.push_back(path);
  std::sort(files.begin(), files.end());
  for (const std::filesystem::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", file.filename().c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  return files.empty() ? 1 : 0;
}
