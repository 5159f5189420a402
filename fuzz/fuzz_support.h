// What the fuzz targets share. Each defines LLVMFuzzerTestOneInput, linked with libFuzzer or replay_main.cpp.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/play_rec.h"
#include "app/settings_file.h"
#include "app/startup.h"
#include "support/typed_input.h"
#include "wave/wave_header.h"
#include "wave/wave_readers.h"

namespace tapeloom::fuzz {

// A broken promise of the code under test aborts, which the fuzzer keeps as a crash.
inline void Require(bool condition, const char* what) {
  if (!condition) std::fprintf(stderr, "fuzz check failed: %s\n", what), std::abort();
}

// Once: silences stdout (unless TAPELOOM_FUZZ_SHOW_OUTPUT), works in a fresh directory removed at exit, calls setup.
inline void PrepareProcess(void (*setup)() = nullptr) {
  static std::filesystem::path scratch;
  if (!scratch.empty()) return;
  if (std::getenv("TAPELOOM_FUZZ_SHOW_OUTPUT") == nullptr)
    Require(std::freopen("/dev/null", "w", stdout) != nullptr, "cannot silence standard output");
  std::string pattern = (std::filesystem::temp_directory_path() / "tapeloom-fuzz-XXXXXX").string();
  Require(mkdtemp(pattern.data()) != nullptr, "cannot make a scratch directory");
  std::filesystem::current_path(scratch = pattern);
  std::atexit([] { std::filesystem::remove_all(scratch); });
  if (setup != nullptr) setup();
}

inline void WriteFile(const std::string& name, std::string_view bytes) {
  Require(std::ofstream(name, std::ios::binary).write(bytes.data(), std::ssize(bytes)).good(), "cannot write a file");
}

// A canonical wave file whose sample bytes run through 0..250 over and over.
inline std::string CanonicalWave(int channels, int bits, std::uint32_t rate, std::uint32_t frames) {
  const WaveHeader header = ComposeWaveHeader(rate, bits, frames, channels);
  std::string file(header.begin(), header.end());
  while (file.size() < header.size() + frames * channels * bits / 8) file += static_cast<char>(file.size() % 251);
  return file;
}

inline SessionSettings ReadAsAtStart(std::string_view text) {
  SessionSettings s;
  GET_PARAMS(text, s);
  ResolveChannelCounts(s);
  return s;
}

}  // namespace tapeloom::fuzz
