// The settings dialogues: clock, peaks and interface ("opt"), tempo mode, tempo and beats per
// measure ("tempo"), the safety mode ("safe"), the meter range ("mtr"), the preroll ("pre"),
// the crossfade length ("cf") and the audition length ("aa"). Each changes the settings in
// place and the values derived from them; nothing is saved until "s". Each leaves in the word
// something that no later command test matches.
#pragma once

#include <string>

#include "core/console_input.h"
#include "core/derived_values.h"
#include "core/session_settings.h"

namespace tapeloom {

void OptionsCommand(SessionSettings& s, ConsoleInput& input, std::string& word);
void TempoCommand(SessionSettings& s, ConsoleInput& input);
void SafetyCommand(SessionSettings& s, ConsoleInput& input, std::string& word);
// The meter range, and its fall step when the meter is turned on from off.
void MeterRangeCommand(SessionSettings& s, ConsoleInput& input, MeterScale& meter);
void PrerollCommand(SessionSettings& s, ConsoleInput& input, int period, SamplePosition& prerollFrames,
                    std::string& word);
void CrossfadeCommand(SessionSettings& s, ConsoleInput& input, SamplePosition& crossfadeHalf);
void AuditionLengthCommand(SessionSettings& s, ConsoleInput& input, SamplePosition& auditionFrames);

}  // namespace tapeloom
