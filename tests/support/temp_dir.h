// A directory under the system's temporary directory, removed with everything in it.
#pragma once

#include <filesystem>
#include <ios>
#include <string>
#include <string_view>

namespace tapeloom::test {

// Reads a whole file; fails the test when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);
// Writes a whole file, or appends to it with std::ios::app.
void WriteFileBytes(const std::filesystem::path& path, std::string_view content,
                    std::ios::openmode mode = std::ios::trunc);

class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

  void Write(std::string_view name, std::string_view content) const { WriteFileBytes(path_ / name, content); }
  std::string Read(std::string_view name) const { return ReadFileBytes(path_ / name); }
  bool Exists(std::string_view name) const { return std::filesystem::exists(path_ / name); }

 private:
  std::filesystem::path path_;
};

// Makes a directory the working directory while it lives.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& path);
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;
  ~WorkingDirectory();

 private:
  std::filesystem::path previous_;
};

}  // namespace tapeloom::test
