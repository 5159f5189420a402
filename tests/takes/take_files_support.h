// Shared by the tests of the take file operations: a working directory of the test's own,
// wave files with given samples, the samples that come back, the console output of a call,
// and a file size limit that makes writes fail.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/program_end.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/wave_builder.h"

namespace tapeloom::test {

using Samples = std::vector<std::int32_t>;

// The operations work on names relative to the session directory, as the take menu calls them.
class InTempDir : public testing::Test {
 protected:
  // The names in the directory: no temporary may be left behind.
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  TempDir dir;
  WorkingDirectory inDir{dir.path()};
};

inline void WriteWave(const std::string& name, Samples samples) {
  WriteBytes(name, WaveBuilder().Samples(std::move(samples)).Build());
}

// The samples of a file with the canonical 44-byte header, whose two sizes must agree with
// the file.
inline Samples SamplesOf(const std::string& name) {
  const Bytes bytes = ReadBytes(name);
  if (bytes.size() < 44) {
    ADD_FAILURE() << name << " has no whole header";
    return {};
  }
  EXPECT_EQ(Field32(bytes, 4), bytes.size() - 8) << "RIFF size of " << name;
  EXPECT_EQ(Field32(bytes, 40), bytes.size() - 44) << "data size of " << name;
  return Unpack24(std::span(bytes).subspan(44));
}

// The samples as sox decodes them; sox must not complain about the file.
inline Samples SoxSamples(const std::string& name) {
  const CommandResult r = RunCommand({"sox", name, "-t", "s24", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "") << "sox on " << name;
  return Unpack24(Bytes(r.out.begin(), r.out.end()));
}

// What a call prints. A program end it causes is caught and its status kept in endStatus.
template <typename Call>
std::string Printed(Call&& call, std::optional<int>* endStatus = nullptr) {
  testing::internal::CaptureStdout();
  try {
    call();
  } catch (const ProgramEnd& end) {
    if (endStatus != nullptr) *endStatus = end.status();
  }
  return testing::internal::GetCapturedStdout();
}

// While it lives, no file of this process may grow beyond bytes: writes past it fail with
// "File too large" instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    ::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = SIG_DFL;
};

}  // namespace tapeloom::test
