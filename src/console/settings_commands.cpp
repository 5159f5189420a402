#include "console/settings_commands.h"

#include <cstdio>

#include "core/number_words.h"
#include "core/time_base.h"

namespace tapeloom {
namespace {

const char* ClockName(int clock) {
  switch (clock) {
    case 0: return "(now set to hc)";
    case 2: return "(now set to sc)";
    default: return "(now set to uc)";
  }
}

void ShowOptions(const SessionSettings& s) {
  std::printf("\nOptions:\n");
  std::printf("Clock: ");
  std::puts(ClockName(s.clock));
  std::puts("\n  'sc' to stream clock");
  std::puts("  'uc' to unstream clock (default)");
  std::puts("  'hc' to hide clock");
  std::printf("\nPeaks: ");
  std::puts(s.peak == 0 ? "(now set to np)" : "(now set to cp)");
  std::puts("\n  'cp' to check peaks while recording (default)");
  std::puts("  'np' for no peak checking while recording");
  std::printf("\nInterface: ");
  std::puts(s.int_ == 0 ? "(now set to int0)" : "(now set to int1)");
  std::puts("\n  'int0' for minimal interface");
  std::puts("  'int1' for default interface");
  std::puts("");
  std::puts("  'd' if done changing options");
}

void ShowTempoToggle(int pendingMode) {
  std::printf("1 = toggle tempo mode");
  std::puts(pendingMode == 0 ? " (off)" : " (on)");
}

}  // namespace

void OptionsCommand(SessionSettings& s, ConsoleInput& input, std::string& word) {
  do {
    ShowOptions(s);
    word = input.ReadWord();
    if (word == "sc") s.clock = 2;
    if (word == "uc") s.clock = 1;
    if (word == "hc") s.clock = 0;
    if (word == "cp") s.peak = 1;
    if (word == "np") s.peak = 0;
    if (word == "int0") s.int_ = 0;
    if (word == "int1") s.int_ = 1;
  } while (word != "d");
}

void TempoCommand(SessionSettings& s, ConsoleInput& input) {
  int pendingMode = s.tmode;
  int choice = 0;
  ShowTempoToggle(pendingMode);
  while (choice >= 0 && choice <= 3) {
    std::printf("2 = set tempo (%.2f)\n", static_cast<double>(s.tempo));
    std::printf("3 = set beats per measure (%i)\n", s.sig);
    std::puts("4 = done");
    // An unreadable choice is consumed and counts as 0: the menu is shown again.
    choice = input.ReadInt().value_or(0);
    if (choice == 1) {
      pendingMode = 1 - pendingMode;
      ShowTempoToggle(pendingMode);
    } else if (choice == 2) {
      std::puts("Enter tempo (beats per minute)");
      if (const auto tempo = input.ReadFloat()) s.tempo = *tempo < 1.0f || *tempo > 400.0f ? 120.0f : *tempo;
    } else if (choice == 3) {
      std::puts("Enter beats per measure");
      if (const auto sig = input.ReadInt()) s.sig = *sig < 1 || *sig > 128 ? 4 : *sig;
    }
  }
  s.tmode = pendingMode;
}

void SafetyCommand(SessionSettings& s, ConsoleInput& input, std::string& word) {
  if (s.safe == 1) {
    std::puts("Safety mode for replacing files is ON");
    std::puts("Enter '0' to turn off");
  } else {
    std::puts("Safety mode for replacing files is OFF");
    if (s.safe == 0) std::puts("Enter '1' to turn on");
  }
  std::puts("Enter '2' to keep current settings");
  do {
    word = input.ReadWord();
  } while (word != "0" && word != "1" && word != "2");
  if (word == "0") {
    s.safe = 0;
    std::printf("Safety mode is OFF\n");
  } else if (word == "1") {
    s.safe = 1;
    std::printf("Safety mode is ON\n");
  }
}

void MeterRangeCommand(SessionSettings& s, ConsoleInput& input, MeterScale& meter) {
  std::printf("Enter Meter Range -120 to -6 (dB) or 0 = off.  Currently at %i dB\n", s.meter);
  if (const auto typed = input.ReadInt()) s.meter = *typed;
  const float before = meter.range;
  if (s.meter >= -120 && s.meter <= -7) {
    meter.range = static_cast<float>(-s.meter);
  } else if (s.meter < -120) {
    s.meter = -120;
    meter.range = 120.0f;
  } else if (s.meter == 0) {
    meter.range = 0.0f;
  } else if (s.meter == -6) {
    s.meter = static_cast<int>(-before);
  } else {
    s.meter = -6;
    meter.range = 6.0f;
  }
  // A meter turned on from off has no fall step yet: it gets the one a session starting with
  // this range would have, so that the bar falls.
  if (meter.fall == 0.0f && meter.range != 0.0f) meter.fall = meter.range / 4.0f;
}

void PrerollCommand(SessionSettings& s, ConsoleInput& input, int period, SamplePosition& prerollFrames,
                    std::string& word) {
  std::printf("Preroll is set to %.3f secs\n", static_cast<double>(s.proll));
  std::puts("Enter new preroll or 'd' for done");
  word = input.ReadWord();
  if (word == "d") return;
  const float seconds = FloatOrZero(word);
  s.proll = seconds < 0.0f ? 0.0f : seconds;
  prerollFrames = QUANTIZE(period, s.sr, s.proll);
  word.clear();
}

void CrossfadeCommand(SessionSettings& s, ConsoleInput& input, SamplePosition& crossfadeHalf) {
  std::printf("Crossfade is currently set to %.1f milliseconds.\n", static_cast<double>(s.xfade));
  std::puts("Enter 'd' if done or enter a new value");
  for (;;) {
    const std::string answer = input.ReadWord();
    if (answer == "d") return;
    const float milliseconds = FloatOrZero(answer);
    if (milliseconds < 0.0f) continue;  // refused without a word: asked again
    s.xfade = milliseconds;
    crossfadeHalf = CrossfadeHalfFrames(s.xfade, s.sr);
    return;
  }
}

void AuditionLengthCommand(SessionSettings& s, ConsoleInput& input, SamplePosition& auditionFrames) {
  std::printf("Enter audition time (currently %.1f sec)\n",
              static_cast<double>(PositionToSeconds(auditionFrames, s.sr)));
  if (const auto seconds = input.ReadFloat()) s.aud = *seconds;
  if (s.aud > 0.0f) auditionFrames = AuditionFrames(s.aud, s.sr);
}

}  // namespace tapeloom
