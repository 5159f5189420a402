#include "time/transport_points.h"

#include <algorithm>

#include "console/number_words.h"
#include "time/time_base.h"

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

}  // namespace tapeloom
