// What a transport run plays and records, decided afresh from the list files at the start of
// every run: the armed inputs, the active tracks (each checked by the wave reader) and the
// tracks being replaced by a recording.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/console_input.h"
#include "core/session_settings.h"
#include "wave/wave_layout.h"

namespace tapeloom {

struct RunListRequest {
  bool plays = false;    // the run plays the playlist (or the audition list)
  bool records = false;  // the run records: replaced tracks are marked and inputs armed
  bool monitor = false;  // the input monitor: inputs are armed
  bool solo = false;     // only soloed tracks play
  // The take audition plays this list instead of the playlist.
  std::optional<std::string> auditionList;
};

struct RunLists {
  std::string playText;    // the playlist in use, as read
  std::string recordText;  // the record list in use, as read
  TrackFlags activeTracks{};
  TrackFlags armedInputs{};
  TrackFlags replacedTracks{};
  std::array<WaveAttributes, kMaxTracks> attributes{};  // of each active track
};

// Reads both list files in use (asking for another name, which becomes the list in use, for
// as long as one cannot be read) and resolves them into the run's flags. Throws InputEnded
// when the input ends while a name is asked for.
RunLists ResolveRunLists(SessionSettings& settings, ConsoleInput& input, const RunListRequest& request);

}  // namespace tapeloom
