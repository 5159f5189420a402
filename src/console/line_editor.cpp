#include "console/line_editor.h"

#include <histedit.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cwchar>
#include <utility>

#include "core/session_signals.h"

namespace tapeloom {
namespace {

constexpr int kHistoryLines = 500;
constexpr std::size_t kReadBlock = 256;

// A byte that is no character in the terminal's encoding travels through the editor as one of
// these code points (which no decoding yields), so that the word holds exactly the bytes typed.
constexpr wchar_t kByteEscape = 0xDC00;

// The words that begin with `typed`, in order.
std::vector<std::string_view> Candidates(const std::vector<std::string>& words, std::string_view typed) {
  std::vector<std::string_view> found;
  for (const std::string& word : words) {
    if (word.starts_with(typed)) found.emplace_back(word);
  }
  return found;
}

// The line's characters back in the bytes they came as.
std::string Encode(const wchar_t* text, int count) {
  std::string bytes;
  std::mbstate_t state{};
  char character[MB_LEN_MAX];
  for (int k = 0; k < count; ++k) {
    const wchar_t c = text[k];
    if (c >= kByteEscape + 0x80 && c <= kByteEscape + 0xFF) {
      bytes.push_back(static_cast<char>(c - kByteEscape));
      continue;
    }
    const std::size_t length = std::wcrtomb(character, c, &state);
    if (length == static_cast<std::size_t>(-1)) {
      bytes.push_back('?');
      state = {};
    } else {
      bytes.append(character, length);
    }
  }
  return bytes;
}

// The thread's character encoding set to the user's while the editor reads a line, so that the
// terminal's characters are shown as they are typed; the rest of the program keeps its own.
class CharacterLocale {
 public:
  explicit CharacterLocale(locale_t locale) : previous_(locale != nullptr ? ::uselocale(locale) : nullptr) {}
  CharacterLocale(const CharacterLocale&) = delete;
  CharacterLocale& operator=(const CharacterLocale&) = delete;
  ~CharacterLocale() {
    if (previous_ != nullptr) ::uselocale(previous_);
  }

 private:
  locale_t previous_;
};

}  // namespace

// Standard output while the editor is on: a stream of the program's own over the terminal's
// descriptor, which writes everything at once except, just before a line is read, the start
// of a line that the program printed without its end (a prompt). That text becomes the
// editor's prompt instead, which the editor draws, and draws again whenever it redraws the line.
class LineEditor::HeldPrompt {
 public:
  static std::unique_ptr<HeldPrompt> Install() {
    auto held = std::make_unique<HeldPrompt>();
    std::fflush(stdout);
    const cookie_io_functions_t functions{.read = nullptr, .write = &Write, .seek = nullptr, .close = nullptr};
    held->stream_ = ::fopencookie(held.get(), "w", functions);
    if (held->stream_ == nullptr) return nullptr;
    std::setvbuf(held->stream_, nullptr, _IOLBF, BUFSIZ);
    held->terminal_ = stdout;
    held->fd_ = ::fileno(stdout);
    stdout = held->stream_;
    return held;
  }

  HeldPrompt() = default;
  HeldPrompt(const HeldPrompt&) = delete;
  HeldPrompt& operator=(const HeldPrompt&) = delete;
  ~HeldPrompt() {
    if (stream_ == nullptr) return;
    std::fflush(stream_);
    stdout = terminal_;
    std::fclose(stream_);
  }

  // The terminal's own stream, for the editor.
  std::FILE* Terminal() const { return terminal_; }

  // The line the program has begun and not ended. What of it is on the screen already is
  // written over by the editor: the cursor goes back to the line's start.
  std::string TakeLine() {
    holding_ = true;
    std::fflush(stdout);
    holding_ = false;
    std::string line = shown_ + held_;
    if (!shown_.empty()) WriteAll("\r");
    shown_.clear();
    held_.clear();
    return line;
  }

 private:
  static ssize_t Write(void* cookie, const char* data, std::size_t size) {
    HeldPrompt& self = *static_cast<HeldPrompt*>(cookie);
    const std::string_view text(data, size);
    const std::size_t lineEnd = text.find_last_of("\r\n");
    const std::size_t through = !self.holding_ ? size : lineEnd == std::string_view::npos ? 0 : lineEnd + 1;
    if (!self.WriteAll(text.substr(0, through))) return -1;
    std::size_t lineStart = 0;
    if (lineEnd != std::string_view::npos) {
      self.shown_.clear();
      lineStart = lineEnd + 1;
    }
    self.shown_.append(text.substr(lineStart, through - lineStart));
    self.held_.append(text.substr(through));
    return static_cast<ssize_t>(size);
  }

  bool WriteAll(std::string_view text) const {
    while (!text.empty()) {
      const ssize_t written = ::write(fd_, text.data(), text.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
  }

  std::FILE* stream_ = nullptr;
  std::FILE* terminal_ = nullptr;
  int fd_ = -1;
  bool holding_ = false;
  std::string shown_;  // written since the last line end
  std::string held_;   // held back from the terminal
};

void LineEditor::EditLineClose::operator()(EditLine* editor) const { ::el_end(editor); }
void LineEditor::HistoryClose::operator()(History* lines) const { ::history_end(lines); }
void LineEditor::LocaleFree::operator()(locale_t locale) const { ::freelocale(locale); }

std::unique_ptr<LineEditor> LineEditor::ForTerminal(ConsoleInput& input, std::vector<std::string> completions) {
  // The editor echoes what is typed on standard output: with that going to a file or a pipe,
  // the terminal echoes as it always has.
  if (!input.AtTerminal() || ::isatty(::fileno(stdout)) != 1) return nullptr;
  std::unique_ptr<HeldPrompt> output = HeldPrompt::Install();
  if (!output) return nullptr;
  auto editor = std::make_unique<LineEditor>(Key{}, input, std::move(completions), std::move(output));
  if (!editor->Start()) return nullptr;
  return editor;
}

LineEditor::LineEditor(Key, ConsoleInput& input, std::vector<std::string> completions,
                       std::unique_ptr<HeldPrompt> output)
    : input_(input), words_(std::move(completions)), output_(std::move(output)) {
  std::sort(words_.begin(), words_.end());
  words_.erase(std::unique(words_.begin(), words_.end()), words_.end());
}

LineEditor::~LineEditor() {
  if (installed_) input_.SetLineSource(nullptr);
}

bool LineEditor::Start() {
  std::FILE* terminal = output_->Terminal();
  history_.reset(::history_init());
  if (!history_) return false;
  HistEvent event;
  ::history(history_.get(), &event, H_SETSIZE, kHistoryLines);
  ::history(history_.get(), &event, H_SETUNIQUE, 1);
  // libedit learns which characters are printable when it starts, so it starts in the user's
  // encoding too. No EL_SIGNAL: the session's catchers stay the only ones.
  ctype_.reset(::newlocale(LC_CTYPE_MASK, "", nullptr));
  const CharacterLocale locale(ctype_.get());
  editor_.reset(
      ::el_init_fd("tapeloom", stdin, terminal, stderr, input_.Descriptor(), ::fileno(terminal), ::fileno(stderr)));
  if (!editor_) return false;
  EditLine* e = editor_.get();
  ::el_set(e, EL_CLIENTDATA, this);
  ::el_set(e, EL_EDITOR, "emacs");
  ::el_set(e, EL_HIST, &::history, history_.get());
  ::el_set(e, EL_PROMPT, &Prompt);
  ::el_set(e, EL_GETCFN, &ReadCharacter);
  // The wide form keeps the names as given; the narrow one copies them and never frees the copies.
  ::el_wset(e, EL_ADDFN, L"tapeloom-complete", L"Complete a command word", &Complete);
  ::el_set(e, EL_BIND, "^I", "tapeloom-complete", nullptr);
  input_.SetLineSource(this);
  installed_ = true;
  return true;
}

LineEditor& LineEditor::Of(EditLine* editor) {
  void* self = nullptr;
  ::el_get(editor, EL_CLIENTDATA, &self);
  return *static_cast<LineEditor*>(self);
}

char* LineEditor::Prompt(EditLine* editor) { return Of(editor).prompt_.data(); }

int LineEditor::ReadCharacter(EditLine* editor, wchar_t* character) { return Of(editor).NextCharacter(*character); }

unsigned char LineEditor::Complete(EditLine* editor, int) { return Of(editor).CompleteWord(); }

bool LineEditor::ReadLine(std::string& line) {
  // After a signal the prompt is drawn again, unless the program has begun another line.
  std::string begun = output_->TakeLine();
  if (!begun.empty() || !interrupted_) prompt_ = std::move(begun);
  interrupted_ = false;
  int count = 0;
  const wchar_t* text = nullptr;
  {
    const CharacterLocale locale(ctype_.get());
    text = ::el_wgets(editor_.get(), &count);
  }
  std::fflush(output_->Terminal());
  if (text == nullptr || count <= 0) {
    if (interrupted_) {
      // The line being typed goes, and what was read ahead of it.
      ::el_reset(editor_.get());
      undecoded_.clear();
    }
    return false;
  }
  if (text[count - 1] == L'\n') --count;
  line = Encode(text, count);
  if (line.find_first_not_of(" \t") != std::string::npos) {
    HistEvent event;
    ::history(history_.get(), &event, H_ENTER, line.c_str());
  }
  return true;
}

int LineEditor::NextCharacter(wchar_t& character) {
  bool ended = false;
  for (;;) {
    if (!undecoded_.empty()) {
      std::mbstate_t state{};
      wchar_t decoded = 0;
      const std::size_t used = std::mbrtowc(&decoded, undecoded_.data(), undecoded_.size(), &state);
      const bool incomplete = used == static_cast<std::size_t>(-2);
      if (!incomplete || ended || undecoded_.size() >= MB_LEN_MAX) {
        std::size_t taken = 1;
        if (incomplete || used == static_cast<std::size_t>(-1)) {
          decoded = kByteEscape + static_cast<unsigned char>(undecoded_.front());
        } else if (used > 0) {
          taken = used;
        }
        undecoded_.erase(0, taken);
        character = decoded;
        return 1;
      }
    }
    if (ended) return 0;
    // The wait ends on a signal too: the line is then given up, and the console decides.
    if (WaitForInputOrSignal(input_.Descriptor()) != 0) {
      interrupted_ = true;
      errno = EINTR;
      return -1;
    }
    char block[kReadBlock];
    const ssize_t got = ::read(input_.Descriptor(), block, sizeof block);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got < 0) return -1;
    if (got == 0) {
      ended = true;
      continue;
    }
    undecoded_.append(block, static_cast<std::size_t>(got));
  }
}

unsigned char LineEditor::CompleteWord() {
  const LineInfoW* info = ::el_wline(editor_.get());
  const wchar_t* start = info->cursor;
  while (start > info->buffer && std::iswspace(static_cast<wint_t>(start[-1])) == 0) --start;
  std::string typed;
  for (const wchar_t* c = start; c < info->cursor; ++c) {
    if (*c <= 0 || *c > 0x7F) return CC_REFRESH_BEEP;  // no command word has such a character
    typed.push_back(static_cast<char>(*c));
  }
  const std::vector<std::string_view> found = Candidates(words_, typed);
  if (found.empty()) return CC_REFRESH_BEEP;
  std::string_view common = found.front();
  for (const std::string_view word : found) {
    const auto differ = std::mismatch(common.begin(), common.end(), word.begin(), word.end());
    common = common.substr(0, static_cast<std::size_t>(differ.first - common.begin()));
  }
  std::string more(common.substr(typed.size()));
  if (found.size() == 1) more.push_back(' ');
  if (!more.empty()) {
    ::el_insertstr(editor_.get(), more.c_str());
    return CC_REFRESH;
  }
  // Nothing more in common: the words it could be are shown, and the line under them.
  std::string listing = "\n";
  for (const std::string_view word : found) listing.append(listing.size() > 1 ? "  " : "").append(word);
  listing.push_back('\n');
  std::fputs(listing.c_str(), output_->Terminal());
  return CC_REDISPLAY;
}

}  // namespace tapeloom
