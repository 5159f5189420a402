#include "takes/crossfade.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <span>
#include <tuple>
#include <vector>

#include "takes/file_steps.h"
#include "wave/file_creation.h"
#include "wave/sample_encoding.h"
#include "wave/wave_file.h"
#include "wave/wave_header.h"
#include "wave/wave_layout.h"

namespace tapeloom {
namespace {

constexpr std::uint64_t kFrameBytes = kBytesPerSample;  // mono
constexpr int kFadeBlockFrames = 4096;
constexpr double kQuarterTurn = 1.570796327;

// One file opened for the insertion or the crossfade, with its size and where its samples
// start.
struct OpenWave {
  FileDescriptor file;
  std::uint64_t size = 0;
  std::optional<std::uint64_t> dataOffset;  // nullopt: no data chunk
};

// Opens a file and finds its data chunk. A file that cannot be opened or read is printed and
// its failure returned.
FileStatus Open(const std::string& name, bool forUpdate, OpenWave& wave) {
  FileStatus status;
  wave.file = forUpdate ? OpenForUpdate(name, status) : OpenForReading(name, status);
  if (!Report(status)) return status;
  FileHead head;
  if (status = ReadWaveHead(wave.file, head); !Report(status)) return status;
  wave.size = head.size;
  if (const std::optional<std::uint32_t> tag = FindDataTag(head.bytes)) wave.dataOffset = *tag + 8u;
  return status;
}

// Reads frames [first, first + count) of a fade input whose whole frames from the fade's
// start are `available`; frames beyond them are silence.
FileStatus ReadFadeFrames(const OpenWave& wave, std::uint64_t start, std::uint64_t available, std::int64_t first,
                          int count, std::vector<unsigned char>& bytes, std::vector<std::int32_t>& samples) {
  const auto firstFrame = static_cast<std::uint64_t>(first);
  const std::uint64_t present = available > firstFrame ? std::min<std::uint64_t>(available - firstFrame, count) : 0;
  std::uint64_t got = 0;
  const FileStatus status = ReadAt(wave.file, start + firstFrame * kFrameBytes,
                                   std::span(bytes.data(), static_cast<std::size_t>(present * kFrameBytes)), got);
  if (!Report(status)) return status;
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(got), bytes.begin() + count * kBytesPerSample, 0);
  CHAR_TO_NUM32(bytes.data(), samples.data(), kBytesPerSample, count);
  return status;
}

}  // namespace

FileStatus INSERT_FILE(const std::string& destination, const std::string& source, std::int64_t position,
                       std::int64_t count) {
  if (position < 0) {
    std::printf("Can't insert into %s at sample %lli\n", destination.c_str(), static_cast<long long>(position));
    return FileStatus::Failed("insert into", destination, FileStatus::kOutsideSamples);
  }
  OpenWave to;
  OpenWave from;
  if (FileStatus opened = Open(destination, true, to); !opened.ok()) return opened;
  if (FileStatus opened = Open(source, false, from); !opened.ok()) return opened;
  if (!to.dataOffset || !from.dataOffset) EndForOwnFileWithoutData();

  const std::uint64_t sourceFrames = from.size > *from.dataOffset ? (from.size - *from.dataOffset) / kFrameBytes : 0;
  const std::uint64_t frames = std::min(sourceFrames, static_cast<std::uint64_t>(std::max<std::int64_t>(count, 0)));
  if (frames == 0) return FileStatus::Done();
  const std::uint64_t start = *to.dataOffset + static_cast<std::uint64_t>(position) * kFrameBytes;
  const std::uint64_t end = start + frames * kFrameBytes;

  FileStatus written = FileStatus::Done();
  if (start > to.size) written = WriteZeros(to.file, to.size, start - to.size);
  if (written.ok()) written = CopyBytes(from.file, *from.dataOffset, to.file, start, end - start);
  Report(written);
  if (FileStatus closed = to.file.Close(); !closed.ok() && written.ok()) {
    Report(closed);
    written = closed;
  }
  // Also after a failed write: the header then announces what did reach the file.
  if (end > to.size) {
    if (FileStatus fixed = FIX_SIZE(destination); !fixed.ok()) {
      if (fixed.error == FileStatus::kNoDataChunk) EndForOwnFileWithoutData();
      std::printf("Can't correct the header of %s: %s\n", destination.c_str(), fixed.Reason().c_str());
      if (written.ok()) written = fixed;
    }
  }
  return written;
}

namespace {

// A fade that the inputs do not allow (no data chunk, a start outside the samples) is left out
// with its message, and that seam is hard; one that failed on the way (a file that cannot be
// opened, read or written) fails the insertion.
bool LeftOut(const FileStatus& fade) {
  return fade.error == FileStatus::kNoDataChunk || fade.error == FileStatus::kOutsideSamples;
}

// Which of a fade's files a failure concerns: CROSSFADE's code (a and b may be one file).
enum FadeSide { kFadingOut = 1, kFadingIn = 2, kFadeOutput = 3 };

// Mixes length frames of a (from positionInA) and b (from positionInB) into out at outAt. Every
// failure is printed as it is met and returned, with its side.
FileStatus WriteFade(std::int64_t positionInA, std::int64_t positionInB, std::int64_t length, const std::string& a,
                     const std::string& b, const FileDescriptor& out, std::uint64_t outAt, FadeSide& side) {
  OpenWave fadingOut;
  OpenWave fadingIn;
  side = kFadingOut;
  if (FileStatus opened = Open(a, false, fadingOut); !opened.ok()) return opened;
  side = kFadingIn;
  if (FileStatus opened = Open(b, false, fadingIn); !opened.ok()) return opened;
  for (const auto& [wave, name, fault] :
       {std::tuple{&fadingOut, &a, kFadingOut}, std::tuple{&fadingIn, &b, kFadingIn}}) {
    if (!wave->dataOffset) {
      std::puts("Data block not found error");
      side = fault;
      return FileStatus::Failed("crossfade", *name, FileStatus::kNoDataChunk);
    }
  }

  // Only the start positions are checked; a fade that runs over a file's end reads silence.
  const auto startOf = [](const OpenWave& wave, std::int64_t frame) -> std::optional<std::uint64_t> {
    if (frame < 0) return std::nullopt;
    const std::uint64_t at = *wave.dataOffset + static_cast<std::uint64_t>(frame) * kFrameBytes;
    if (at > wave.size) return std::nullopt;
    return at;
  };
  const std::optional<std::uint64_t> startA = startOf(fadingOut, positionInA);
  if (!startA) {
    std::printf("Invalid crossfade for destination file at sample %li\n", static_cast<long>(positionInA));
    side = kFadingOut;
    return FileStatus::Failed("crossfade", a, FileStatus::kOutsideSamples);
  }
  const std::optional<std::uint64_t> startB = startOf(fadingIn, positionInB);
  if (!startB) {
    std::printf("Invalid crossfade for source file at sample %li\n", static_cast<long>(positionInB));
    side = kFadingIn;
    return FileStatus::Failed("crossfade", b, FileStatus::kOutsideSamples);
  }
  const std::uint64_t availableA = (fadingOut.size - *startA) / kFrameBytes;
  const std::uint64_t availableB = (fadingIn.size - *startB) / kFrameBytes;

  std::vector<unsigned char> bytesA(kFadeBlockFrames * kFrameBytes);
  std::vector<unsigned char> bytesB(kFadeBlockFrames * kFrameBytes);
  std::vector<unsigned char> bytesOut(kFadeBlockFrames * kFrameBytes);
  std::vector<std::int32_t> samplesA(kFadeBlockFrames);
  std::vector<std::int32_t> samplesB(kFadeBlockFrames);
  std::vector<std::int32_t> samplesOut(kFadeBlockFrames);
  const auto n = static_cast<double>(length);
  for (std::int64_t first = 0; first < length; first += kFadeBlockFrames) {
    const int count = static_cast<int>(std::min<std::int64_t>(length - first, kFadeBlockFrames));
    side = kFadingOut;
    if (FileStatus read = ReadFadeFrames(fadingOut, *startA, availableA, first, count, bytesA, samplesA); !read.ok()) {
      return read;
    }
    side = kFadingIn;
    if (FileStatus read = ReadFadeFrames(fadingIn, *startB, availableB, first, count, bytesB, samplesB); !read.ok()) {
      return read;
    }
    for (int k = 0; k < count; ++k) {
      const double theta = (static_cast<double>(first + k) / n) * kQuarterTurn;
      const double mixed = samplesA[k] * std::cos(theta) + samplesB[k] * std::sin(theta);
      // |mixed| < 2^24: the truncation is exact and cannot overflow; limited, not wrapped.
      const auto value = static_cast<std::int32_t>(std::trunc(mixed));
      samplesOut[k] = std::clamp(value, kSampleMin, kSampleMax);
    }
    NUM24MONO_TO_CHAR(samplesOut.data(), bytesOut.data(), count);
    const auto block =
        std::span<const unsigned char>(bytesOut.data(), static_cast<std::size_t>(count) * kBytesPerSample);
    side = kFadeOutput;
    if (FileStatus written = WriteAt(out, outAt, block); !Report(written)) return written;
    outAt += block.size();
  }
  return FileStatus::Done();
}

// One fade of an insertion, made into a temporary file of its own in the working directory.
// Neither made nor failed: there is no fade, or it was left out.
struct Fade {
  TemporaryFile file;
  FileStatus status;
  bool made = false;

  bool failed() const { return !status.ok() && !LeftOut(status); }
};

Fade MakeFade(std::string_view temporaryName, std::uint32_t sampleRate, std::int64_t positionInA,
              std::int64_t positionInB, std::int64_t length, const std::string& a, const std::string& b) {
  Fade fade;
  fade.file = TemporaryFile::Create({}, temporaryName, fade.status);
  if (!Report(fade.status)) return fade;
  if (fade.status = WriteWaveHeader(fade.file.file(), sampleRate, 24, length, 1); !Report(fade.status)) return fade;
  FadeSide side{};
  fade.status = WriteFade(positionInA, positionInB, length, a, b, fade.file.file(), kWaveHeaderBytes, side);
  fade.made = fade.status.ok();
  return fade;
}

FileStatus NotInserted(const FileStatus& failure, const std::string& take, const std::string& oldFile) {
  std::printf("%s was not inserted into %s; the take is kept\n", take.c_str(), oldFile.c_str());
  return failure;
}

}  // namespace

int CROSSFADE(std::int64_t positionInA, std::int64_t positionInB, std::int64_t length, const std::string& a,
              const std::string& b, const std::string& out) {
  OpenWave fadingOut;
  OpenWave fadingIn;
  OpenWave result;
  if (!Open(a, false, fadingOut).ok()) return 1;
  if (!Open(b, false, fadingIn).ok()) return 2;
  if (!Open(out, true, result).ok()) return 3;
  const OpenWave* waves[] = {&fadingOut, &fadingIn, &result};
  for (int code = 1; code <= 3; ++code) {
    if (!waves[code - 1]->dataOffset) {
      std::puts("Data block not found error");
      return code;
    }
  }
  if (FadeSide side{}; !WriteFade(positionInA, positionInB, length, a, b, result.file, result.size, side).ok()) {
    return side;
  }
  if (!Report(result.file.Close())) return 3;
  return 0;
}

FileStatus InsertTakeWithCrossfades(const std::string& oldFile, const std::string& take, std::int64_t recordStart,
                                    std::int64_t takeLength, std::int64_t crossfadeFrames, std::uint32_t sampleRate) {
  // Fades of a short take are halved so that they do not overlap: the fade-out would otherwise
  // overwrite part of the fade-in and leave a hard step where it begins.
  const std::int64_t fade =
      takeLength < 2 * crossfadeFrames ? takeLength / 2 : std::max<std::int64_t>(crossfadeFrames, 0);

  // Both fades come from the untouched files, the old audio where the take begins and ends,
  // and are made before the old file is touched: a fade that cannot be made leaves it as it
  // was.
  Fade fadeIn;
  Fade fadeOut;
  const std::int64_t fadeOutStart = takeLength - fade;
  if (fade > 0) {
    fadeIn = MakeFade("xfade_temp1.wav", sampleRate, recordStart, 0, fade, oldFile, take);
    if (fadeIn.failed()) return NotInserted(fadeIn.status, take, oldFile);
    fadeOut = MakeFade("xfade_temp2.wav", sampleRate, fadeOutStart, recordStart + fadeOutStart, fade, take, oldFile);
    if (fadeOut.failed()) return NotInserted(fadeOut.status, take, oldFile);
  }

  // The take goes in whole, then its ends are overwritten by the fades. The take file itself
  // is never changed, and it is kept unless every step reached the disk.
  FileStatus status = INSERT_FILE(oldFile, take, recordStart, takeLength);
  if (status.ok() && fadeIn.made) status = INSERT_FILE(oldFile, fadeIn.file.name(), recordStart, fade);
  if (status.ok() && fadeOut.made) {
    status = INSERT_FILE(oldFile, fadeOut.file.name(), recordStart + fadeOutStart, fade);
  }
  if (status.ok()) {
    status = SyncFile(oldFile);
    Report(status);
  }
  return status.ok() ? status : NotInserted(status, take, oldFile);
}

}  // namespace tapeloom
