// Record lists and playlists: plain text, one wave file name per line. Line k (blank lines not
// counted) belongs to input channel k or track k; a line starting with '-' skips its channel.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/session_settings.h"
#include "wave/text_file.h"  // SplitList

namespace tapeloom {

inline constexpr char kSkipMark = '-';

// A skip line: its first character is the skip mark.
inline bool IsSkipLine(std::string_view entry) { return !entry.empty() && entry[0] == kSkipMark; }

// Entry n (0-based) of a list, or an empty name when the list is shorter.
std::string GET_FILENAME(std::string_view listText, int n);

// The playlist used to audition new takes: for each track below n, the take of an armed input
// or the playlist's own file ("-" where that list has no line).
std::string Hybridize(std::string_view playListText, std::string_view takeListText, const TrackFlags& armed, int n);

// Clears the flag of every track that feeds no bus.
void VerifyChannels(const BusAssignTable& busAssign, TrackFlags& trackFlags);

}  // namespace tapeloom
