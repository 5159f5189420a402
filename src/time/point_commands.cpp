#include "time/point_commands.h"

#include <cstdio>

#include "core/number_words.h"
#include "core/time_base.h"
#include "time/transport_points.h"
#include "tracks/list_files.h"
#include "wave/wave_readers.h"

namespace tapeloom {
namespace {

struct PointPrompts {
  const char* seconds;
  const char* measure;
  const char* beat;
};

PointPrompts PromptsFor(TransportPoint point) {
  switch (point) {
    case TransportPoint::In:
      return {"Enter in-time in seconds.", "Enter measure for playback start time.",
              "Enter beat for playback start time."};
    case TransportPoint::Out:
      return {"Enter out-time in seconds.", "Enter measure for stop time.", "Enter beat for stop time."};
    case TransportPoint::Enter: break;
  }
  return {"Enter recording start time in seconds.", "Enter measure for recording start time.",
          "Enter beat for recording start time."};
}

}  // namespace

void PromptForPointCommand(SessionSettings& s, ConsoleInput& input, int period, std::string& word) {
  const TransportPoint point = *PointForLetter(word[0]);
  const PointPrompts prompts = PromptsFor(point);
  word.clear();
  if (s.tmode == 1) {
    std::puts(prompts.measure);
    const auto measure = input.ReadInt();
    std::puts(prompts.beat);
    const auto beat = input.ReadFloat();
    if (!measure || !beat) return;  // an unreadable answer changes nothing
    SetPointFromMeasures(s, point, *measure < 1 ? 1 : *measure, *beat < 1.0f ? 1.0f : *beat, period);
  } else {
    std::puts(prompts.seconds);
    const auto seconds = input.ReadFloat();
    if (!seconds) return;
    SetPointFromSeconds(s, point, *seconds, period);
  }
}

void DirectPointEntryCommand(SessionSettings& s, int period, const std::string& word) {
  const TransportPoint point = *PointForLetter(word[0]);
  if (s.tmode == 1) {
    const MusicalPosition typed = MeasureBeatFromWord(word);
    SetPointFromMeasures(s, point, typed.measure, typed.beat, period);
  } else {
    SetPointFromSeconds(s, point, FloatOrZero(std::string_view(word).substr(1)), period);
  }
}

void JumpCommand(SessionSettings& s, int period, const std::string& word) {
  if (word == "j") {
    JumpAhead(s, period);
  } else {
    JumpBack(s, period);
  }
}

void NudgeAmountCommand(SessionSettings& s, ConsoleInput& input, int period, SamplePosition& step) {
  std::printf("\nNudge Amount = %i samples, %.3f sec\n", step, static_cast<double>(PositionToSeconds(step, s.sr)));
  std::puts("Enter new nudge amount (in sec) or '0' to keep settings");
  const auto seconds = input.ReadFloat();
  if (!seconds || !(*seconds > 0.0f)) return;
  s.nudge = *seconds;
  step = QUANTIZE(period, s.sr, *seconds);
  std::printf("Nudge amount will be set to %i samples, %.3f sec\n", step,
              static_cast<double>(PositionToSeconds(step, s.sr)));
}

void LongestFileStopCommand(SessionSettings& s) { s.o = SEEK_LONG_FILE(s.ch, kSkipMark, s.play[0]); }

}  // namespace tapeloom
