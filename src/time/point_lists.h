// The two tables of stored positions: 64 named locate points and 64 named ranges, with their
// listings and the console commands that store, recall, rename and clear them.
#pragma once

#include <array>
#include <string>

#include "core/console_input.h"
#include "core/session_settings.h"

namespace tapeloom {

// Marks the ranges in use (in or out above 0); returns how many are.
int CheckTimeRanges(const std::array<TimeRange, kRangeSlots>& ranges, std::array<int, kRangeSlots>& inUse);

// The lists in seconds (tmode 0) or measure.beat (tmode 1).
void ListRanges(const SessionSettings& s, const std::array<int, kRangeSlots>& inUse);
void ListLocates(const SessionSettings& s);

// "i.l", "o.l", "e.l", "m.l": store a point into a locate slot. Other words with ".l" do nothing.
void StoreLocateCommand(SessionSettings& s, ConsoleInput& input, std::string& word);
// Any word with "l.": lists and asks for a slot; "l.i", "l.o", "l.e", "l.m" recall it.
void RecallLocateCommand(SessionSettings& s, ConsoleInput& input, std::string& word);
// "ll": list locate points, rename or clear them until "c".
void EditLocatesCommand(SessionSettings& s, ConsoleInput& input, std::string& word);
// "io.": store the play range into a range slot (TimeRangeStore).
void StoreRangeCommand(SessionSettings& s, ConsoleInput& input);
// ".io": recall a range into the play start and stop (TimeRangeRecall).
void RecallRangeCommand(SessionSettings& s, ConsoleInput& input);
// "lio": list ranges, rename or clear them until "c" (EditRange).
void EditRangesCommand(SessionSettings& s, ConsoleInput& input, std::string& word);
// Test 28 of the command table: "ll" or "lio".
void PointListCommand(SessionSettings& s, ConsoleInput& input, std::string& word);

}  // namespace tapeloom
