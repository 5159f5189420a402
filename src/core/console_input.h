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

// Lines typed with editing at a terminal (console/line_editor.h). While one is installed, the
// console's words come from its lines instead of straight from the descriptor.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // The next line, without its end. False at the end of input, and when a signal comes while
  // the line is typed (the signal stays pending: the console decides what it does); the line
  // being typed is then dropped.
  virtual bool ReadLine(std::string& line) = 0;
};

class ConsoleInput {
 public:
  explicit ConsoleInput(std::FILE* in);

  // The next word. Standard output is flushed first so that a prompt without a line end is
  // on the screen before the program waits (a line source shows it itself). Throws InputEnded
  // at the end of input, and when SIGTERM or SIGHUP comes while the program waits for it (the
  // session ends with that signal). SIGINT does the same, unless the input is a terminal:
  // there a stray Ctrl-C only says how to leave, drops what was typed, and the wait goes on.
  std::string ReadWord();

  // A word read as "%i" (decimal, 0x hexadecimal, leading-zero octal); nullopt when the word
  // does not begin with a number.
  std::optional<int> ReadInt();

  // A word read as "%f"; nullopt when it does not begin with a number.
  std::optional<float> ReadFloat();

  // Reads words until `word` is typed; returns it.
  std::string WaitFor(std::string_view word);

  // Whether the words come from a terminal (a person typing rather than a script or a pipe).
  bool AtTerminal() const { return atTerminal_; }
  int Descriptor() const { return fd_; }

  // Lines come from `source` from now on, or from the descriptor again when it is nullptr.
  // The source must outlive its installation.
  void SetLineSource(LineSource* source) { lines_ = source; }

 private:
  // The next character, or EOF.
  int Next();
  bool Fill();
  bool WordBuffered() const;
  // A signal that came while the program was busy, or comes while it waits for a word, ends the
  // session at this prompt; once it has, no further word is read, and the questions asked on the
  // way out (a list gone missing) end as at the end of input. A Ctrl-C at a terminal only says how
  // to leave, drops what was typed and sets `stray`. Whether the session has ended.
  bool EndedBySignal(bool* stray = nullptr);

  std::FILE* in_;
  // A stream with a descriptor (the terminal, a pipe, a file) is read here, in blocks, so that
  // the wait for input can also see signals; other streams are read through stdio.
  int fd_ = -1;
  bool atTerminal_ = false;
  LineSource* lines_ = nullptr;
  std::string buffer_;
  std::size_t position_ = 0;
};

}  // namespace tapeloom
