#include "wave/wave_header.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

#include "wave/byte_order.h"
#include "wave/file_creation.h"
#include "wave/wave_file.h"
#include "wave/wave_layout.h"

namespace tapeloom {
namespace {

constexpr std::uint64_t kMaxField32 = std::numeric_limits<std::uint32_t>::max();

std::uint32_t Clamp32(std::uint64_t value) { return static_cast<std::uint32_t>(std::min(value, kMaxField32)); }

void PutTag(const char* tag, unsigned char* bytes) { std::memcpy(bytes, tag, 4); }

}  // namespace

WaveHeader ComposeWaveHeader(std::uint32_t sampleRate, int bits, std::int64_t frameCount, int channels) {
  // Frames beyond 2^32 are clamped first, so that the product cannot wrap around 64 bits.
  const std::uint64_t frames = std::clamp<std::int64_t>(frameCount, 0, std::int64_t{1} << 32);
  const std::uint64_t channelCount = static_cast<std::uint16_t>(channels);
  const std::uint64_t bytesPerSample = static_cast<std::uint16_t>(bits) / 8;
  const auto dataSize = static_cast<std::uint32_t>(std::min(channelCount * bytesPerSample * frames, kMaxField32 - 36));

  WaveHeader h{};
  PutTag("RIFF", &h[0]);
  Decon4(dataSize + 36, &h[4]);
  PutTag("WAVE", &h[8]);
  PutTag("fmt ", &h[12]);
  Decon4(16, &h[16]);
  Decon2(1, &h[20]);  // integer PCM
  Decon2(static_cast<std::uint16_t>(channels), &h[22]);
  Decon4(sampleRate, &h[24]);
  Decon4(Clamp32(channelCount * sampleRate * bytesPerSample), &h[28]);
  Decon2(static_cast<std::uint16_t>(channelCount * static_cast<std::uint16_t>(bits) / 8), &h[32]);
  Decon2(static_cast<std::uint16_t>(bits), &h[34]);
  PutTag("data", &h[36]);
  Decon4(dataSize, &h[40]);
  return h;
}

FileStatus MAKE_HEADER(const std::string& path, std::uint32_t sampleRate, int bits, std::int64_t frameCount,
                       int channels, Placement placement) {
  // The header is written into a temporary beside the name, which then takes the name whole:
  // a program killed at any moment leaves no empty or half-written file under it. Nothing is
  // flushed: the file's content is to come.
  const std::filesystem::path target(path);
  FileStatus status;
  TemporaryFile temp = TemporaryFile::Create(target.parent_path(), target.filename().string() + ".tmp", status);
  if (temp) status = WriteWaveHeader(temp.file(), sampleRate, bits, frameCount, channels);
  if (status.ok()) status = temp.Publish(path, placement, TemporaryFile::Flush::kNone);
  // The temporary's name means nothing to the caller.
  if (!status.ok() && status.target.empty()) status.file = path;
  return status;
}

std::int64_t LongestWaveFrames(int channels) {
  constexpr std::int64_t kLargestData = std::int64_t{UINT32_MAX} - 36;
  return channels < 1 ? 0 : kLargestData / (3 * std::int64_t{channels});
}

FileStatus WriteWaveHeader(const FileDescriptor& file, std::uint32_t sampleRate, int bits, std::int64_t frameCount,
                           int channels) {
  return WriteAt(file, 0, ComposeWaveHeader(sampleRate, bits, frameCount, channels));
}

FileStatus FIX_SIZE(const std::string& path) {
  FileStatus status;
  FileDescriptor file = OpenForUpdate(path, status);
  if (!file) return status;
  status = FixSize(file);
  if (FileStatus closed = file.Close(); status.ok()) status = closed;
  return status;
}

FileStatus FixSize(const FileDescriptor& file) {
  FileHead head;
  if (FileStatus status = ReadWaveHead(file, head); !status.ok()) return status;
  const std::optional<std::uint32_t> data = FindDataTag(head.bytes);
  if (!data) return FileStatus::Failed("correct the header of", file.name(), FileStatus::kNoDataChunk);

  // Writing the data size makes the file at least as long as the chunk header.
  const std::uint64_t fileSize = std::max<std::uint64_t>(head.size, *data + 8);
  unsigned char size[4];
  Decon4(Clamp32(fileSize - (*data + 8)), size);
  if (FileStatus status = WriteAt(file, *data + 4, size); !status.ok()) return status;
  Decon4(Clamp32(fileSize - 8), size);
  return WriteAt(file, 4, size);
}

}  // namespace tapeloom
