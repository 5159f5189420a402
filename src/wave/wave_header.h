// The header Tapeloom writes on every wave file it creates, and the correction of the sizes in
// it after a file has been rewritten or extended.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "wave/file_creation.h"
#include "wave/wave_file.h"

namespace tapeloom {

inline constexpr std::size_t kWaveHeaderBytes = 44;
using WaveHeader = std::array<unsigned char, kWaveHeaderBytes>;

// The canonical 44-byte header: "RIFF", RIFF size, "WAVE", a 16-byte integer PCM format
// chunk, and the data chunk header, nothing between them, so the samples start at byte 44.
// Data size = channels × (bits ÷ 8) × frameCount and RIFF size = data size + 36. A negative
// frame count announces 0 frames; a data size beyond what the 32-bit fields hold is clamped
// so that the RIFF size still fits (files of 2 GiB and more are not supported in any case).
WaveHeader ComposeWaveHeader(std::uint32_t sampleRate, int bits, std::int64_t frameCount, int channels);

// Creates the file with the canonical header in it. Callers pass 24 bits, 1 channel for takes,
// temporary files and split exports, and 2 for the interleaved export; frameCount is the
// planned length, which the caller then appends. The file appears under its name with its
// whole header (it is made beside it and renamed). Nothing of that name is replaced (EEXIST
// when anything has it, a link included) unless the caller lets it (kReplace: the user asked
// for that file to go; a link is replaced, never written through).
//
// The file could not be created, or the header was not written whole (nothing is left then):
// the status says which. It prints nothing; the caller reports the failure.
[[nodiscard]] FileStatus MAKE_HEADER(const std::string& path, std::uint32_t sampleRate, int bits,
                                     std::int64_t frameCount, int channels,
                                     Placement placement = Placement::kKeepExisting);

// The most frames a 24-bit wave file of `channels` channels can hold: its data size and its
// RIFF size (the data size + 36 for the canonical header) must both fit in 32 bits. A mono
// take holds 1,431,655,753 frames, 8:17:06 at 48 kHz.
std::int64_t LongestWaveFrames(int channels);

// Writes the canonical header at the start of an open file, in one write: a take's header grows
// this way while it is recorded, its two sizes always agreeing.
[[nodiscard]] FileStatus WriteWaveHeader(const FileDescriptor& file, std::uint32_t sampleRate, int bits,
                                         std::int64_t frameCount, int channels);

// After a file has been rewritten or extended: sets the data size to the bytes that really
// follow the data chunk header, and the RIFF size at offset 4 to the file size - 8, so that
// the header agrees with the file for every reader. The data chunk is found by the readers'
// tag search. Sizes beyond 32 bits are clamped.
//
// The status says whether the file could be opened, read and written, or that it has no data
// tag (FileStatus::kNoDataChunk; the file is left as it was); the caller reports a failure.
[[nodiscard]] FileStatus FIX_SIZE(const std::string& path);
// The same on a file open for reading and writing.
[[nodiscard]] FileStatus FixSize(const FileDescriptor& file);

}  // namespace tapeloom
