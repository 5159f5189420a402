#include "console/command_table.h"

#include <algorithm>
#include <ranges>

#include "app/settings_file.h"
#include "audio/latency_calibration.h"
#include "audio/run_commands.h"
#include "audio/storage_check.h"
#include "console/help_page.h"
#include "console/list_selection.h"
#include "console/session.h"
#include "console/settings_commands.h"
#include "mix/mix_export.h"
#include "mix/mixer_console.h"
#include "takes/take_naming.h"
#include "time/point_commands.h"
#include "time/point_lists.h"
#include "time/transport_points.h"
#include "tracks/list_listings.h"

namespace tapeloom {
namespace {

using enum MatchKind;
using enum Chain;

int Period(const Session& s) { return s.port->PeriodFrames(); }

// The handlers: each hands its command the pieces of the session it works on.
void ShowHelp(Session& s, std::string& word) { ShowHelpPage(s.input, word); }
void Exit(Session& s, std::string&) { s.exitRequested = true; }
void Save(Session& s, std::string&) { Store_Settings(s.settings); }
void StoreRange(Session& s, std::string&) { StoreRangeCommand(s.settings, s.input); }
void RecallRange(Session& s, std::string&) { RecallRangeCommand(s.settings, s.input); }
void Calibrate(Session& s, std::string&) { CalibrateCommand(s.ForRun()); }
void StorageCheck(Session& s, std::string&) { StorageCheckCommand(s.settings, s.input); }
void Play(Session& s, std::string& word) { s.pendingRun = PlayCommand(word); }
void PromptForPoint(Session& s, std::string& word) { PromptForPointCommand(s.settings, s.input, Period(s), word); }
void EnterPoint(Session& s, std::string& word) { DirectPointEntryCommand(s.settings, Period(s), word); }
void Jump(Session& s, std::string& word) { JumpCommand(s.settings, Period(s), word); }
void Nudge(Session& s, std::string& word) { NudgePoints(s.settings, word, s.derived.nudgeStep, Period(s)); }
void NudgeAmount(Session& s, std::string&) { NudgeAmountCommand(s.settings, s.input, Period(s), s.derived.nudgeStep); }
void Audition(Session& s, std::string& word) {
  s.pendingRun = AuditionCommand(s.settings, s.derived.auditionFrames, word);
}
void Copy(Session& s, std::string& word) { CopyPoint(s.settings, word); }
void StoreLocate(Session& s, std::string& word) { StoreLocateCommand(s.settings, s.input, word); }
void RecallLocate(Session& s, std::string& word) { RecallLocateCommand(s.settings, s.input, word); }
void PointList(Session& s, std::string& word) { PointListCommand(s.settings, s.input, word); }
void LongestFileStop(Session& s, std::string&) { LongestFileStopCommand(s.settings); }
void TakeName(Session& s, std::string& word) { TakeNameCommand(s.takes, word); }
void Record(Session& s, std::string& word) {
  if (auto run = RecordCommand(s.settings, s.input, s.derived.prerollFrames, word)) s.pendingRun = run;
}
void Monitor(Session& s, std::string& word) { s.pendingRun = MonitorCommand(s.settings, s.input, word); }
void ListListing(Session& s, std::string& word) { ListListingCommand(s.settings, s.input, word); }
void Export(Session& s, std::string& word) { ExportCommand(s.settings, s.input, s.mixer, s.gains, word); }
void ToggleMixer(Session& s, std::string&) { s.mixerView = !s.mixerView; }
void CloseMixer(Session& s, std::string&) { s.mixerView = false; }
void MixerWord(Session& s, std::string& word) { MixerConsoleWord(s.settings, s.input, word); }
void BusRouting(Session& s, std::string&) { BusRoutingPage(s.settings, s.input); }
void MixMode(Session& s, std::string&) { MixModeMenu(s.settings, s.input); }
void Options(Session& s, std::string& word) { OptionsCommand(s.settings, s.input, word); }
void Tempo(Session& s, std::string&) { TempoCommand(s.settings, s.input); }
void Safety(Session& s, std::string& word) { SafetyCommand(s.settings, s.input, word); }
void MeterRange(Session& s, std::string&) { MeterRangeCommand(s.settings, s.input, s.derived.meter); }
void Preroll(Session& s, std::string& word) {
  PrerollCommand(s.settings, s.input, Period(s), s.derived.prerollFrames, word);
}
void Crossfade(Session& s, std::string&) { CrossfadeCommand(s.settings, s.input, s.derived.xfadeHalf); }
void AuditionLength(Session& s, std::string&) { AuditionLengthCommand(s.settings, s.input, s.derived.auditionFrames); }
void SelectList(Session& s, std::string& word) {
  const bool playlist = word == "pf";
  ListSelectionCommand(playlist ? s.settings.play : s.settings.rec,
                       playlist ? ListKind::kPlaylist : ListKind::kRecordList, s.input, word);
}
void Solo(Session& s, std::string& word) { SoloCommand(s.settings, s.input, word); }

// clang-format off
constexpr CommandTest kCommandTable[] = {
//  order chain  match             words                                        handler
    {1,   Alone, Equals,           {"+", "h"},                                  ShowHelp},
    {2,   Alone, Equals,           {"opt"},                                     Options},
    {3,   Alone, Equals,           {"tempo"},                                   Tempo},
    {4,   Alone, Equals,           {"safe"},                                    Safety},
    {5,   Alone, Equals,           {"exp-i", "exp-s"},                          Export},
    {6,   Alone, Equals,           {"mix"},                                     ToggleMixer},
    {7,   Alone, Equals,           {"d"},                                       CloseMixer},
    {8,   Alone, MixerActive,      {},                                          MixerWord},
    {9,   Alone, Equals,           {"io."},                                     StoreRange},
    {10,  Alone, Equals,           {".io"},                                     RecallRange},
    {11,  Alone, Equals,           {"x"},                                       Exit},
    {12,  Alone, Equals,           {"s"},                                       Save},
    {13,  Alone, Equals,           {"p"},                                       Play},
    {14,  Alone, Equals,           {"sp"},                                      Play},
    {15,  Alone, Equals,           {"i", "o", "e"},                             PromptForPoint},
    {16,  Alone, DirectPointEntry, {},                                          EnterPoint},
    {17,  Alone, Equals,           {"j", "J"},                                  Jump},
    {18,  Alone, Equals,           {"n", "b", "N", "B", "no", "bo", "ne", "be"}, Nudge},
    {19,  Alone, Equals,           {"nn"},                                      NudgeAmount},
    {20,  Alone, Equals,           {"mtr"},                                     MeterRange},
    {21,  Alone, Equals,           {"pre"},                                     Preroll},
    {22,  Alone, Equals,           {"cf"},                                      Crossfade},
    {23,  Alone, Equals,           {"aa"},                                      AuditionLength},
    {24,  Alone, Equals,           {"ai", "ao", "ae"},                          Audition},
    {25,  Alone, Equals,           {"i.e", "e.i", "o.e", "e.o", "o.i", "i.o",
                                    "i.m", "o.m", "e.m", "m.i", "m.o", "m.e"},  Copy},
    {26,  Alone, Contains,         {".l"},                                      StoreLocate},
    {27,  Else,  Contains,         {"l."},                                      RecallLocate},
    {28,  Else,  Equals,           {"ll", "lio"},                               PointList},
    {29,  Else,  Equals,           {"pf", "rf"},                                SelectList},
    {30,  Else,  Equals,           {"bus"},                                     BusRouting},
    {31,  Else,  Equals,           {"f"},                                       LongestFileStop},
    {32,  Alone, Contains,         {"r_", "R_", "ri_"},                         TakeName},
    {33,  Alone, Equals,           {"r", "R", "ri"},                            Record},
    {34,  Alone, Equals,           {"ma", "mr"},                                Monitor},
    {35,  Alone, Equals,           {"lr", "lp"},                                ListListing},
    {36,  Alone, Equals,           {"so"},                                      Solo},
    {37,  Alone, Equals,           {"mod"},                                     MixMode},
    {38,  Alone, Equals,           {"cal"},                                     Calibrate},
    {39,  Alone, Equals,           {"disk"},                                    StorageCheck},
};
// clang-format on
// The order numbers name the tests in help and comments: they count from 1 in the table's order.
static_assert(std::ranges::equal(kCommandTable | std::views::transform(&CommandTest::order),
                                 std::views::iota(1, int(std::size(kCommandTable)) + 1)));

}  // namespace

std::span<const CommandTest> CommandTable() { return kCommandTable; }

bool IsDirectPointEntry(std::string_view word) {
  if (word.starts_with('i')) return word.find("i.") == std::string_view::npos && word != "io" && word != "io.";
  if (word.starts_with('o')) return word.find("o.") == std::string_view::npos && word != "opt";
  if (word.starts_with('e')) {
    return word.find("e.") == std::string_view::npos && word != "exp-s" && word != "exp-i";
  }
  return false;
}

bool Matches(const CommandTest& test, std::string_view word, bool mixerActive) {
  switch (test.kind) {
    case Equals:
      for (std::string_view candidate : test.words) {
        if (!candidate.empty() && word == candidate) return true;
      }
      return false;
    case Contains:
      for (std::string_view candidate : test.words) {
        if (!candidate.empty() && word.find(candidate) != std::string_view::npos) return true;
      }
      return false;
    case MixerActive: return mixerActive;
    case DirectPointEntry: return IsDirectPointEntry(word);
  }
  return false;
}

void OfferToTests(std::span<const CommandTest> table, std::string& word, const bool& mixerActive,
                  const std::function<void(const CommandTest&)>& matched) {
  bool chainMatched = false;
  for (const CommandTest& test : table) {
    if (test.chain == Else && chainMatched) continue;
    chainMatched = Matches(test, word, mixerActive);
    if (chainMatched) matched(test);
  }
}

void OfferToCommandTable(Session& session, std::string& word) {
  OfferToTests(kCommandTable, word, session.mixerView, [&](const CommandTest& test) { test.handler(session, word); });
}

}  // namespace tapeloom
