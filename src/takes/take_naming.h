// Naming and creating the takes of a recording. Every armed input records into a new file,
// never straight into the file its record list line names: automatically named from the
// channel and a clock stamp, or from the record list line and a take name typed with the
// record command.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/console_input.h"
#include "core/session_settings.h"
#include "takes/take_state.h"
#include "wave/file_status.h"

namespace tapeloom {

struct NamingPass {
  int inputs = 0;
  const TrackFlags* armed = nullptr;
  SamplePosition recordStart = 0;
  std::uint32_t sr = 0;
  bool takeNameMode = false;
  std::string takeName;
  std::string_view recordListText;
  // The clock stamp when the pass starts (NewTime); automatic names raise it while it is taken.
  std::int32_t stamp = 0;
};

struct NamedTakes {
  std::string takeList;                       // one line per input: the take, or "-"
  std::array<std::string, kMaxTracks> names;  // the take of each armed input
  // The header could not be written: the input is left out of the run.
  std::array<FileStatus, kMaxTracks> failures;
  std::int32_t stamp = 0;  // the stamp of every automatic name of the pass
};

// Automatic names: "audio_ch_%i_%i.wav" from the channel and the stamp, with "_stp_%li" and the
// record start when it is not 0.
std::string AutomaticTakeName(int channel, std::int32_t stamp, SamplePosition recordStart);

// Names from the record list: the line's stem (before its first '.'), '_', the take name, the
// record start stamp when it is not 0, ".wav".
std::string ChosenTakeName(std::string_view recordLine, std::string_view takeName, SamplePosition recordStart);

// The naming pass of one recording: names every armed input's take, asks about conflicts of
// chosen names, and creates each take with a header announcing no frames yet: the run grows it
// with the audio written.
// Automatic names all carry one stamp, the pass's own raised until no take, padded or
// stamped take name, or backup name of an armed input's record list file made from it exists.
NamedTakes NameAndCreateTakes(const NamingPass& pass, ConsoleInput& input);

// "r_name", "R_name", "ri_name": the text after the first '_' becomes the take name and the
// word is cut there, so that the record command itself matches the next test.
void TakeNameCommand(TakeState& takes, std::string& word);

}  // namespace tapeloom
