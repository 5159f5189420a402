// Whole-file text helpers shared by the settings file and the list files.
#pragma once

#include <optional>
#include <string>

namespace tapeloom {

// The whole content of a file, or nullopt when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Writes `text` to a temporary file beside `path` ("<name>.tmp", or another free name: a
// user's file or a link of that name is never opened), flushes it to the disk and renames it
// over `path`, so that a failure at any step leaves the old file as it was and no temporary
// behind. Returns an empty string on success, otherwise the system's reason.
std::string ReplaceFileAtomically(const std::string& path, const std::string& text);

// Appends printf-formatted text to `out`, whatever its length.
[[gnu::format(printf, 2, 3)]] void AppendFormat(std::string& out, const char* format, ...);

}  // namespace tapeloom
