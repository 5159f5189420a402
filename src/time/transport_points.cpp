#include "time/transport_points.h"

#include <algorithm>
#include <cstdio>

#include "core/number_words.h"
#include "core/time_base.h"

namespace tapeloom {
SamplePosition* PointByLetter(SessionSettings& s, char letter) {
  switch (letter) {
    case 'i': return &s.i;
    case 'o': return &s.o;
    case 'e': return &s.e;
    case 'm': return &s.mem;
    default: return nullptr;
  }
}

std::optional<TransportPoint> PointForLetter(char letter) {
  switch (letter) {
    case 'i': return TransportPoint::In;
    case 'o': return TransportPoint::Out;
    case 'e': return TransportPoint::Enter;
    default: return std::nullopt;
  }
}

void SetPointFromSeconds(SessionSettings& s, TransportPoint point, float seconds, int period) {
  const SamplePosition position = QUANTIZE(period, s.sr, seconds);
  switch (point) {
    case TransportPoint::In: s.i = position; break;
    case TransportPoint::Out:
      if (position >= s.i) s.o = position;  // a stop equal to the play start is accepted
      break;
    case TransportPoint::Enter:
      if (!QuantizeOverflows(period, s.sr, seconds)) s.e = position;
      break;
  }
}

void SetPointFromMeasures(SessionSettings& s, TransportPoint point, int measure, float beat, int period) {
  const double frames = MeasuresToFrames(s.sig, s.tempo, measure, beat, s.sr);
  const SamplePosition position = QUANTIZE_SAMPLES(period, MeasuresToSample(s.sig, s.tempo, measure, beat, s.sr));
  switch (point) {
    case TransportPoint::In: s.i = position; break;
    case TransportPoint::Out:
      if (s.i < position) s.o = position;
      break;
    case TransportPoint::Enter:
      if (frames < static_cast<double>(LastWholePeriod(period)) + 1.0) s.e = position;
      break;
  }
}

MusicalPosition MeasureBeatFromWord(std::string_view word) {
  const std::string_view rest = word.substr(std::min<std::size_t>(1, word.size()));
  const std::size_t dot = word.find('.');
  if (dot == std::string_view::npos) return {DecimalOrZero(rest), 1.0f};
  const float beat = FloatOrZero(word.substr(dot + 1));
  const std::string_view firstSixteen = word.substr(0, 16);
  const std::string_view measureText = firstSixteen.substr(1, std::min(dot, firstSixteen.size()) - 1);
  return {DecimalOrZero(measureText), beat < 1.0f ? 1.0f : beat};
}

bool CopyPoint(SessionSettings& s, std::string_view word) {
  if (word.size() != 3 || word[1] != '.' || word[0] == word[2]) return false;
  SamplePosition* from = PointByLetter(s, word[0]);
  SamplePosition* to = PointByLetter(s, word[2]);
  if (from == nullptr || to == nullptr) return false;
  *to = *from;
  return true;
}

void JumpAhead(SessionSettings& s, int period) {
  const SamplePosition oldIn = s.i;
  const SamplePosition oldOut = s.o;
  s.i = oldOut;
  s.o = MovePosition(oldOut, static_cast<std::int64_t>(oldOut) - oldIn, period);
}

void JumpBack(SessionSettings& s, int period) {
  const SamplePosition oldIn = s.i;
  const SamplePosition oldOut = s.o;
  s.o = oldIn;
  s.i = MovePosition(oldIn, static_cast<std::int64_t>(oldIn) - oldOut, period);
}

bool NudgePoints(SessionSettings& s, std::string_view word, SamplePosition step, int period) {
  auto nudge = [&](SamplePosition& point, int direction) {
    point = MovePosition(point, static_cast<std::int64_t>(direction) * step, period);
  };
  if (word == "n") {
    nudge(s.i, 1);
  } else if (word == "b") {
    nudge(s.i, -1);
  } else if (word == "no") {
    nudge(s.o, 1);
  } else if (word == "bo") {
    nudge(s.o, -1);
  } else if (word == "ne") {
    nudge(s.e, 1);
  } else if (word == "be") {
    nudge(s.e, -1);
  } else if (word == "N" || word == "B") {
    const int direction = word == "N" ? 1 : -1;
    nudge(s.i, direction);
    nudge(s.o, direction);
    nudge(s.e, direction);
  } else {
    return false;
  }
  return true;
}

void ShowStatusLine(const SessionSettings& s) {
  const auto seconds = [&s](SamplePosition at) { return static_cast<double>(PositionToSeconds(at, s.sr)); };
  const auto musical = [&s](SamplePosition at) { return SampleToMeasures(s.sig, s.tempo, at, s.sr); };
  if (s.tmode == 1) {
    const MusicalPosition in = musical(s.i);
    const MusicalPosition enter = musical(s.e);
    const MusicalPosition out = musical(s.o);
    const MusicalPosition mem = musical(s.mem);
    std::printf("Play: %i.%.2f   Rec: %i.%.2f   Stop: %i.%.2f   Mem: %i.%.2f\n", in.measure,
                static_cast<double>(in.beat), enter.measure, static_cast<double>(enter.beat), out.measure,
                static_cast<double>(out.beat), mem.measure, static_cast<double>(mem.beat));
  } else {
    std::printf("Play: %.2f   Rec: %.2f   Stop: %.2f   Mem: %.2f\n", seconds(s.i), seconds(s.e), seconds(s.o),
                seconds(s.mem));
  }
}

}  // namespace tapeloom
