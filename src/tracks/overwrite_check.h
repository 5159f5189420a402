#pragma once

#include <string_view>

#include "core/console_input.h"

namespace tapeloom {

// Before takes replace the record list's files: counts the files among the first n entries
// that exist (a "-" entry names none) and asks whether to overwrite them. Returns 1 to go
// ahead, 0 to go back. "W" goes ahead and sets dontAskAgain for the rest of the session.
int FILE_CHECK(int n, std::string_view listText, int& dontAskAgain, ConsoleInput& input);

}  // namespace tapeloom
