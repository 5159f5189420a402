#include "takes/crossfade.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <span>
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

// Opens a file and finds its data chunk. Prints and returns false when it cannot be opened or
// read.
bool Open(const std::string& name, bool forUpdate, OpenWave& wave) {
  FileStatus status;
  wave.file = forUpdate ? OpenForUpdate(name, status) : OpenForReading(name, status);
  if (!Report(status)) return false;
  FileHead head;
  if (!Report(ReadWaveHead(wave.file, head))) return false;
  wave.size = head.size;
  if (const std::optional<std::uint32_t> tag = FindDataTag(head.bytes)) wave.dataOffset = *tag + 8u;
  return true;
}

// Reads frames [first, first + count) of a fade input whose whole frames from the fade's
// start are `available`; frames beyond them are silence.
bool ReadFadeFrames(const OpenWave& wave, std::uint64_t start, std::uint64_t available, std::int64_t first, int count,
                    std::vector<unsigned char>& bytes, std::vector<std::int32_t>& samples) {
  const auto firstFrame = static_cast<std::uint64_t>(first);
  const std::uint64_t present = available > firstFrame ? std::min<std::uint64_t>(available - firstFrame, count) : 0;
  std::uint64_t got = 0;
  if (!Report(ReadAt(wave.file, start + firstFrame * kFrameBytes,
                     std::span(bytes.data(), static_cast<std::size_t>(present * kFrameBytes)), got))) {
    return false;
  }
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(got), bytes.begin() + count * kBytesPerSample, 0);
  CHAR_TO_NUM32(bytes.data(), samples.data(), kBytesPerSample, count);
  return true;
}

}  // namespace

bool INSERT_FILE(const std::string& destination, const std::string& source, std::int64_t position, std::int64_t count) {
  if (position < 0) {
    std::printf("Can't insert into %s at sample %lli\n", destination.c_str(), static_cast<long long>(position));
    return false;
  }
  OpenWave to;
  OpenWave from;
  if (!Open(destination, true, to) || !Open(source, false, from)) return false;
  if (!to.dataOffset || !from.dataOffset) EndForOwnFileWithoutData();

  const std::uint64_t sourceFrames = from.size > *from.dataOffset ? (from.size - *from.dataOffset) / kFrameBytes : 0;
  const std::uint64_t frames = std::min(sourceFrames, static_cast<std::uint64_t>(std::max<std::int64_t>(count, 0)));
  if (frames == 0) return true;
  const std::uint64_t start = *to.dataOffset + static_cast<std::uint64_t>(position) * kFrameBytes;
  const std::uint64_t end = start + frames * kFrameBytes;

  bool written = true;
  if (start > to.size) {
    written = Report(WriteZeros(to.file, to.size, start - to.size));
  }
  if (written) written = Report(CopyBytes(from.file, *from.dataOffset, to.file, start, end - start));
  if (FileStatus closed = to.file.Close(); !closed.ok() && written) written = Report(closed);
  // Also after a failed write: the header then announces what did reach the file.
  if (end > to.size) {
    if (FileStatus fixed = FIX_SIZE(destination); !fixed.ok()) {
      std::printf("Can't correct the header of %s: %s\n", destination.c_str(), fixed.Reason().c_str());
      written = false;
    }
  }
  return written;
}

namespace {

// What became of a fade. A fade that the inputs do not allow (no data chunk, a start outside
// the samples) is left out with its message, and that seam is hard; one that failed on the
// way (a file that cannot be opened, read or written) fails the insertion.
enum class FadeResult { kMade, kLeftOut, kFailed };

struct FadeOutcome {
  FadeResult result = FadeResult::kMade;
  int code = 0;  // CROSSFADE's code: 0, or 1, 2, 3 for the file at fault
};

FadeOutcome LeftOut(int code) { return {FadeResult::kLeftOut, code}; }
FadeOutcome Failed(int code) { return {FadeResult::kFailed, code}; }

// Mixes length frames of a (from positionInA) and b (from positionInB) into out at outAt.
FadeOutcome WriteFade(std::int64_t positionInA, std::int64_t positionInB, std::int64_t length, const std::string& a,
                      const std::string& b, const FileDescriptor& out, std::uint64_t outAt) {
  OpenWave fadingOut;
  OpenWave fadingIn;
  if (!Open(a, false, fadingOut)) return Failed(1);
  if (!Open(b, false, fadingIn)) return Failed(2);
  const OpenWave* waves[] = {&fadingOut, &fadingIn};
  for (int code = 1; code <= 2; ++code) {
    if (!waves[code - 1]->dataOffset) {
      std::puts("Data block not found error");
      return LeftOut(code);
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
    return LeftOut(1);
  }
  const std::optional<std::uint64_t> startB = startOf(fadingIn, positionInB);
  if (!startB) {
    std::printf("Invalid crossfade for source file at sample %li\n", static_cast<long>(positionInB));
    return LeftOut(2);
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
    if (!ReadFadeFrames(fadingOut, *startA, availableA, first, count, bytesA, samplesA)) return Failed(1);
    if (!ReadFadeFrames(fadingIn, *startB, availableB, first, count, bytesB, samplesB)) return Failed(2);
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
    if (!Report(WriteAt(out, outAt, block))) return Failed(3);
    outAt += block.size();
  }
  return {};
}

// One fade of an insertion, made into a temporary file of its own in the working directory.
struct Fade {
  TemporaryFile file;
  FadeResult result = FadeResult::kLeftOut;
};

Fade MakeFade(std::string_view temporaryName, std::uint32_t sampleRate, std::int64_t positionInA,
              std::int64_t positionInB, std::int64_t length, const std::string& a, const std::string& b) {
  Fade fade;
  FileStatus status;
  fade.file = TemporaryFile::Create({}, temporaryName, status);
  if (!Report(status)) {
    fade.result = FadeResult::kFailed;
    return fade;
  }
  if (!Report(WriteWaveHeader(fade.file.file(), sampleRate, 24, length, 1))) {
    fade.result = FadeResult::kFailed;
    return fade;
  }
  fade.result = WriteFade(positionInA, positionInB, length, a, b, fade.file.file(), kWaveHeaderBytes).result;
  return fade;
}

bool NotInserted(const std::string& take, const std::string& oldFile) {
  std::printf("%s was not inserted into %s; the take is kept\n", take.c_str(), oldFile.c_str());
  return false;
}

}  // namespace

int CROSSFADE(std::int64_t positionInA, std::int64_t positionInB, std::int64_t length, const std::string& a,
              const std::string& b, const std::string& out) {
  OpenWave fadingOut;
  OpenWave fadingIn;
  OpenWave result;
  if (!Open(a, false, fadingOut)) return 1;
  if (!Open(b, false, fadingIn)) return 2;
  if (!Open(out, true, result)) return 3;
  const OpenWave* waves[] = {&fadingOut, &fadingIn, &result};
  for (int code = 1; code <= 3; ++code) {
    if (!waves[code - 1]->dataOffset) {
      std::puts("Data block not found error");
      return code;
    }
  }
  const FadeOutcome outcome = WriteFade(positionInA, positionInB, length, a, b, result.file, result.size);
  if (outcome.code != 0) return outcome.code;
  if (!Report(result.file.Close())) return 3;
  return 0;
}

bool InsertTakeWithCrossfades(const std::string& oldFile, const std::string& take, std::int64_t recordStart,
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
    if (fadeIn.result == FadeResult::kFailed) return NotInserted(take, oldFile);
    fadeOut = MakeFade("xfade_temp2.wav", sampleRate, fadeOutStart, recordStart + fadeOutStart, fade, take, oldFile);
    if (fadeOut.result == FadeResult::kFailed) return NotInserted(take, oldFile);
  }

  // The take goes in whole, then its ends are overwritten by the fades. The take file itself
  // is never changed, and it is kept unless every step reached the disk.
  if (!INSERT_FILE(oldFile, take, recordStart, takeLength)) return NotInserted(take, oldFile);
  if (fadeIn.result == FadeResult::kMade && !INSERT_FILE(oldFile, fadeIn.file.name(), recordStart, fade)) {
    return NotInserted(take, oldFile);
  }
  if (fadeOut.result == FadeResult::kMade &&
      !INSERT_FILE(oldFile, fadeOut.file.name(), recordStart + fadeOutStart, fade)) {
    return NotInserted(take, oldFile);
  }
  if (!Report(SyncFile(oldFile))) return NotInserted(take, oldFile);
  return true;
}

}  // namespace tapeloom
