#include "wave/wave_layout.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "wave/byte_order.h"

namespace tapeloom {
namespace {

std::optional<std::uint32_t> FindTag(std::span<const unsigned char> head, std::string_view tag) {
  for (std::size_t at = 2; at <= kLastTagOffset && at + tag.size() <= head.size(); at += 2) {
    if (std::memcmp(head.data() + at, tag.data(), tag.size()) == 0) return static_cast<std::uint32_t>(at);
  }
  return std::nullopt;
}

// A little-endian field of width bytes at offset; bytes past the end of head count as 0.
std::uint32_t Field(std::span<const unsigned char> head, std::size_t offset, std::size_t width) {
  unsigned char bytes[4] = {};
  for (std::size_t i = 0; i < width && offset + i < head.size(); ++i) bytes[i] = head[offset + i];
  return width == 2 ? Assem2(bytes) : Assem4(bytes);
}

}  // namespace

bool HeadSettlesSearch(std::span<const unsigned char> head, std::uint64_t fileSize) {
  if (head.size() >= fileSize || head.size() >= kWaveHeadBytes) return true;
  const std::optional<std::uint32_t> format = FindFormatTag(head);
  const std::optional<std::uint32_t> data = FindDataTag(head);
  return format && data && *format + 24u <= head.size() && *data + 8u <= head.size();
}

std::optional<std::uint32_t> FindFormatTag(std::span<const unsigned char> head) { return FindTag(head, "fmt"); }

std::optional<std::uint32_t> FindDataTag(std::span<const unsigned char> head) { return FindTag(head, "data"); }

WaveCheck ReadWaveAttributes(std::span<const unsigned char> head, std::uint64_t fileSize, WaveAttributes& out) {
  const std::optional<std::uint32_t> format = FindFormatTag(head);
  if (!format) return WaveCheck::kNoFormatChunk;
  out.channels = static_cast<std::int32_t>(Field(head, *format + 10, 2));
  if (out.channels != 1) return WaveCheck::kNotMono;
  out.bitsPerSample = static_cast<std::int32_t>(Field(head, *format + 22, 2));
  if (out.bitsPerSample != 24) return WaveCheck::kNot24Bit;
  out.bytesPerSample = 3;
  // Kept for the caller; a file at another rate than the session's is not refused here.
  out.sampleRate = Field(head, *format + 12, 4);

  const std::optional<std::uint32_t> data = FindDataTag(head);
  if (!data) return WaveCheck::kNoDataChunk;
  const std::uint32_t dataOffset = *data + 8;
  out.dataOffset = static_cast<std::int32_t>(dataOffset);
  const std::uint32_t frameBytes = 3;  // one channel of 3 bytes
  const std::uint64_t announced = Field(head, *data + 4, 4) / frameBytes;
  const std::uint64_t present = fileSize > dataOffset ? (fileSize - dataOffset) / frameBytes : 0;
  // At most 0xFFFFFFFF / 3 frames: always a valid SamplePosition.
  out.length = static_cast<SamplePosition>(std::min(announced, present));
  return WaveCheck::kUsable;
}

}  // namespace tapeloom
