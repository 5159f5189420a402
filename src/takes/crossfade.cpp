#include "takes/crossfade.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "takes/file_steps.h"
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
  wave.file = forUpdate ? OpenForUpdate(name) : OpenForReading(name);
  if (!wave.file) {
    std::printf("Can't open %s: %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  FileHead head;
  if (std::string failure = ReadWaveHead(wave.file, head); !failure.empty()) {
    std::printf("Can't read %s: %s\n", name.c_str(), failure.c_str());
    return false;
  }
  wave.size = head.size;
  if (const std::optional<std::uint32_t> tag = FindDataTag(head.bytes)) wave.dataOffset = *tag + 8u;
  return true;
}

// Reads frames [first, first + count) of a fade input whose whole frames from the fade's
// start are `available`; frames beyond them are silence.
bool ReadFadeFrames(const OpenWave& wave, const std::string& name, std::uint64_t start, std::uint64_t available,
                    std::int64_t first, int count, std::vector<unsigned char>& bytes,
                    std::vector<std::int32_t>& samples) {
  const auto firstFrame = static_cast<std::uint64_t>(first);
  const std::uint64_t present = available > firstFrame ? std::min<std::uint64_t>(available - firstFrame, count) : 0;
  std::string failure;
  const std::int64_t got = ReadAt(wave.file, start + firstFrame * kFrameBytes,
                                  std::span(bytes.data(), static_cast<std::size_t>(present * kFrameBytes)), failure);
  if (got < 0) {
    std::printf("Can't read %s: %s\n", name.c_str(), failure.c_str());
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
    if (std::string failure = WriteZeros(to.file, to.size, start - to.size); !failure.empty()) {
      std::printf("Can't write to %s: %s\n", destination.c_str(), failure.c_str());
      written = false;
    }
  }
  if (written) {
    written = ReportCopy(CopyBytes(from.file, *from.dataOffset, to.file, start, end - start), source, destination);
  }
  if (const int error = to.file.Close(); error != 0 && written) {
    std::printf("Can't write to %s: %s\n", destination.c_str(), std::strerror(error));
    written = false;
  }
  // Also after a failed write: the header then announces what did reach the file.
  if (end > to.size) {
    if (std::string failure = FIX_SIZE(destination); !failure.empty()) {
      std::printf("Can't correct the header of %s: %s\n", destination.c_str(), failure.c_str());
      written = false;
    }
  }
  return written;
}

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
    return 1;
  }
  const std::optional<std::uint64_t> startB = startOf(fadingIn, positionInB);
  if (!startB) {
    std::printf("Invalid crossfade for source file at sample %li\n", static_cast<long>(positionInB));
    return 2;
  }
  const std::uint64_t availableA = (fadingOut.size - *startA) / kFrameBytes;
  const std::uint64_t availableB = (fadingIn.size - *startB) / kFrameBytes;

  std::vector<unsigned char> bytesA(kFadeBlockFrames * kFrameBytes);
  std::vector<unsigned char> bytesB(kFadeBlockFrames * kFrameBytes);
  std::vector<unsigned char> bytesOut(kFadeBlockFrames * kFrameBytes);
  std::vector<std::int32_t> samplesA(kFadeBlockFrames);
  std::vector<std::int32_t> samplesB(kFadeBlockFrames);
  std::vector<std::int32_t> samplesOut(kFadeBlockFrames);
  std::uint64_t outAt = result.size;  // appended
  const auto n = static_cast<double>(length);
  for (std::int64_t first = 0; first < length; first += kFadeBlockFrames) {
    const int count = static_cast<int>(std::min<std::int64_t>(length - first, kFadeBlockFrames));
    if (!ReadFadeFrames(fadingOut, a, *startA, availableA, first, count, bytesA, samplesA)) return 1;
    if (!ReadFadeFrames(fadingIn, b, *startB, availableB, first, count, bytesB, samplesB)) return 2;
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
    if (std::string failure = WriteAt(result.file, outAt, block); !failure.empty()) {
      std::printf("Can't write to %s: %s\n", out.c_str(), failure.c_str());
      return 3;
    }
    outAt += block.size();
  }
  if (const int error = result.file.Close(); error != 0) {
    std::printf("Can't write to %s: %s\n", out.c_str(), std::strerror(error));
    return 3;
  }
  return 0;
}

bool InsertTakeWithCrossfades(const std::string& oldFile, const std::string& take, std::int64_t recordStart,
                              std::int64_t takeLength, std::int64_t crossfadeFrames, std::uint32_t sampleRate) {
  // Fades of a short take are halved so that they do not overlap: the fade-out would otherwise
  // overwrite part of the fade-in and leave a hard step where it begins.
  const std::int64_t fade = takeLength < 2 * crossfadeFrames ? takeLength / 2 : crossfadeFrames;
  if (fade <= 0) return INSERT_FILE(oldFile, take, recordStart, takeLength);

  const std::filesystem::path here;
  const TemporaryFile fadeIn(TemporaryName(here, "xfade_temp1.wav", {oldFile, take}));
  const TemporaryFile fadeOut(TemporaryName(here, "xfade_temp2.wav", {oldFile, take, fadeIn.name()}));
  auto crossfade = [sampleRate, fade](const TemporaryFile& temp, std::int64_t positionInA, std::int64_t positionInB,
                                      const std::string& a, const std::string& b) {
    if (std::string failure = MAKE_HEADER(temp.name(), sampleRate, 24, fade, 1); !failure.empty()) {
      std::printf("Can't create %s: %s\n", temp.name().c_str(), failure.c_str());
      return -1;
    }
    return CROSSFADE(positionInA, positionInB, fade, a, b, temp.name());
  };
  // Both fades come from the untouched files: the old audio where the take begins and ends.
  const std::int64_t fadeOutStart = takeLength - fade;
  const int fadeInResult = crossfade(fadeIn, recordStart, 0, oldFile, take);
  const int fadeOutResult = crossfade(fadeOut, fadeOutStart, recordStart + fadeOutStart, take, oldFile);

  // The take goes in whole, then its ends are overwritten by the fades. The take file itself
  // is never changed.
  if (!INSERT_FILE(oldFile, take, recordStart, takeLength)) return false;
  if (fadeInResult == 0) INSERT_FILE(oldFile, fadeIn.name(), recordStart, fade);
  if (fadeOutResult == 0) INSERT_FILE(oldFile, fadeOut.name(), recordStart + fadeOutStart, fade);
  return true;
}

}  // namespace tapeloom
