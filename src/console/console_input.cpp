#include "console/console_input.h"

#include <cctype>

#include "console/number_words.h"

namespace tapeloom {

std::string ConsoleInput::ReadWord() {
  std::fflush(stdout);
  int c = std::getc(in_);
  while (c != EOF && std::isspace(c)) c = std::getc(in_);
  if (c == EOF) throw InputEnded();
  std::string word;
  while (c != EOF && !std::isspace(c)) {
    word.push_back(static_cast<char>(c));
    c = std::getc(in_);
  }
  return word;
}

std::optional<int> ConsoleInput::ReadInt() { return ParseCInt(ReadWord()); }

std::optional<float> ConsoleInput::ReadFloat() { return ParseFloat(ReadWord()); }

std::string ConsoleInput::WaitFor(std::string_view word) {
  for (;;) {
    std::string typed = ReadWord();
    if (typed == word) return typed;
  }
}

}  // namespace tapeloom
