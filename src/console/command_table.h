// The command table: the tests that every command word is offered to, in order. After a
// handler runs, the remaining tests are still made on the word then in the buffer, so a
// handler that reads answers leaves there a word that matches no later test. The handlers
// adapt the session to the commands of each subsystem, which take only the pieces they use.
#pragma once

#include <array>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace tapeloom {

struct Session;

enum class MatchKind {
  Equals,            // the whole word is one of the words
  Contains,          // one of the words occurs anywhere in the word
  MixerActive,       // the mixer console is on, whatever the word
  DirectPointEntry,  // i, o or e followed by a time (see IsDirectPointEntry)
};

// Else: the test is made only when the test just before it did not match (nor the one before
// that, for a chain of several).
enum class Chain { Alone, Else };

using CommandHandler = void (*)(Session& session, std::string& word);

struct CommandTest {
  int order;
  Chain chain;
  MatchKind kind;
  std::array<std::string_view, 12> words;
  CommandHandler handler;
};

std::span<const CommandTest> CommandTable();

bool Matches(const CommandTest& test, std::string_view word, bool mixerActive);

// Test 16: a word that starts with i, o or e and is none of the other commands that begin with
// that letter ("i." anywhere, io, io.; "o." anywhere, opt; "e." anywhere, exp-s, exp-i).
bool IsDirectPointEntry(std::string_view word);

// Offers the word to every test of a table in order and calls matched(test) for each test that
// matches the word as it is then (a handler may change it). mixerActive is read at each test: a
// handler may turn the mixer console on or off.
void OfferToTests(std::span<const CommandTest> table, std::string& word, const bool& mixerActive,
                  const std::function<void(const CommandTest&)>& matched);

// Offers the word to the command table and runs the handlers of the tests that match.
void OfferToCommandTable(Session& session, std::string& word);

}  // namespace tapeloom
