// What the fuzz targets share: a scratch working directory of their own, silence on standard
// output (the code under test talks to the console all the time, and writing it would only
// slow the fuzzer down), the checks that turn a broken promise into a crash the fuzzer
// records, and a reader that cuts an input into the parts a target needs.
//
// Every target is built twice: with libFuzzer's main for `make fuzz`, and with replay_main.cpp
// into a program that runs the committed corpus in every normal build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tapeloom::fuzz {

// Once per process: standard output goes to /dev/null (unless TAPELOOM_FUZZ_SHOW_OUTPUT is
// set, for looking into a finding), and a fresh directory under the
// system's temporary directory becomes the working directory. The directory is removed with
// everything in it when the process ends normally.
void PrepareProcess();

// Removes everything in the working directory, so that each input starts from the same files.
void ClearWorkingDirectory();

// Writes a file in the working directory, replacing it.
void WriteFile(const std::string& name, std::span<const unsigned char> bytes);
void WriteFile(const std::string& name, std::string_view text);

// A canonical wave file (44-byte header) of frames frames, each sample a different value.
std::vector<unsigned char> CanonicalWave(int channels, int bits, std::uint32_t rate, std::uint32_t frames);

// Text from the input with every '/' turned into '_': names made from it can only reach the
// working directory, never a file elsewhere.
std::string Confined(std::string_view text);

// Aborts, with the message on standard error, when a promise of the code under test is broken:
// the fuzzer keeps the input as a crash.
void Require(bool condition, const char* what);

// Takes an input apart from its start: single bytes, then parts that end at a separator byte.
// Past the end every byte reads as 0 and every part as empty, so any input is a valid one.
class InputParts {
 public:
  InputParts(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

  std::uint8_t Byte();
  // The bytes up to the next separator (which is consumed), or up to the end.
  std::string_view Part(char separator);
  // Everything not taken yet.
  std::span<const unsigned char> Rest();

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

}  // namespace tapeloom::fuzz
