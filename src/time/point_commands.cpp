#include "time/point_commands.h"

#include <cstdio>

#include "app/session.h"
#include "console/number_words.h"
#include "time/time_base.h"
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

PassOutcome PromptForPointCommand(Session& session, std::string& word) {
  SessionSettings& s = session.settings;
  const int period = session.devices.periodFrames;
  const TransportPoint point = *PointForLetter(word[0]);
  const PointPrompts prompts = PromptsFor(point);
  // The answers are read here, not into the command word: clearing it keeps the letter from
  // being taken as a time typed after it by the next test.
  word.clear();
  if (s.tmode == 1) {
    std::puts(prompts.measure);
    const auto measure = session.input.ReadInt();
    std::puts(prompts.beat);
    const auto beat = session.input.ReadFloat();
    if (!measure || !beat) return PassOutcome::Continue;  // an unreadable answer changes nothing
    SetPointFromMeasures(s, point, *measure < 1 ? 1 : *measure, *beat < 1.0f ? 1.0f : *beat, period);
  } else {
    std::puts(prompts.seconds);
    const auto seconds = session.input.ReadFloat();
    if (!seconds) return PassOutcome::Continue;
    SetPointFromSeconds(s, point, *seconds, period);
  }
  return PassOutcome::Continue;
}

PassOutcome DirectPointEntryCommand(Session& session, std::string& word) {
  SessionSettings& s = session.settings;
  const int period = session.devices.periodFrames;
  const TransportPoint point = *PointForLetter(word[0]);
  if (s.tmode == 1) {
    const MusicalPosition typed = MeasureBeatFromWord(word);
    SetPointFromMeasures(s, point, typed.measure, typed.beat, period);
  } else {
    SetPointFromSeconds(s, point, FloatOrZero(std::string_view(word).substr(1)), period);
  }
  return PassOutcome::Continue;
}

PassOutcome JumpCommand(Session& session, std::string& word) {
  if (word == "j") {
    JumpAhead(session.settings, session.devices.periodFrames);
  } else {
    JumpBack(session.settings, session.devices.periodFrames);
  }
  return PassOutcome::Continue;
}

PassOutcome NudgeCommand(Session& session, std::string& word) {
  NudgePoints(session.settings, word, session.derived.nudgeStep, session.devices.periodFrames);
  return PassOutcome::Continue;
}

PassOutcome NudgeAmountCommand(Session& session, std::string& /*word*/) {
  SessionSettings& s = session.settings;
  SamplePosition& step = session.derived.nudgeStep;
  std::printf("\nNudge Amount = %i samples, %.3f sec\n", step, static_cast<double>(PositionToSeconds(step, s.sr)));
  std::puts("Enter new nudge amount (in sec) or '0' to keep settings");
  const auto seconds = session.input.ReadFloat();
  if (!seconds || !(*seconds > 0.0f)) return PassOutcome::Continue;
  s.nudge = *seconds;
  step = QUANTIZE(session.devices.periodFrames, s.sr, *seconds);
  std::printf("Nudge amount will be set to %i samples, %.3f sec\n", step,
              static_cast<double>(PositionToSeconds(step, s.sr)));
  return PassOutcome::Continue;
}

PassOutcome CopyPointCommand(Session& session, std::string& word) {
  CopyPoint(session.settings, word);
  return PassOutcome::Continue;
}

PassOutcome LongestFileStopCommand(Session& session, std::string& /*word*/) {
  SessionSettings& s = session.settings;
  s.o = SEEK_LONG_FILE(s.ch, kSkipMark, s.play[0]);
  return PassOutcome::Continue;
}

}  // namespace tapeloom
