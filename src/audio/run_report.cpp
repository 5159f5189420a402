#include "audio/run_report.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "core/time_base.h"
#include "wave/text_file.h"

namespace tapeloom {
namespace {

std::string Seconds(std::int64_t frames, std::uint32_t sr) {
  std::string text;
  AppendFormat(text, "%.2f s", sr == 0 ? 0.0 : static_cast<double>(frames) / sr);
  return text;
}

}  // namespace

std::string ChannelList(const char* one, const char* many, const std::vector<int>& numbers) {
  std::vector<std::string> parts;
  for (std::size_t k = 0; k < numbers.size();) {
    std::size_t end = k;
    while (end + 1 < numbers.size() && numbers[end + 1] == numbers[end] + 1) ++end;
    // Three or more in a row are a range; two are two.
    if (end > k + 1) {
      parts.push_back(std::to_string(numbers[k]) + " to " + std::to_string(numbers[end]));
      k = end + 1;
    } else {
      parts.push_back(std::to_string(numbers[k]));
      ++k;
    }
  }
  std::string text = numbers.size() == 1 ? one : many;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    text += p == 0 ? " " : (p + 1 == parts.size() ? " and " : ", ");
    text += parts[p];
  }
  return text;
}

std::string ClockText(std::int64_t position, const SessionSettings& s) {
  const auto at = static_cast<SamplePosition>(std::clamp<std::int64_t>(position, 0, INT32_MAX));
  std::string text;
  if (s.tmode == 1) {
    const MusicalPosition musical = SampleToMeasures(s.sig, s.tempo, at, s.sr);
    AppendFormat(text, "measure.beat %i.%.2f", musical.measure, static_cast<double>(musical.beat));
  } else {
    AppendFormat(text, "%.2f s", static_cast<double>(PositionToSeconds(at, s.sr)));
  }
  return text;
}

void PrintRunEvents(const RunEvents& events, const ListedChannels& channels, const SessionSettings& s) {
  if (events.list().empty()) return;
  std::printf("\n");
  std::vector<RunEvent> listed = events.list();
  std::stable_sort(listed.begin(), listed.end(),
                   [](const RunEvent& a, const RunEvent& b) { return a.position < b.position; });
  for (const RunEvent& event : listed) {
    const std::string at = ClockText(event.position, s);
    const std::string lasted = Seconds(event.frames, s.sr);
    switch (event.kind) {
      case RunEventKind::kUnderrun:
        if (event.frames > 0) {
          std::printf("play underrun at %s: %s of playback were lost\n", at.c_str(), lasted.c_str());
        } else {
          std::printf("play underrun at %s\n", at.c_str());
        }
        break;
      case RunEventKind::kOverrun:
        if (event.frames > 0) {
          std::printf("record overrun at %s: %s of input were not recorded (silence in the takes)\n", at.c_str(),
                      lasted.c_str());
        } else {
          std::printf("record overrun at %s\n", at.c_str());
        }
        break;
      case RunEventKind::kTracksLate:
        std::printf("the disk fell behind at %s: %s of %s could not be read in time\n", at.c_str(), lasted.c_str(),
                    ChannelList("track", "tracks", channels.tracks).c_str());
        break;
      case RunEventKind::kTakesLate:
        std::printf("the disk fell behind at %s: %s of %s were not recorded\n", at.c_str(), lasted.c_str(),
                    ChannelList("input", "inputs", channels.inputs).c_str());
        break;
    }
  }
  if (events.unlisted() > 0) std::printf("and %i more\n", events.unlisted());
}

}  // namespace tapeloom
