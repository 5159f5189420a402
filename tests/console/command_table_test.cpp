// Which test of the command table a word reaches, and in what order the tests are made.
#include <gtest/gtest.h>

#include <vector>

#include "console/command_table.h"

namespace tapeloom {
namespace {

using Orders = std::vector<int>;

// The tests of the command table that a word reaches, through the dispatcher itself, with no
// handler run.
Orders MatchingTests(std::string word, bool mixerActive) {
  Orders orders;
  OfferToTests(CommandTable(), word, mixerActive, [&](const CommandTest& test) { orders.push_back(test.order); });
  return orders;
}

TEST(CommandTable, ThirtyNineTestsInOrder) {
  const auto table = CommandTable();
  ASSERT_EQ(table.size(), 39u);
  for (std::size_t k = 0; k < table.size(); ++k) EXPECT_EQ(table[k].order, static_cast<int>(k + 1));
}

TEST(CommandTable, EveryCommandWordReachesItsTest) {
  const std::pair<const char*, int> words[] = {
      {"+", 1},        {"h", 1},         {"opt", 2},  {"tempo", 3}, {"safe", 4}, {"exp-i", 5}, {"exp-s", 5},
      {"mix", 6},      {"d", 7},         {"io.", 9},  {".io", 10},  {"x", 11},   {"s", 12},    {"p", 13},
      {"sp", 14},      {"i12.5", 16},    {"o3", 16},  {"e0.5", 16}, {"j", 17},   {"J", 17},    {"n", 18},
      {"b", 18},       {"N", 18},        {"B", 18},   {"no", 18},   {"bo", 18},  {"ne", 18},   {"be", 18},
      {"nn", 19},      {"mtr", 20},      {"pre", 21}, {"cf", 22},   {"aa", 23},  {"ai", 24},   {"ao", 24},
      {"ae", 24},      {"i.e", 25},      {"e.i", 25}, {"o.e", 25},  {"e.o", 25}, {"o.i", 25},  {"i.o", 25},
      {"i.m", 25},     {"o.m", 25},      {"e.m", 25}, {"m.i", 25},  {"m.o", 25}, {"m.e", 25},  {"i.l", 26},
      {"o.l", 26},     {"e.l", 26},      {"m.l", 26}, {"l.i", 27},  {"l.o", 27}, {"l.e", 27},  {"l.m", 27},
      {"ll", 28},      {"lio", 28},      {"pf", 29},  {"rf", 29},   {"bus", 30}, {"f", 31},    {"r_vox2", 32},
      {"R_take2", 32}, {"ri_take2", 32}, {"R_", 32},  {"r", 33},    {"R", 33},   {"ri", 33},   {"ma", 34},
      {"mr", 34},      {"lr", 35},       {"lp", 35},  {"so", 36},   {"mod", 37}, {"cal", 38},  {"disk", 39},
  };
  for (const auto& [word, order] : words) EXPECT_EQ(MatchingTests(word, false), Orders{order}) << word;
}

TEST(CommandTable, CommandsBeginningWithAPointLetterAreNotTimeEntries) {
  for (const char* word : {"io.", "io", "opt", "exp-s", "exp-i", "i.5", "i.e", "o.m", "e.l", "e.x"}) {
    EXPECT_FALSE(IsDirectPointEntry(word)) << word;
  }
  for (const char* word : {"i12.5", "i", "o", "e", "ins", "o2", "e5.3", "exp", "opt2", "iox"}) {
    EXPECT_TRUE(IsDirectPointEntry(word)) << word;
  }
}

TEST(CommandTable, UnknownWordsMatchNothing) {
  for (const char* word : {"", "hello", "io", "i.5", "X", "rr", "mixer", "c", "0", "-"}) {
    EXPECT_EQ(MatchingTests(word, false), Orders{}) << word;
  }
}

TEST(CommandTable, ContainsTestsLookAnywhereInTheWord) {
  EXPECT_EQ(MatchingTests("xr_take", false), Orders{32});
  EXPECT_EQ(MatchingTests("take.low", false), Orders{26});
}

TEST(CommandTable, ElseChainStopsAtTheFirstMatch) {
  // ".l" and "l." both occur: the store wins and the recall is not tried.
  EXPECT_EQ(MatchingTests("l.l", false), Orders{26});
  // Outside the chain, tests are made independently: a point entry that also holds "l.".
  EXPECT_EQ(MatchingTests("il.x", false), (Orders{16, 27}));
}

TEST(CommandTable, LaterTestsSeeTheWordAsAHandlerLeftIt) {
  // A handler that reads answers leaves the last answer in the word: "+" turned into "x" by
  // test 1 goes on to test 11.
  Orders orders;
  std::string word = "+";
  const std::string answer = "x";
  OfferToTests(CommandTable(), word, false, [&](const CommandTest& test) {
    orders.push_back(test.order);
    if (test.order == 1) word.assign(answer);
  });
  EXPECT_EQ(orders, (Orders{1, 11}));
  EXPECT_EQ(word, "x");
}

TEST(CommandTable, MixerConsoleTestMatchesWhileTheConsoleIsOn) {
  EXPECT_EQ(MatchingTests("zzz", true), Orders{8});
  EXPECT_EQ(MatchingTests("mod", true), (Orders{8, 37}));
}

}  // namespace
}  // namespace tapeloom
