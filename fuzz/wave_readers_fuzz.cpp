// The wave readers on any bytes. They must agree with each other, a head that claims to settle
// the tag search must give the whole search's answer (the file readers read only 4 KiB of most
// files), and every frame an accepted file announces must be there and decode.
#include <optional>
#include <span>

#include "fuzz_support.h"
#include "wave/sample_encoding.h"
#include "wave/wave_file.h"
#include "wave/wave_layout.h"
#include "wave/wave_readers.h"

namespace tapeloom::fuzz {

constexpr const char* kFileName = "input.wav";
constexpr std::uint64_t kReadFrames = 4096;

bool SameAttributes(const WaveAttributes& a, const WaveAttributes& b) {
  return a.channels == b.channels && a.dataOffset == b.dataOffset && a.sampleRate == b.sampleRate &&
         a.length == b.length && a.bytesPerSample == b.bytesPerSample && a.bitsPerSample == b.bitsPerSample;
}

// Reads every announced frame through the file layer, a block at a time as a run reads a track.
void ReadAnnouncedSamples(std::span<const unsigned char> file, const WaveAttributes& attributes) {
  FileStatus status;
  const FileDescriptor descriptor = OpenForReading(kFileName, status);
  Require(status.ok() && static_cast<bool>(descriptor), "an accepted file does not open");
  std::vector<unsigned char> bytes(kReadFrames * kBytesPerSample);
  std::vector<std::int32_t> samples(kReadFrames);
  const auto total = static_cast<std::uint64_t>(attributes.length);
  for (std::uint64_t frame = 0; frame < total; frame += kReadFrames) {
    const std::uint64_t frames = std::min(kReadFrames, total - frame), want = frames * kBytesPerSample;
    const std::uint64_t offset = static_cast<std::uint64_t>(attributes.dataOffset) + frame * kBytesPerSample;
    std::uint64_t got = 0;
    Require(ReadAt(descriptor, offset, std::span(bytes.data(), want), got).ok() && got == want,
            "an announced frame cannot be read");
    CHAR_TO_NUM32(bytes.data(), samples.data(), kBytesPerSample, static_cast<int>(frames));
    for (std::uint64_t k = 0; k < frames; ++k) {
      const unsigned char* p = file.data() + offset + k * kBytesPerSample;
      Require(samples[k] == ((p[0] | p[1] << 8 | p[2] << 16) ^ 0x800000) - 0x800000,
              "a sample reads or decodes wrongly");
    }
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PrepareProcess();
  const std::span<const unsigned char> file(data, size);
  WaveAttributes whole;
  const WaveCheck check = ReadWaveAttributes(file, size, whole);
  const bool usable = check == WaveCheck::kUsable;
  const std::uint64_t end = static_cast<std::uint64_t>(whole.dataOffset) + static_cast<std::uint64_t>(whole.length) * 3;
  Require(!usable || (whole.channels == 1 && whole.bitsPerSample == 24 && whole.bytesPerSample == 3 &&
                      whole.length >= 0 && (whole.length == 0 || end <= size)),
          "accepted a non-track, or a length past the end of the file");
  for (const std::size_t length : {kQuickHeadBytes, size / 2, size - std::min<std::size_t>(size, 7)}) {
    const std::span<const unsigned char> head = file.first(std::min(length, size));
    WaveAttributes part;
    Require(!HeadSettlesSearch(head, size) ||
                (ReadWaveAttributes(head, size, part) == check && SameAttributes(part, whole)),
            "a head that settles the search reads otherwise");
  }

  WriteFile(kFileName, std::string_view(reinterpret_cast<const char*>(data), size));
  WaveAttributes fromFile;
  const int accepted = GET_ATTRIBUTES(kFileName, fromFile);
  Require(accepted == (usable ? 1 : 0) && SameAttributes(fromFile, whole), "the file and memory readers disagree");
  Require(GET_LENGTH(kFileName) == (usable ? whole.length : 0), "the length reader disagrees");
  Require(ReadSampleRateQuietly(kFileName) == (usable ? std::optional(whole.sampleRate) : std::nullopt),
          "the quiet rate reader disagrees");
  if (usable) ReadAnnouncedSamples(file, whole);
  return 0;
}

}  // namespace tapeloom::fuzz
