// The list after a run of where it lost audio: each xrun of the card and each stretch that the
// disk did not deliver or take in time, at its position as the clock shows it, so that the user
// knows where to listen.
#pragma once

#include <string>
#include <vector>

#include "audio/run_events.h"
#include "core/session_settings.h"

namespace tapeloom {

// The channels a disk shortfall concerns, 1-based: the tracks that played, the inputs that
// recorded.
struct ListedChannels {
  std::vector<int> tracks;
  std::vector<int> inputs;
};

// "input 3", "inputs 1 to 8", "tracks 1, 3 and 5 to 7".
std::string ChannelList(const char* one, const char* many, const std::vector<int>& numbers);

// A position as the clock shows it: "12.34 s", or "measure.beat 5.2.50" in tempo mode.
std::string ClockText(std::int64_t position, const SessionSettings& settings);

// Prints one line per event, after a blank line; nothing when there were none.
void PrintRunEvents(const RunEvents& events, const ListedChannels& channels, const SessionSettings& settings);

}  // namespace tapeloom
