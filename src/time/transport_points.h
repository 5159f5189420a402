// The four transport points and the ways they are set: typed times (seconds or measure.beat),
// nudges, copies and jumps. Every typed time lands on a whole device period.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/session_settings.h"
#include "core/time_base.h"

namespace tapeloom {

enum class TransportPoint { In, Out, Enter };

// The play start, stop, record start or memory named by 'i', 'o', 'e' or 'm'; nullptr for any
// other letter.
SamplePosition* PointByLetter(SessionSettings& s, char letter);

// The point named by the first letter of an entry word or a prompt command: 'i', 'o' or 'e'.
std::optional<TransportPoint> PointForLetter(char letter);

// A play start, stop or record start typed in seconds. The stop is refused below the play
// start; a record start too large for 32 bits leaves the record start as it was.
void SetPointFromSeconds(SessionSettings& s, TransportPoint point, float seconds, int period);

// The same typed as measure and beat (the caller has applied its input rules). The stop must lie
// strictly after the play start.
void SetPointFromMeasures(SessionSettings& s, TransportPoint point, int measure, float beat, int period);

// A measure.beat typed directly after the point's letter: "i5" is measure 5 beat 1, "i5.3"
// measure 5 beat 3; only the text after the first '.' is the beat, and the measure is read from
// the first 16 characters of the word. A beat below 1 counts as 1; the measure has no lower
// bound.
MusicalPosition MeasureBeatFromWord(std::string_view word);

// Point copies: "i.o" copies the play start to the stop, and so on for i, o, e and m. Returns
// false for a word that is no copy.
bool CopyPoint(SessionSettings& s, std::string_view word);

// 'j': the play range moves forward by its own length; 'J': backward, not before 0.
void JumpAhead(SessionSettings& s, int period);
void JumpBack(SessionSettings& s, int period);

// n, b, no, bo, ne, be, N, B. Returns false for a word that is no nudge.
bool NudgePoints(SessionSettings& s, std::string_view word, SamplePosition step, int period);

// The four points in one line ("Play: ...   Rec: ...   Stop: ...   Mem: ..."), in seconds or in
// measure.beat: the short status line, which the mixer view shows too.
void ShowStatusLine(const SessionSettings& s);

}  // namespace tapeloom
