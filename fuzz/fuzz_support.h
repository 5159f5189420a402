// What the fuzz targets share. Each target defines LLVMFuzzerTestOneInput and is built with
// libFuzzer's main for `make fuzz`, or with replay_main.cpp to replay the committed corpus.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tapeloom::fuzz {

// Once per process: silences standard output (unless TAPELOOM_FUZZ_SHOW_OUTPUT is set), makes a
// fresh directory the working directory (removed at exit) and calls setup.
void PrepareProcess(void (*setup)() = nullptr);
void ClearWorkingDirectory();
void WriteFile(const std::string& name, std::string_view bytes);
// A canonical wave file (44-byte header), each sample a different value.
std::string CanonicalWave(int channels, int bits, std::uint32_t rate, std::uint32_t frames);
// The text with every '/' made '_', so that no name made from it leaves the working directory.
std::string Confined(std::string_view text);
// A broken promise of the code under test aborts, which the fuzzer keeps as a crash.
void Require(bool condition, const char* what);
inline bool IsFlag(int value) { return value == 0 || value == 1; }

}  // namespace tapeloom::fuzz
