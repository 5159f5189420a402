#include "core/console_input.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>

#include "core/number_words.h"
#include "core/session_signals.h"

namespace tapeloom {

namespace {

constexpr std::size_t kReadBlock = 4096;

// Words are separated by white space. A NUL byte ends a word too: the system would cut a name
// that held one there, and open another file than the one shown.
bool Separates(int c) { return c == '\0' || std::isspace(c) != 0; }

}  // namespace

ConsoleInput::ConsoleInput(std::FILE* in) : in_(in), fd_(::fileno(in)), atTerminal_(fd_ >= 0 && ::isatty(fd_) == 1) {}

bool ConsoleInput::EndedBySignal(bool* stray) {
  // Taken once, then judged: a Ctrl-C that came between a look and a take would otherwise end the session.
  const int signal = TakeSignal();
  if (signal == SIGINT && atTerminal_) {
    // What was typed before the Ctrl-C is not carried out: the kernel drops the terminal's own
    // queue, and the words of a line already read go with it.
    buffer_.clear();
    position_ = 0;
    std::printf("\nCtrl-C stops a run; to leave, type x (s saves first).\n");
    if (stray != nullptr) *stray = true;
  } else if (signal != 0) {
    EndSessionBySignal(signal);
  }
  return SessionEndSignal() != 0;
}

bool ConsoleInput::Fill() {
  for (;;) {
    if (lines_ != nullptr) {
      position_ = 0;
      if (lines_->ReadLine(buffer_)) {
        buffer_.push_back('\n');
        return true;
      }
      buffer_.clear();
      if (PendingSignal() == 0 || EndedBySignal()) return false;
      continue;
    }
    if (WaitForInputOrSignal(fd_) != 0) {
      bool stray = false;
      if (EndedBySignal(&stray)) return false;
      if (stray) continue;
    }
    buffer_.resize(kReadBlock);
    const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    buffer_.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    position_ = 0;
    return got > 0;
  }
}

bool ConsoleInput::WordBuffered() const {
  return std::any_of(buffer_.begin() + static_cast<std::ptrdiff_t>(position_), buffer_.end(),
                     [](char c) { return !Separates(static_cast<unsigned char>(c)); });
}

int ConsoleInput::Next() {
  if (fd_ < 0) return std::getc(in_);
  if (position_ == buffer_.size() && !Fill()) return EOF;
  return static_cast<unsigned char>(buffer_[position_++]);
}

std::string ConsoleInput::ReadWord() {
  // A line source shows a prompt itself when it waits for a line; words already typed are
  // read without a wait, so what was printed for them is shown now.
  if (lines_ == nullptr || WordBuffered()) std::fflush(stdout);
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
