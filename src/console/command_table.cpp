#include "console/command_table.h"

#include "app/session.h"
#include "audio/run_commands.h"
#include "console/session_commands.h"
#include "takes/take_naming.h"
#include "time/point_commands.h"
#include "time/point_lists.h"
#include "tracks/list_listings.h"

namespace tapeloom {
namespace {

using enum MatchKind;
using enum Chain;

// Tests whose handler is nullptr belong to features not built yet.
// clang-format off
constexpr CommandTest kCommandTable[] = {
//  order chain  match             words                                        handler
    {1,   Alone, Equals,           {"+", "h"},                                  ShowHelpCommand},
    {2,   Alone, Equals,           {"opt"},                                     nullptr},  // options menu
    {3,   Alone, Equals,           {"tempo"},                                   nullptr},  // tempo menu
    {4,   Alone, Equals,           {"safe"},                                    nullptr},  // safety mode
    {5,   Alone, Equals,           {"exp-i", "exp-s"},                          nullptr},  // mix export
    {6,   Alone, Equals,           {"mix"},                                     nullptr},  // mixer console on/off
    {7,   Alone, Equals,           {"d"},                                       nullptr},  // mixer console off
    {8,   Alone, MixerActive,      {},                                          nullptr},  // mixer console word
    {9,   Alone, Equals,           {"io."},                                     StoreRangeCommand},
    {10,  Alone, Equals,           {".io"},                                     RecallRangeCommand},
    {11,  Alone, Equals,           {"x"},                                       ExitCommand},
    {12,  Alone, Equals,           {"s"},                                       SaveCommand},
    {13,  Alone, Equals,           {"p"},                                       PlayCommand},
    {14,  Alone, Equals,           {"sp"},                                      PlayCommand},
    {15,  Alone, Equals,           {"i", "o", "e"},                             PromptForPointCommand},
    {16,  Alone, DirectPointEntry, {},                                          DirectPointEntryCommand},
    {17,  Alone, Equals,           {"j", "J"},                                  JumpCommand},
    {18,  Alone, Equals,           {"n", "b", "N", "B", "no", "bo", "ne", "be"}, NudgeCommand},
    {19,  Alone, Equals,           {"nn"},                                      NudgeAmountCommand},
    {20,  Alone, Equals,           {"mtr"},                                     nullptr},  // meter range
    {21,  Alone, Equals,           {"pre"},                                     nullptr},  // preroll
    {22,  Alone, Equals,           {"cf"},                                      nullptr},  // crossfade length
    {23,  Alone, Equals,           {"aa"},                                      nullptr},  // audition length
    {24,  Alone, Equals,           {"ai", "ao", "ae"},                          AuditionCommand},
    {25,  Alone, Equals,           {"i.e", "e.i", "o.e", "e.o", "o.i", "i.o",
                                    "i.m", "o.m", "e.m", "m.i", "m.o", "m.e"},  CopyPointCommand},
    {26,  Alone, Contains,         {".l"},                                      StoreLocateCommand},
    {27,  Else,  Contains,         {"l."},                                      RecallLocateCommand},
    {28,  Else,  Equals,           {"ll", "lio"},                               PointListCommand},
    {29,  Else,  Equals,           {"pf", "rf"},                                nullptr},  // list-file selection
    {30,  Else,  Equals,           {"bus"},                                     nullptr},  // bus routing
    {31,  Else,  Equals,           {"f"},                                       LongestFileStopCommand},
    {32,  Alone, Contains,         {"r_", "R_", "ri_"},                         TakeNameCommand},
    {33,  Alone, Equals,           {"r", "R", "ri"},                            RecordCommand},
    {34,  Alone, Equals,           {"ma", "mr"},                                MonitorCommand},
    {35,  Alone, Equals,           {"lr", "lp"},                                ListListingCommand},
    {36,  Alone, Equals,           {"so"},                                      nullptr},  // solo assignments
    {37,  Alone, Equals,           {"mod"},                                     nullptr},  // mix mode
};
// clang-format on

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

std::vector<int> MatchingTests(std::string_view word, bool mixerActive) {
  std::vector<int> orders;
  bool chainMatched = false;
  for (const CommandTest& test : kCommandTable) {
    if (test.chain == Else && chainMatched) continue;
    chainMatched = Matches(test, word, mixerActive);
    if (chainMatched) orders.push_back(test.order);
  }
  return orders;
}

void OfferToCommandTable(Session& session, std::string& word) {
  bool chainMatched = false;
  for (const CommandTest& test : kCommandTable) {
    if (test.chain == Else && chainMatched) continue;
    chainMatched = Matches(test, word, session.mixerView);
    if (chainMatched && test.handler != nullptr && test.handler(session, word) == PassOutcome::EndPass) {
      return;
    }
  }
}

}  // namespace tapeloom
