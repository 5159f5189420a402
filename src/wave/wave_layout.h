// What the wave readers learn from a file's bytes: the chunk-tag search and the attribute
// fields. Pure functions over memory; the file-backed readers (wave_readers.h) and the size
// correction (wave_header.h) feed them the head of a file.
//
// The readers do not walk the chunk list. They look for a tag at every even offset from 2 up
// to and including kLastTagOffset, and the first match wins: a chunk anywhere in the first
// 128 KiB at an even offset is found, and so is the same text inside an earlier chunk. The
// format tag is matched on "fmt" alone (the blank is not compared), the data tag on "data".
// A tag must lie wholly inside the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/sample_position.h"

namespace tapeloom {

inline constexpr std::uint32_t kLastTagOffset = 131072;

// The bytes that any reader looks at: the search region and, for a format tag found at its
// very end, the fields up to bits per sample (tag + 22, 2 bytes).
inline constexpr std::size_t kWaveHeadBytes = kLastTagOffset + 24;

// Most files carry both tags within their first bytes, and every run checks every track, so the
// readers first read this much and fall back to the whole search region only when the search
// is not settled by it.
inline constexpr std::size_t kQuickHeadBytes = 4096;

// True when a search over the whole region cannot differ from one over this head: the head is
// the whole file, or both tags were found in it with the fields after them. Tags found in a
// shorter head are the first matches of the whole region too.
bool HeadSettlesSearch(std::span<const unsigned char> head, std::uint64_t fileSize);

// The offset of the tag, or nullopt. head is the start of the file.
std::optional<std::uint32_t> FindFormatTag(std::span<const unsigned char> head);
std::optional<std::uint32_t> FindDataTag(std::span<const unsigned char> head);

// The attributes of one track or take file.
struct WaveAttributes {
  std::int32_t channels = 0;    // from the format chunk; 1 for an accepted file
  std::int32_t dataOffset = 0;  // byte offset of the first sample
  std::uint32_t sampleRate = 0;
  SamplePosition length = 0;        // frames: the smaller of what the header says and what is there
  std::int32_t bytesPerSample = 0;  // 3 for an accepted file
  std::int32_t bitsPerSample = 0;   // 24 for an accepted file
};

// The checks the readers make, in the order they make them; the first that fails decides.
enum class WaveCheck { kUsable, kNoFormatChunk, kNotMono, kNot24Bit, kNoDataChunk };

// Reads a file's attributes from its first min(fileSize, kWaveHeadBytes) bytes. Fields are
// filled in as the checks reach them, so a refused file leaves the later ones untouched.
// Header bytes that lie beyond the end of the file read as 0.
//
// The length never trusts the data size alone: take headers announce the planned length
// before any sample is written, and files get cut short outside Tapeloom. It is the smaller
// of the announced frames and the whole frames present after the data chunk header; a
// trailing partial frame does not count.
WaveCheck ReadWaveAttributes(std::span<const unsigned char> head, std::uint64_t fileSize, WaveAttributes& out);

}  // namespace tapeloom
