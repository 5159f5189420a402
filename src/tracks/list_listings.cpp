#include "tracks/list_listings.h"

#include <cstdio>
#include <optional>

#include "tracks/list_files.h"
#include "wave/text_file.h"
#include "wave/wave_readers.h"

namespace tapeloom {
namespace {

constexpr const char* kDashes = "-------------------------";

void PrintDestination(int t, int outputs, const BusAssignTable& busAssign, MixMode mixMode,
                      const std::array<int, kMaxBusses>& busActive) {
  const int track = t + 1;
  const bool onInterface = t < outputs;
  const std::size_t ti = static_cast<std::size_t>(t);
  switch (mixMode) {
    case MixMode::kDirect:
      if (onInterface) {
        std::printf("Out %i", track);
      } else {
        std::printf("Out (%i)", track);
      }
      break;
    case MixMode::kStereo:
      std::printf("Out 1 2");
      if (t >= 2) {
        if (onInterface) {
          std::printf(" %i", track);
        } else {
          std::printf(" (%i)", track);
        }
      }
      break;
    case MixMode::kBusPairs:
      std::printf("Out ");
      for (int b = 1; b <= kMaxBusses; ++b) {
        const std::size_t bi = static_cast<std::size_t>(b - 1);
        if (busAssign[bi][ti] == 1) {
          if (2 * b - 1 < outputs) {
            std::printf("%i %i ", 2 * b - 1, 2 * b);
          } else {
            std::printf("(%i %i) ", 2 * b - 1, 2 * b);
          }
        }
        // A track on an unused bus's own pair still plays on its own output.
        if (busActive[bi] == 0 && (track == 2 * b - 1 || track == 2 * b)) {
          if (onInterface) {
            std::printf("%i ", track);
          } else {
            std::printf("(%i) ", track);
          }
        }
      }
      break;
    case MixMode::kMaster:
      if (busAssign[0][ti] == 1) std::printf("Out 1 2 ");
      for (int b = 2; b <= kMaxBusses; ++b) {
        if (busAssign[static_cast<std::size_t>(b - 1)][ti] == 1) std::printf("Bus %i -> Out 1 2 ", b);
      }
      break;
    default: break;
  }
}

}  // namespace

int REC_ARM_CHECK(int inputs, char skipChar, const std::string& recordListPath) {
  std::string text;
  if (!ReadWholeFile(recordListPath, text).ok()) {
    std::printf("Cannot find recordlist file called %s\n", recordListPath.c_str());
    return 0;
  }
  std::printf("File: %s\n", recordListPath.c_str());
  std::puts("Source\t\tStatus\t\tDestination");
  const std::vector<std::string> entries = SplitList(text);
  for (int k = 1; k <= inputs && static_cast<std::size_t>(k) <= entries.size(); ++k) {
    const std::string& entry = entries[static_cast<std::size_t>(k - 1)];
    if (entry[0] != skipChar) std::printf("In %i\t\tARMED\t\t%s\n", k, entry.c_str());
  }
  std::puts(kDashes);
  return 1;
}

int PLAY_ARM_CHECK(int tracks, int outputs, char skipChar, const TrackFlags& solo, const std::string& playListPath,
                   const BusAssignTable& busAssign, MixMode mixMode, const std::array<int, kMaxBusses>& busActive,
                   std::uint32_t sessionRate) {
  std::string text;
  if (!ReadWholeFile(playListPath, text).ok()) {
    std::printf("Playlist file called %s was not found!\n", playListPath.c_str());
    return 0;
  }
  std::printf("File: %s\n", playListPath.c_str());
  std::puts("Source\t\t\tSolo\tDestination");
  const std::vector<std::string> entries = SplitList(text);
  for (int t = 0; t < tracks && t < kMaxTracks && static_cast<std::size_t>(t) < entries.size(); ++t) {
    const std::string& entry = entries[static_cast<std::size_t>(t)];
    if (entry[0] == skipChar) continue;
    std::printf("%.12s\t\t", entry.c_str());
    std::printf(solo[static_cast<std::size_t>(t)] == 1 ? "ON\t" : "off\t");
    PrintDestination(t, outputs, busAssign, mixMode, busActive);
    std::printf("\n");
    // Files the run would refuse are listed without a word: the run says why it leaves them out.
    if (const std::optional<std::uint32_t> rate = ReadSampleRateQuietly(entry)) {
      WarnOfOtherRate(entry, *rate, sessionRate);
    }
  }
  std::puts(kDashes);
  return 1;
}

void ListListingCommand(const SessionSettings& s, ConsoleInput& input, std::string& word) {
  if (word == "lr") {
    REC_ARM_CHECK(s.inputs, kSkipMark, s.rec[0]);
  } else {
    PLAY_ARM_CHECK(s.ch, s.outputs, kSkipMark, s.solo, s.play[0], s.busAssign, s.mix, s.busActive, s.sr);
  }
  std::puts("Enter 'c' to continue");
  word = input.WaitFor("c");
}

}  // namespace tapeloom
