#pragma once

#include <string>

#include "core/console_input.h"

namespace tapeloom {

// "+" and "h": the page of all functions, then "Enter 'c' continue" until "c" is typed. The
// word left in `word` is "c".
void ShowHelpPage(ConsoleInput& input, std::string& word);

}  // namespace tapeloom
