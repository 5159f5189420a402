// Wave readers on any bytes agree, a settling head reads as the whole, an accepted file is mono 24-bit and whole.
#include <tuple>

#include "fuzz_support.h"

namespace tapeloom::fuzz {

// clang-format off
auto Fields(const WaveAttributes& a) {
  return std::tuple(a.channels, a.dataOffset, a.sampleRate, a.length, a.bytesPerSample, a.bitsPerSample);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PrepareProcess(); const std::span<const unsigned char> file(data, size); WaveAttributes whole, fromFile, part;
  const WaveCheck check = ReadWaveAttributes(file, size, whole); const bool usable = check == WaveCheck::kUsable;
  const std::uint64_t end = static_cast<std::uint64_t>(whole.dataOffset) + static_cast<std::uint64_t>(whole.length) * 3;
  Require(!usable || (whole.channels == 1 && whole.bitsPerSample == 24 && whole.bytesPerSample == 3 &&
                      whole.length >= 0 && (whole.length == 0 || end <= size)),
          "accepted a non-track, or a length past the end of the file");
  for (const std::size_t length : {std::min(kQuickHeadBytes, size), size / 2, size - std::min<std::size_t>(size, 7)}) {
    Require(!HeadSettlesSearch(file.first(length), size) ||
                (ReadWaveAttributes(file.first(length), size, part = {}) == check && Fields(part) == Fields(whole)),
            "a head that settles the search reads otherwise"); }
  WriteFile("input.wav", std::string_view(reinterpret_cast<const char*>(data), size));
  Require(GET_ATTRIBUTES("input.wav", fromFile) == (usable ? 1 : 0) && Fields(fromFile) == Fields(whole) &&
              GET_LENGTH("input.wav") == (usable ? whole.length : 0) &&
              ReadSampleRateQuietly("input.wav") == (usable ? std::optional(whole.sampleRate) : std::nullopt),
          "the file readers disagree with the memory reader"); return 0;
}
// clang-format on

}  // namespace tapeloom::fuzz
