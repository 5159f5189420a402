// Wave files built in memory, canonical or odd (extra chunks, sizes that lie, partial frames, missing chunks),
// packed independently of src/wave so that tests of the readers do not check the code against itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tapeloom::test {

using Bytes = std::vector<unsigned char>;
using Samples = std::vector<std::int32_t>;

class WaveBuilder {
 public:
  WaveBuilder& Channels(int channels);          // default 1
  WaveBuilder& Bits(int bits);                  // default 24; samples take bits / 8 bytes
  WaveBuilder& SampleRate(std::uint32_t rate);  // default 48000
  WaveBuilder& WithoutFormatChunk();
  WaveBuilder& WithoutDataChunk();  // also leaves the samples out
  // An extra chunk. An odd-sized one is followed by a pad byte, as RIFF asks, unless pad is false.
  WaveBuilder& ChunkBeforeFormat(std::string_view tag, std::string_view content, bool pad = true);
  WaveBuilder& ChunkBeforeData(std::string_view tag, std::string_view content, bool pad = true);
  // Channels interleaved; each sample is written as its low bits / 8 bytes.
  WaveBuilder& Samples(std::vector<std::int32_t> interleaved);
  WaveBuilder& DataSize(std::uint32_t bytes);     // announced instead of the sample bytes' count
  WaveBuilder& RiffSize(std::uint32_t bytes);     // instead of the file size - 8
  WaveBuilder& Trailing(std::string_view bytes);  // raw bytes after the samples

  // The file; dataOffset, when given, receives where the first sample stands.
  Bytes Build(std::size_t* dataOffset = nullptr) const;

 private:
  struct Chunk {
    std::string tag;
    std::string content;
    bool pad;
  };

  int channels_ = 1;
  int bits_ = 24;
  std::uint32_t rate_ = 48000;
  bool formatChunk_ = true;
  bool dataChunk_ = true;
  std::vector<Chunk> beforeFormat_;
  std::vector<Chunk> beforeData_;
  std::vector<std::int32_t> samples_;
  std::optional<std::uint32_t> dataSize_;
  std::optional<std::uint32_t> riffSize_;
  std::string trailing_;
};

// A sample that tells its frame and channel apart: bits 8-23 hold the frame (mod 65536) and bits 0-7 the channel,
// sign-extended from bit 23, so frames from 32768 on are negative.
std::int32_t PositionCode(std::int64_t frame, int channel);

// frames × channels position-coded samples, channels interleaved.
std::vector<std::int32_t> PositionCoded(std::int64_t frames, int channels = 1);

// 24-bit packing and unpacking by shifts, independent of src/wave.
Bytes Pack24(std::span<const std::int32_t> samples);
std::vector<std::int32_t> Unpack24(std::span<const unsigned char> bytes);

// The 16- and 32-bit little-endian fields at offset.
std::uint32_t Field16(std::span<const unsigned char> bytes, std::size_t offset);
std::uint32_t Field32(std::span<const unsigned char> bytes, std::size_t offset);

void WriteBytes(const std::filesystem::path& path, std::span<const unsigned char> bytes);
void AppendBytes(const std::filesystem::path& path, std::span<const unsigned char> bytes);
Bytes ReadBytes(const std::filesystem::path& path);

}  // namespace tapeloom::test
