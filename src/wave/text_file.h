// Text helpers shared by the settings file and the list files: whole-file reads, atomic
// replacement, list lines and formatting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wave/file_status.h"

namespace tapeloom {

// The largest settings or list file read: a full session's param.txt is about 20 KiB.
inline constexpr std::uint64_t kLargestTextFile = std::uint64_t{16} << 20;

// The whole content of a file, as large as it is when it is opened, into text. A file that
// cannot be opened or read, or is larger than kLargestTextFile ("File too large"), leaves
// text empty and the status says why.
FileStatus ReadWholeFile(const std::string& path, std::string& text);

// Writes `text` to a temporary file beside `path` ("<name>.tmp", or another free name: a
// user's file or a link of that name is never opened), flushes it to the disk and renames it
// over `path`, so that a failure at any step leaves the old file as it was and no temporary
// behind.
FileStatus ReplaceFileAtomically(const std::string& path, const std::string& text);

// The entries of a list file (a record list, a playlist, a take list): its non-empty lines,
// in order. Only "\n" separates lines; a carriage return is part of the name.
std::vector<std::string> SplitList(std::string_view text);

// Appends printf-formatted text to `out`, whatever its length.
[[gnu::format(printf, 2, 3)]] void AppendFormat(std::string& out, const char* format, ...);

}  // namespace tapeloom
