// Runs a fuzz target over every file of the corpus directories (or files) it is given, once
// each, in name order: the corpus as a regression test in every build, without libFuzzer. A
// crash, a sanitizer report or a failed check of the target fails the run; so does an empty
// corpus, which would test nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> CorpusFiles(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int k = 1; k < argc; ++k) {
    const fs::path path = fs::absolute(argv[k]);
    if (fs::is_directory(path)) {
      for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else {
      files.push_back(path);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
  // The paths are made absolute first: the target works in a directory of its own.
  const std::vector<fs::path> files = CorpusFiles(argc, argv);
  if (files.empty()) {
    std::fprintf(stderr, "replay: no corpus files given\n");
    return 1;
  }
  for (const fs::path& file : files) {
    const std::vector<std::uint8_t> bytes = ReadAll(file);
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", file.filename().c_str(), bytes.size());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::fprintf(stderr, "replay: %zu inputs ran\n", files.size());
  return 0;
}
