#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace tapeloom::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tapeloom-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(std::string_view name, std::string_view content) const { WriteFileBytes(path_ / name, content); }

std::string TempDir::Read(std::string_view name) const { return ReadFileBytes(path_ / name); }

bool TempDir::Exists(std::string_view name) const { return std::filesystem::exists(path_ / name); }

WorkingDirectory::WorkingDirectory(const std::filesystem::path& path) : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(path);
}

WorkingDirectory::~WorkingDirectory() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, std::string_view content, std::ios::openmode mode) {
  std::ofstream out(path, std::ios::binary | mode);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out.good()) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace tapeloom::test
