// Runs a fuzz target once over every file of the corpus directories (or files) given, in name
// order, so that the corpus is a regression test in every build. An empty corpus fails.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;  // absolute: the target works in a directory of its own
  for (int k = 1; k < argc; ++k) {
    const fs::path path = fs::absolute(argv[k]);
    if (!fs::is_directory(path)) files.push_back(path);
    for (const fs::directory_entry& entry :
         fs::is_directory(path) ? fs::directory_iterator(path) : fs::directory_iterator())
      if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", file.filename().c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::fprintf(stderr, "replay: %zu inputs ran\n", files.size());
  return files.empty() ? 1 : 0;
}
