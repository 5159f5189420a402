#include "console/list_selection.h"

#include <cstdio>
#include <optional>
#include <string_view>

#include "core/number_words.h"

namespace tapeloom {
namespace {

// The texts that name the table: its heading, and the words before the list in use in
// "\nCurrently playing from %s\n\n" and "Set to play from %s\n\n".
struct SelectionTexts {
  const char* stored;
  const char* current;
  const char* setTo;
};

SelectionTexts TextsFor(ListKind kind) {
  if (kind == ListKind::kPlaylist) return {"Stored playlist filenames:\n", "playing from", "play from"};
  return {"Stored recordlist filenames:\n", "recording to", "record from"};
}

// A slot number 1..128 typed by the user, as an index; nullopt for anything else.
std::optional<std::size_t> Slot(std::optional<int> number) {
  if (!number || *number < 1 || *number > kListSlots) return std::nullopt;
  return static_cast<std::size_t>(*number - 1);
}

// The tracks of a comma-separated list ("1,3,9"): every piece that reads as 1..ch.
template <typename Apply>
void ForEachListedTrack(std::string_view list, int ch, Apply apply) {
  while (true) {
    const std::size_t comma = list.find(',');
    const std::optional<int> track = ParseDecimal(list.substr(0, comma));
    if (track && *track >= 1 && *track <= ch && *track <= kMaxTracks) apply(static_cast<std::size_t>(*track - 1));
    if (comma == std::string_view::npos) return;
    list.remove_prefix(comma + 1);
  }
}

}  // namespace

void ListSelectionCommand(std::array<std::string, kListSlots>& slots, ListKind kind, ConsoleInput& input,
                          std::string& word) {
  const SelectionTexts texts = TextsFor(kind);
  do {
    std::printf("%s", texts.stored);
    for (std::size_t k = 0; k < slots.size(); ++k) {
      if (!slots[k].empty()) std::printf("%i\t%s\n", static_cast<int>(k + 1), slots[k].c_str());
    }
    std::printf("\nCurrently %s %s\n\n", texts.current, slots[0].c_str());
    std::puts("Enter a new filename to load");
    std::puts("or enter a number of a file in the list or");
    std::puts("'rem' to remove a file from the list");
    std::puts("'a'   to add a new file to the list");
    std::puts("'ac'  to add current file to list");
    std::puts("'d'   when done");
    word = input.ReadWord();
    if (const std::optional<std::size_t> chosen = Slot(ParseDecimal(word))) {
      slots[0] = std::string(slots[*chosen]);
      word.assign(1, 'd');
    } else if (word == "rem") {
      std::puts("Enter the number to remove");
      if (const auto slot = Slot(input.ReadInt())) slots[*slot].clear();
    } else if (word == "a") {
      std::puts("Enter the filename to add");
      const std::string name = input.ReadWord();
      std::puts("Enter the list position (1-128)");
      if (const auto slot = Slot(input.ReadInt())) slots[*slot] = name;
    } else if (word == "ac") {
      std::puts("Enter the list position (1-128)");
      if (const auto slot = Slot(input.ReadInt())) slots[*slot] = slots[0];
    } else if (word != "d") {
      slots[0] = word;
      word.assign(1, 'd');
    }
    std::printf("Set to %s %s\n\n", texts.setTo, slots[0].c_str());
  } while (word != "d");
}

void SoloCommand(SessionSettings& s, ConsoleInput& input, std::string& word) {
  do {
    std::printf("Solo Enabled Tracks:");
    bool any = false;
    for (int t = 0; t < s.ch && t < kMaxTracks; ++t) {
      if (s.solo[static_cast<std::size_t>(t)] != 1) continue;
      std::printf(" %i", t + 1);
      any = true;
    }
    if (!any) std::printf(" (none)");
    std::printf("\n");
    std::puts("'a' add, 'r' remove, 'd' done");
    word = input.ReadWord();
    if (word == "a" || word == "r") {
      std::puts(word == "a" ? "Enter track number to add, or multiple if comma separated"
                            : "Enter track number to remove, or multiple if comma separated");
      const std::string list = input.ReadWord();
      const int flag = word == "a" ? 1 : 0;
      ForEachListedTrack(list, s.ch, [&](std::size_t track) { s.solo[track] = flag; });
    }
  } while (word != "d");
}

}  // namespace tapeloom
