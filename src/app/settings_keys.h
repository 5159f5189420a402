// The settings that param.txt holds one to a line, "key<TAB>value": one row each, which both
// the reader and the writer follow. A row reads its value from the rest of the line (a value it
// cannot read leaves the setting as it is, or as the row's rule says) and writes it in the form
// the file has always had. Adding such a setting is adding a row. The settings with an index
// (a track's volume, a range, a list slot, a bus) are read and written beside the table.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "core/session_settings.h"

namespace tapeloom {

struct SettingKey {
  std::string_view key;
  void (*read)(std::string_view value, SessionSettings& s);
  void (*write)(std::string& text, const SessionSettings& s);  // the value only
};

// In the order the file is written; the first kFirstRunKeys are the lines a first-run start
// writes.
std::span<const SettingKey> SettingKeys();
inline constexpr std::size_t kFirstRunKeys = 7;

// The row of a key, or null.
const SettingKey* FindSettingKey(std::string_view key);

// A name with a NUL byte in it cannot be handed on as the name it is (the system would see it
// end at the NUL): a device or list file name holding one is refused, and a point's name, which
// is only shown, ends there.
bool HoldsNul(std::string_view name);
std::string_view UpToNul(std::string_view name);

}  // namespace tapeloom
