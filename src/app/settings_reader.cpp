#include <algorithm>
#include <cstdio>
#include <optional>

#include "app/settings_file.h"
#include "app/settings_keys.h"
#include "core/number_words.h"

namespace tapeloom {
namespace {

// Walks the text the way the file is laid out: a key at the start of a line, exactly one
// separator, then the fields of that line. Fields never run past the line's end.
class SettingsCursor {
 public:
  explicit SettingsCursor(std::string_view text) : text_(text) {}

  // The next word taken as a key: words are separated by tabs, spaces and line feeds. After a
  // key, the value fields start right after its single separator character.
  std::optional<std::string_view> NextKey() {
    while (pos_ < text_.size() && IsSeparator(text_[pos_])) ++pos_;
    if (pos_ >= text_.size()) return std::nullopt;
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !IsSeparator(text_[pos_])) ++pos_;
    const std::string_view key = text_.substr(start, pos_ - start);
    if (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;  // the key's own separator
    return key;
  }

  // An index or a position: up to the next tab on this line.
  std::string_view IndexField() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != '\t' && text_[pos_] != '\n') ++pos_;
    const std::string_view field = text_.substr(start, pos_ - start);
    if (pos_ < text_.size() && text_[pos_] == '\t') ++pos_;
    return field;
  }

  // The last field: the rest of the line.
  std::string_view LastField() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
    const std::string_view field = text_.substr(start, pos_ - start);
    if (pos_ < text_.size()) ++pos_;
    return field;
  }

 private:
  static bool IsSeparator(char c) { return c == '\t' || c == ' ' || c == '\n'; }

  std::string_view text_;
  std::size_t pos_ = 0;
};

bool InRange(int value, int low, int high) { return value >= low && value <= high; }

// A track line is accepted up to `ch` as read so far. That count is only limited to the 256
// tracks of the tables later, at start-up, so a larger one must not reach past them here.
bool IsTrackOf(int track, const SessionSettings& s) { return InRange(track, 1, std::min(s.ch, kMaxTracks)); }

}  // namespace

void GET_PARAMS(std::string_view text, SessionSettings& s) {
  SettingsCursor cursor(text);
  std::array<std::string, kMaxBusses> busTexts{};
  int rangeSlot = 0;
  int locateSlot = 0;

  while (const auto key = cursor.NextKey()) {
    if (const SettingKey* row = FindSettingKey(*key)) {
      row->read(cursor.LastField(), s);
    } else if (*key == "v" || *key == "p") {
      const int track = DecimalOrZero(cursor.IndexField());
      if (IsTrackOf(track, s)) {
        float& value = (*key == "v" ? s.v : s.p)[static_cast<std::size_t>(track - 1)];
        value = FloatField(cursor.LastField(), value);
      } else {
        cursor.LastField();
      }
    } else if (*key == "solo") {
      const int track = DecimalOrZero(cursor.LastField());
      if (IsTrackOf(track, s)) s.solo[track - 1] = 1;
    } else if (*key == "range") {
      // Ranges fill the slots in the order they come; lines after the 64th overwrite the last.
      TimeRange& slot = s.range[static_cast<std::size_t>(rangeSlot)];
      slot.in = DecimalOrZero(cursor.IndexField());
      slot.out = DecimalOrZero(cursor.IndexField());
      const std::string_view name = UpToNul(cursor.LastField());
      if (name.empty()) {
        slot.name = "range" + std::to_string(rangeSlot + 1);
        std::puts("Error parsing time ranges in param.txt file!");
      } else {
        slot.name = LimitPointName(name);
      }
      if (rangeSlot < kRangeSlots - 1) ++rangeSlot;
    } else if (*key == "loc") {
      LocatePoint& slot = s.loc[static_cast<std::size_t>(locateSlot)];
      slot.position = DecimalOrZero(cursor.IndexField());
      slot.name = LimitPointName(UpToNul(cursor.LastField()));
      if (locateSlot < kLocateSlots - 1) ++locateSlot;
    } else if (*key == "play" || *key == "rec") {
      // A slot out of range leaves the name unread: its words are then taken as keys.
      const int slot = DecimalOrZero(cursor.IndexField());
      if (InRange(slot, 1, kListSlots)) {
        const std::string_view name = cursor.LastField();
        if (!HoldsNul(name)) (*key == "play" ? s.play : s.rec)[static_cast<std::size_t>(slot - 1)] = std::string(name);
      }
    } else if (*key == "bus") {
      const int bus = DecimalOrZero(cursor.IndexField());
      const std::string_view list = cursor.LastField();
      if (InRange(bus, 1, kMaxBusses)) busTexts[static_cast<std::size_t>(bus - 1)] = std::string(list);
    } else if (*key == "busvl") {
      const int bus = DecimalOrZero(cursor.IndexField());
      if (InRange(bus, 1, kMaxBusses)) {
        float& level = s.busvl[static_cast<std::size_t>(bus - 1)];
        level = FloatField(cursor.LastField(), level);
      } else {
        cursor.LastField();
      }
    }
    // Any other word (a section header, an unknown setting) is passed over.
  }

  ActivateBusses(busTexts, s.busAssign, s.busActive);
}

void ActivateBusses(const std::array<std::string, kMaxBusses>& busTexts, BusAssignTable& busAssign,
                    std::array<int, kMaxBusses>& busActive) {
  for (std::size_t bus = 0; bus < busTexts.size(); ++bus) {
    std::string_view rest = busTexts[bus];
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      const int track = DecimalOrZero(rest.substr(0, comma));
      if (InRange(track, 1, kMaxTracks)) {
        busAssign[bus][static_cast<std::size_t>(track - 1)] = 1;
        busActive[bus] = 1;
      }
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
}

}  // namespace tapeloom
