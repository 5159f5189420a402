// "lr" and "lp": what each input records into and where each track plays.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/console_input.h"
#include "core/session_settings.h"

namespace tapeloom {

// The record list: every armed input and its file. Returns 0 when the list cannot be read.
int REC_ARM_CHECK(int inputs, char skipChar, const std::string& recordListPath);

// The playlist: every track's file (its first 12 characters), solo state and destination in
// the mix mode, outputs beyond the interface in parentheses; under a track whose file is at
// another rate than sessionRate, a line saying so. Returns 0 when it cannot be read.
int PLAY_ARM_CHECK(int tracks, int outputs, char skipChar, const TrackFlags& solo, const std::string& playListPath,
                   const BusAssignTable& busAssign, MixMode mixMode, const std::array<int, kMaxBusses>& busActive,
                   std::uint32_t sessionRate);

// "lr" or "lp", then "Enter 'c' to continue" until "c", which is left in the word.
void ListListingCommand(const SessionSettings& s, ConsoleInput& input, std::string& word);

}  // namespace tapeloom
