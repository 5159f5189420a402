// The mix export: the playlist's tracks between the play start and the stop, rendered offline
// through the mix engine into a 24-bit wave file: one interleaved stereo file ("exp-i") or a
// left and a right mono file ("exp-s").
//
// An export never leaves a part of a mix under a real name: it writes into temporaries beside
// the outputs and renames them into place only when every output is complete and on the disk,
// replacing earlier files of those names. A write failure, a full disk, or Ctrl-C, SIGTERM or
// SIGHUP (session_signals.h) removes the temporaries, and earlier files keep their content.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/console_input.h"
#include "core/session_settings.h"
#include "mix/gains.h"
#include "mix/mix_block.h"
#include "mix/mix_engine.h"
#include "wave/wave_layout.h"

namespace tapeloom {

// The value is the channel count of each output file.
enum class ExportKind { kSplit = 1, kInterleaved = 2 };

// What an export renders, as the command decides it from the settings, the playlist and the
// name typed.
struct ExportPlan {
  ExportKind kind = ExportKind::kInterleaved;
  std::string baseName;                                 // "mix" gives mix.wav, or mix_L.wav and mix_R.wav
  std::vector<std::string> entries;                     // the playlist's lines for tracks 1..ch, skip lines included
  TrackFlags flags{};                                   // 1: the track takes part
  std::array<WaveAttributes, kMaxTracks> attributes{};  // of each flagged track
  SamplePosition start = 0;
  std::int64_t length = 0;  // frames, at least 1
};

// The output file names of an export.
std::vector<std::string> ExportNames(ExportKind kind, const std::string& baseName);

// The most frames one output file of this kind can hold: its data size and its RIFF size must
// both fit in 32 bits.
std::int64_t LongestExport(ExportKind kind);

enum class ExportOutcome { kDone, kFailed, kStopped };

// Opens the flagged tracks ("Mixing channels ..."; a track that cannot be opened is left out),
// renders the range block by block (mix mode 3 through the busses, every other mode as mode
// 1) with "Export Progress" after each block, publishes the outputs and prints the peak
// report. A session signal (Ctrl-C, SIGTERM, SIGHUP) stops it between two blocks. Failures
// are printed with the file and the system's reason. The engine's work buffers are reused;
// the export allocates its own buffers once. A length outside 1..LongestExport(kind) does
// nothing (the command refuses it with a message).
ExportOutcome ExportMix(ExportPlan& plan, const SessionSettings& settings, MixEngine& mixer, const TrackGains& gains,
                        MixPeaks& peaks);

// "exp-i" and "exp-s": reads the playlist and flags its tracks, computes the gains afresh
// from the volumes and pans (SetVolume) into `gains`, checks the range, asks for the file
// name, exports and, when the mix is written, waits for "c".
void ExportCommand(SessionSettings& settings, ConsoleInput& input, MixEngine& mixer, TrackGains& gains,
                   const std::string& word);

}  // namespace tapeloom
