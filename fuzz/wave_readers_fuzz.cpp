// The wave readers on any bytes: the attribute reader from memory and from a file, the length
// reader, and a whole read of the samples that an accepted file announces. Besides crashes and
// undefined behaviour it checks what the readers promise each other: the file readers agree
// with the reader over memory, a head that settles the tag search gives what the whole search
// region gives, and every announced frame is there to be read.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "wave/sample_encoding.h"
#include "wave/wave_file.h"
#include "wave/wave_layout.h"
#include "wave/wave_readers.h"

namespace tapeloom::fuzz {
namespace {

constexpr const char* kFileName = "input.wav";
constexpr std::size_t kReadFrames = 4096;

bool SameAttributes(const WaveAttributes& a, const WaveAttributes& b) {
  return a.channels == b.channels && a.dataOffset == b.dataOffset && a.sampleRate == b.sampleRate &&
         a.length == b.length && a.bytesPerSample == b.bytesPerSample && a.bitsPerSample == b.bitsPerSample;
}

// A head shorter than the file gives the whole region's answer whenever it claims to settle
// the search: the file readers rely on that to read only 4 KiB of most files.
void CheckShorterHeads(std::span<const unsigned char> file, WaveCheck check, const WaveAttributes& whole) {
  const std::size_t lengths[] = {kQuickHeadBytes, file.size() / 2, file.size() - std::min<std::size_t>(file.size(), 7)};
  for (const std::size_t length : lengths) {
    const std::span<const unsigned char> head = file.first(std::min(length, file.size()));
    if (!HeadSettlesSearch(head, file.size())) continue;
    WaveAttributes part;
    Require(ReadWaveAttributes(head, file.size(), part) == check, "a settled head reaches another verdict");
    Require(SameAttributes(part, whole), "a settled head reads other attributes");
  }
}

// Reads every announced frame through the file layer, block by block, as a run reads a track,
// and compares it with the input's bytes.
void ReadAnnouncedSamples(std::span<const unsigned char> file, const WaveAttributes& attributes) {
  FileStatus status;
  const FileDescriptor descriptor = OpenForReading(kFileName, status);
  Require(status.ok() && static_cast<bool>(descriptor), "an accepted file does not open");
  std::vector<unsigned char> bytes(kReadFrames * kBytesPerSample);
  std::vector<std::int32_t> samples(kReadFrames);
  const auto total = static_cast<std::uint64_t>(attributes.length);
  for (std::uint64_t frame = 0; frame < total; frame += kReadFrames) {
    const std::uint64_t frames = std::min<std::uint64_t>(kReadFrames, total - frame);
    const std::uint64_t offset = static_cast<std::uint64_t>(attributes.dataOffset) + frame * kBytesPerSample;
    std::uint64_t got = 0;
    Require(ReadAt(descriptor, offset, std::span(bytes.data(), frames * kBytesPerSample), got).ok(),
            "an announced frame cannot be read");
    Require(got == frames * kBytesPerSample, "fewer frames than announced");
    Require(offset + got <= file.size(), "frames read beyond the end of the file");
    Require(std::memcmp(bytes.data(), file.data() + offset, got) == 0, "the samples read differ from the file");
    CHAR_TO_NUM32(bytes.data(), samples.data(), kBytesPerSample, static_cast<int>(frames));
    for (std::uint64_t k = 0; k < frames; ++k) {
      const unsigned char* packed = file.data() + offset + k * kBytesPerSample;
      const std::uint32_t raw = static_cast<std::uint32_t>(packed[0] | packed[1] << 8 | packed[2] << 16);
      const std::int32_t expected = static_cast<std::int32_t>(raw) - (raw >= 0x800000 ? 0x1000000 : 0);
      Require(samples[k] == expected, "a sample decodes wrongly");
    }
  }
}

}  // namespace
}  // namespace tapeloom::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tapeloom;
  using namespace tapeloom::fuzz;
  static const bool prepared = (PrepareProcess(), true);
  (void)prepared;

  const std::span<const unsigned char> file(data, size);
  WaveAttributes whole;
  const WaveCheck check = ReadWaveAttributes(file, size, whole);
  if (check == WaveCheck::kUsable) {
    Require(whole.channels == 1 && whole.bitsPerSample == 24 && whole.bytesPerSample == 3, "accepted a non-track");
    Require(whole.length >= 0, "a negative length");
    Require(whole.length == 0 ||
                static_cast<std::uint64_t>(whole.dataOffset) + static_cast<std::uint64_t>(whole.length) * 3 <= size,
            "the length runs past the end of the file");
  }
  CheckShorterHeads(file, check, whole);

  WriteFile(kFileName, file);
  WaveAttributes fromFile;
  const int accepted = GET_ATTRIBUTES(kFileName, fromFile);
  Require(accepted == (check == WaveCheck::kUsable ? 1 : 0), "the file reader and the memory reader disagree");
  Require(SameAttributes(fromFile, whole), "the file reader reads other attributes");
  Require(GET_LENGTH(kFileName) == (accepted == 1 ? whole.length : 0), "the length reader disagrees");
  const std::optional<std::uint32_t> rate = ReadSampleRateQuietly(kFileName);
  Require(rate == (accepted == 1 ? std::optional(whole.sampleRate) : std::nullopt), "the quiet rate reader disagrees");
  if (accepted == 1) ReadAnnouncedSamples(file, whole);
  return 0;
}
