#include "support/wave_builder.h"

#include <stdexcept>
#include <string_view>
#include <utility>

#include "support/temp_dir.h"

namespace tapeloom::test {
namespace {

void Put(Bytes& out, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// Byte by byte: GCC 12 at -O3 takes a range insert here for an overflow (-Wstringop-overflow).
void PutText(Bytes& out, std::string_view text) {
  for (const char c : text) out.push_back(static_cast<unsigned char>(c));
}

template <typename Chunk>
void PutChunks(Bytes& out, const std::vector<Chunk>& chunks) {
  for (const Chunk& chunk : chunks) {
    PutText(out, chunk.tag);
    Put(out, chunk.content.size(), 4);
    PutText(out, chunk.content);
    if (chunk.pad && chunk.content.size() % 2 == 1) out.push_back(0);
  }
}

}  // namespace

// clang-format off
WaveBuilder& WaveBuilder::Channels(int channels) { channels_ = channels; return *this; }
WaveBuilder& WaveBuilder::Bits(int bits) { bits_ = bits; return *this; }
WaveBuilder& WaveBuilder::SampleRate(std::uint32_t rate) { rate_ = rate; return *this; }
WaveBuilder& WaveBuilder::WithoutFormatChunk() { formatChunk_ = false; return *this; }
WaveBuilder& WaveBuilder::WithoutDataChunk() { dataChunk_ = false; return *this; }
WaveBuilder& WaveBuilder::Samples(std::vector<std::int32_t> interleaved) { samples_ = std::move(interleaved); return *this; }
WaveBuilder& WaveBuilder::DataSize(std::uint32_t bytes) { dataSize_ = bytes; return *this; }
WaveBuilder& WaveBuilder::RiffSize(std::uint32_t bytes) { riffSize_ = bytes; return *this; }
WaveBuilder& WaveBuilder::Trailing(std::string_view bytes) { trailing_ = bytes; return *this; }
// clang-format on

WaveBuilder& WaveBuilder::ChunkBeforeFormat(std::string_view tag, std::string_view content, bool pad) {
  beforeFormat_.push_back({std::string(tag), std::string(content), pad});
  return *this;
}

WaveBuilder& WaveBuilder::ChunkBeforeData(std::string_view tag, std::string_view content, bool pad) {
  beforeData_.push_back({std::string(tag), std::string(content), pad});
  return *this;
}

Bytes WaveBuilder::Build(std::size_t* dataOffset) const {
  const int sampleBytes = bits_ / 8;
  Bytes out;
  PutText(out, "RIFF");
  Put(out, 0, 4);  // set at the end
  PutText(out, "WAVE");
  PutChunks(out, beforeFormat_);
  if (formatChunk_) {
    PutText(out, "fmt ");
    Put(out, 16, 4);
    Put(out, 1, 2);
    Put(out, static_cast<std::uint16_t>(channels_), 2);
    Put(out, rate_, 4);
    Put(out, std::uint64_t{rate_} * static_cast<std::uint32_t>(channels_ * sampleBytes), 4);
    Put(out, static_cast<std::uint16_t>(channels_ * sampleBytes), 2);
    Put(out, static_cast<std::uint16_t>(bits_), 2);
  }
  PutChunks(out, beforeData_);
  if (dataChunk_) {
    PutText(out, "data");
    Put(out, dataSize_.value_or(static_cast<std::uint32_t>(samples_.size() * sampleBytes)), 4);
    if (dataOffset != nullptr) *dataOffset = out.size();
    for (const std::int32_t sample : samples_) Put(out, static_cast<std::uint32_t>(sample), sampleBytes);
  }
  PutText(out, trailing_);
  const std::uint32_t riff = riffSize_.value_or(static_cast<std::uint32_t>(out.size() - 8));
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<unsigned char>(riff >> (8 * i));
  return out;
}

std::int32_t PositionCode(std::int64_t frame, int channel) {
  const std::uint32_t code = (static_cast<std::uint32_t>(frame) << 8 | static_cast<std::uint8_t>(channel)) & 0xFFFFFF;
  return static_cast<std::int32_t>(code) - (code & 0x800000 ? 0x1000000 : 0);
}

std::vector<std::int32_t> PositionCoded(std::int64_t frames, int channels) {
  std::vector<std::int32_t> samples;
  for (std::int64_t f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) samples.push_back(PositionCode(f, c));
  }
  return samples;
}

Bytes Pack24(std::span<const std::int32_t> samples) {
  Bytes out;
  for (const std::int32_t sample : samples) Put(out, static_cast<std::uint32_t>(sample), 3);
  return out;
}

std::vector<std::int32_t> Unpack24(std::span<const unsigned char> bytes) {
  std::vector<std::int32_t> samples;
  for (std::size_t at = 0; at + 3 <= bytes.size(); at += 3) {
    const std::uint32_t raw = bytes[at] | bytes[at + 1] << 8 | static_cast<std::uint32_t>(bytes[at + 2]) << 16;
    samples.push_back(static_cast<std::int32_t>(raw) - (raw & 0x800000 ? 0x1000000 : 0));
  }
  return samples;
}

std::uint32_t Field16(std::span<const unsigned char> bytes, std::size_t offset) {
  if (offset + 2 > bytes.size()) throw std::out_of_range("field past the end of the file");
  return bytes[offset] | static_cast<std::uint32_t>(bytes[offset + 1]) << 8;
}

std::uint32_t Field32(std::span<const unsigned char> bytes, std::size_t offset) {
  return Field16(bytes, offset) | Field16(bytes, offset + 2) << 16;
}

void WriteBytes(const std::filesystem::path& path, std::span<const unsigned char> bytes) {
  WriteFileBytes(path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

void AppendBytes(const std::filesystem::path& path, std::span<const unsigned char> bytes) {
  WriteFileBytes(path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()}, std::ios::app);
}

Bytes ReadBytes(const std::filesystem::path& path) {
  const std::string text = ReadFileBytes(path);
  return Bytes(text.begin(), text.end());
}

}  // namespace tapeloom::test
