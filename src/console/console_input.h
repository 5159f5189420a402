// Words typed at the console. Every command and every answer is one whitespace-delimited
// word; numbers are read from a word, and a word that is no number is consumed all the same,
// so that no menu asks the same question forever on a word it cannot read.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tapeloom {

// Thrown when standard input ends, or when a signal comes while a word is awaited. The session
// ends as it does after "x" at that point.
class InputEnded : public std::runtime_error {
 public:
  InputEnded() : std::runtime_error("end of input") {}
};

class ConsoleInput {
 public:
  explicit ConsoleInput(std::FILE* in);

  // The next word. Standard output is flushed first so that a prompt without a line end is
  // on the screen before the program waits. Throws InputEnded at the end of input, and when
  // SIGINT, SIGTERM or SIGHUP comes while the program waits for it (the session ends with that
  // signal).
  std::string ReadWord();

  // A word read as "%i" (decimal, 0x hexadecimal, leading-zero octal); nullopt when the word
  // does not begin with a number.
  std::optional<int> ReadInt();

  // A word read as "%f"; nullopt when it does not begin with a number.
  std::optional<float> ReadFloat();

  // Reads words until `word` is typed; returns it.
  std::string WaitFor(std::string_view word);

 private:
  // The next character, or EOF.
  int Next();
  bool Fill();

  std::FILE* in_;
  // A stream with a descriptor (the terminal, a pipe, a file) is read here, in blocks, so that
  // the wait for input can also see signals; other streams are read through stdio.
  int fd_ = -1;
  std::string buffer_;
  std::size_t position_ = 0;
};

}  // namespace tapeloom
