#include "console/console_input.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "console/number_words.h"
#include "console/session_signals.h"

namespace tapeloom {

namespace {

constexpr std::size_t kReadBlock = 4096;

// A signal that came while the program was busy, or comes while it waits for a word, ends the
// session at this prompt. Once it has, no further word is read: the questions asked on the
// way out (a list gone missing) end as they do at the end of input.
bool EndedBySignal() {
  if (const int signal = TakeSignal(); signal != 0) EndSessionBySignal(signal);
  return SessionEndSignal() != 0;
}

// Words are separated by white space. A NUL byte ends a word too: the system would cut a name
// that held one there, and open another file than the one shown.
bool Separates(int c) { return c == '\0' || std::isspace(c) != 0; }

}  // namespace

ConsoleInput::ConsoleInput(std::FILE* in) : in_(in), fd_(::fileno(in)) {}

bool ConsoleInput::Fill() {
  for (;;) {
    if (WaitForInputOrSignal(fd_) != 0 && EndedBySignal()) return false;
    buffer_.resize(kReadBlock);
    const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    buffer_.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    position_ = 0;
    return got > 0;
  }
}

int ConsoleInput::Next() {
  if (fd_ < 0) return std::getc(in_);
  if (position_ == buffer_.size() && !Fill()) return EOF;
  return static_cast<unsigned char>(buffer_[position_++]);
}

std::string ConsoleInput::ReadWord() {
  std::fflush(stdout);
  if (EndedBySignal()) throw InputEnded();
  int c = Next();
  while (c != EOF && Separates(c)) c = Next();
  if (c == EOF) throw InputEnded();
  std::string word;
  while (c != EOF && !Separates(c)) {
    word.push_back(static_cast<char>(c));
    c = Next();
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
