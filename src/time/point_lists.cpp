#include "time/point_lists.h"

#include <cstdio>

#include "core/time_base.h"
#include "time/transport_points.h"

namespace tapeloom {
namespace {

bool IsSlot(const std::optional<int>& number, int slots) { return number && *number >= 1 && *number <= slots; }

void PrintLocatePage(const SessionSettings& s) {
  std::puts("Locate Points:");
  ListLocates(s);
}

}  // namespace

int CheckTimeRanges(const std::array<TimeRange, kRangeSlots>& ranges, std::array<int, kRangeSlots>& inUse) {
  int count = 0;
  for (std::size_t k = 0; k < ranges.size(); ++k) {
    inUse[k] = ranges[k].in > 0 || ranges[k].out > 0 ? 1 : 0;
    count += inUse[k];
  }
  return count;
}

void ListRanges(const SessionSettings& s, const std::array<int, kRangeSlots>& inUse) {
  for (std::size_t k = 0; k < s.range.size(); ++k) {
    if (inUse[k] != 1) continue;
    const TimeRange& r = s.range[k];
    const int slot = static_cast<int>(k + 1);
    if (s.tmode == 1) {
      const MusicalPosition in = SampleToMeasures(s.sig, s.tempo, r.in, s.sr);
      const MusicalPosition out = SampleToMeasures(s.sig, s.tempo, r.out, s.sr);
      std::printf("%i\t%i.%.2f\t%i.%.2f\t%s\n", slot, in.measure, static_cast<double>(in.beat), out.measure,
                  static_cast<double>(out.beat), r.name.c_str());
    } else {
      std::printf("%i\t%.2f\t%.2f\t%s\n", slot, static_cast<double>(PositionToSeconds(r.in, s.sr)),
                  static_cast<double>(PositionToSeconds(r.out, s.sr)), r.name.c_str());
    }
  }
}

void ListLocates(const SessionSettings& s) {
  for (std::size_t k = 0; k < s.loc.size(); ++k) {
    const LocatePoint& point = s.loc[k];
    if (point.position == 0) continue;
    const int slot = static_cast<int>(k + 1);
    if (s.tmode == 1) {
      const MusicalPosition at = SampleToMeasures(s.sig, s.tempo, point.position, s.sr);
      std::printf("%i\t%i.%.2f\t%s\n", slot, at.measure, static_cast<double>(at.beat), point.name.c_str());
    } else {
      std::printf("%i\t%.2f\t%s\n", slot, static_cast<double>(PositionToSeconds(point.position, s.sr)),
                  point.name.c_str());
    }
  }
}

void StoreLocateCommand(SessionSettings& s, ConsoleInput& input, std::string& word) {
  if (word.size() != 3 || word.substr(1) != ".l") return;
  const SamplePosition* point = PointByLetter(s, word[0]);
  if (point == nullptr) return;
  PrintLocatePage(s);
  std::printf("\nEnter locate point number (1-%i)\n", kLocateSlots);
  const auto slot = input.ReadInt();
  if (!IsSlot(slot, kLocateSlots)) return;
  s.loc[static_cast<std::size_t>(*slot - 1)].position = *point;
  std::puts("Stored locate point");
}

void RecallLocateCommand(SessionSettings& s, ConsoleInput& input, std::string& word) {
  PrintLocatePage(s);
  std::printf("Enter a locate point number (1-%i)\n", kLocateSlots);
  const auto slot = input.ReadInt();
  if (!IsSlot(slot, kLocateSlots) || word.size() != 3 || word.substr(0, 2) != "l.") return;
  if (SamplePosition* point = PointByLetter(s, word[2])) {
    *point = s.loc[static_cast<std::size_t>(*slot - 1)].position;
  }
}

void EditLocatesCommand(SessionSettings& s, ConsoleInput& input, std::string& word) {
  do {
    PrintLocatePage(s);
    std::puts("Enter 'n' to change name");
    std::puts("Enter 'k' to delete point");
    std::puts("Enter 'c' to continue");
    word = input.ReadWord();
    if (word == "n") {
      std::printf("Enter locate point\n");
      const auto slot = input.ReadInt();
      if (IsSlot(slot, kLocateSlots)) {
        std::printf("Enter a name for point %i\n", *slot);
        s.loc[static_cast<std::size_t>(*slot - 1)].name = LimitPointName(input.ReadWord());
      }
    } else if (word == "k") {
      std::printf("Enter locate point number\n");
      const auto slot = input.ReadInt();
      if (IsSlot(slot, kLocateSlots)) s.loc[static_cast<std::size_t>(*slot - 1)] = LocatePoint{};
    }
  } while (word != "c");
}

void StoreRangeCommand(SessionSettings& s, ConsoleInput& input) {
  std::array<int, kRangeSlots> inUse{};
  if (CheckTimeRanges(s.range, inUse) > 0) {
    std::puts("Loc\tIn\tOut\tName");
    ListRanges(s, inUse);
  } else {
    std::puts("All locations available");
  }
  std::printf("Enter location to store to (1-%i)\n", kRangeSlots);
  const auto slot = input.ReadInt();
  if (!IsSlot(slot, kRangeSlots)) return;
  TimeRange& range = s.range[static_cast<std::size_t>(*slot - 1)];
  range.in = s.i;
  range.out = s.o;
  std::puts("Enter a range name or '0' to skip");
  const std::string name = input.ReadWord();
  if (name != "0" && !name.empty()) range.name = LimitPointName(name);
}

void RecallRangeCommand(SessionSettings& s, ConsoleInput& input) {
  std::array<int, kRangeSlots> inUse{};
  if (CheckTimeRanges(s.range, inUse) == 0) {
    std::puts("No locations available");
    return;
  }
  std::puts("Loc\tIn\tOut\tName");
  ListRanges(s, inUse);
  std::printf("Enter location to recall (1-%i)\n", kRangeSlots);
  const auto slot = input.ReadInt();
  if (!IsSlot(slot, kRangeSlots)) return;
  const std::size_t index = static_cast<std::size_t>(*slot - 1);
  if (inUse[index] != 1) {
    std::printf("Location %i is empty\n", *slot);
    return;
  }
  s.i = s.range[index].in;
  s.o = s.range[index].out;
}

void EditRangesCommand(SessionSettings& s, ConsoleInput& input, std::string& word) {
  do {
    std::array<int, kRangeSlots> inUse{};
    if (CheckTimeRanges(s.range, inUse) == 0) {
      std::puts("No range locations to edit");
      return;
    }
    std::puts("Loc\tIn\tOut\tName");
    ListRanges(s, inUse);
    std::puts("Enter 'n' to change region name");
    std::puts("Enter 'k' to delete region");
    std::puts("Enter 'c' to continue");
    word = input.ReadWord();
    if (word == "k" || word == "n") {
      std::puts("Enter the range number");
      const auto slot = input.ReadInt();
      if (!IsSlot(slot, kRangeSlots)) continue;
      TimeRange& range = s.range[static_cast<std::size_t>(*slot - 1)];
      if (word == "k") {
        range = TimeRange{};
      } else {
        std::puts("Enter a new range name");
        const std::string name = input.ReadWord();
        if (!name.empty()) range.name = LimitPointName(name);
      }
    }
  } while (word != "c");
}

void PointListCommand(SessionSettings& s, ConsoleInput& input, std::string& word) {
  if (word == "ll") {
    EditLocatesCommand(s, input, word);
  } else {
    EditRangesCommand(s, input, word);
  }
}

}  // namespace tapeloom
