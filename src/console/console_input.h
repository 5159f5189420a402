// Words typed at the console. Every command and every answer is one whitespace-delimited
// word; numbers are read from a word, and a word that is no number is consumed all the same,
// so that no menu asks the same question forever on a word it cannot read.
#pragma once

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tapeloom {

// Thrown when standard input ends. The session ends as it does after "x" at that point.
class InputEnded : public std::runtime_error {
 public:
  InputEnded() : std::runtime_error("end of input") {}
};

class ConsoleInput {
 public:
  explicit ConsoleInput(std::FILE* in) : in_(in) {}

  // The next word. Standard output is flushed first so that a prompt without a line end is
  // on the screen before the program waits. Throws InputEnded at the end of input.
  std::string ReadWord();

  // A word read as "%i" (decimal, 0x hexadecimal, leading-zero octal); nullopt when the word
  // does not begin with a number.
  std::optional<int> ReadInt();

  // A word read as "%f"; nullopt when it does not begin with a number.
  std::optional<float> ReadFloat();

  // Reads words until `word` is typed; returns it.
  std::string WaitFor(std::string_view word);

 private:
  std::FILE* in_;
};

}  // namespace tapeloom
