// param.txt: the tab-separated settings file read once at start-up and written by "s" and
// after a first-run start.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/session_settings.h"

namespace tapeloom {

inline constexpr const char* kSettingsFileName = "param.txt";

// Reads the whole text of param.txt into `settings`, overwriting the fields whose keys it
// finds, then applies the bus lists (ActivateBusses). Prints only the range message.
void GET_PARAMS(std::string_view text, SessionSettings& settings);

// Applies the stored bus lists ("1,2,5,") to the bus tables. Nothing is ever cleared.
void ActivateBusses(const std::array<std::string, kMaxBusses>& busTexts, BusAssignTable& busAssign,
                    std::array<int, kMaxBusses>& busActive);

// The whole file as the save command writes it.
std::string ComposeSettingsText(const SessionSettings& settings);

// The seven lines written after a first-run start.
std::string ComposeFirstRunSettingsText(const SessionSettings& settings);

// "s": replaces param.txt with the whole settings text and prints "\nStored Settings\n".
// A failure leaves the old file untouched, is reported, and returns false.
bool Store_Settings(const SessionSettings& settings);

// After a first-run start: writes the seven-line param.txt and prints "Created param.txt file".
bool MAKE_PARAM_FILE(const SessionSettings& settings);

}  // namespace tapeloom
