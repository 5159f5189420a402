// Line editing at a terminal. While a LineEditor is on, the console's words come from lines
// edited with libedit: the keys of a shell's line (arrows, Ctrl-A/E/U/W, and so on), a history
// of the session's lines (up and down arrows), and Tab completion of the command words. Words
// from scripts and pipes are read as they come, without any of this.
//
// The prompt a command prints without a line end is held back from the terminal and drawn by
// the editor instead, so that it appears once and survives a redraw of the line. The editor
// installs no signal catcher of its own: its waits end on the session's signals, and the
// console decides what each does (core/console_input.h).
#pragma once

#include <locale.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/console_input.h"

struct editline;
struct history;

namespace tapeloom {

class LineEditor final : public LineSource {
  struct Key {};  // only ForTerminal makes one

 public:
  // An editor installed on `input` when it reads a terminal that libedit can drive and standard
  // output goes to a terminal too; nullptr otherwise. `completions` are the words Tab completes.
  static std::unique_ptr<LineEditor> ForTerminal(ConsoleInput& input, std::vector<std::string> completions);

  class HeldPrompt;
  LineEditor(Key, ConsoleInput& input, std::vector<std::string> completions, std::unique_ptr<HeldPrompt> output);
  LineEditor(const LineEditor&) = delete;
  LineEditor& operator=(const LineEditor&) = delete;
  ~LineEditor() override;

  bool ReadLine(std::string& line) override;

 private:
  struct EditLineClose {
    void operator()(editline* editor) const;
  };
  struct HistoryClose {
    void operator()(history* lines) const;
  };
  struct LocaleFree {
    void operator()(locale_t locale) const;
  };

  bool Start();

  // libedit's callbacks, which find the editor by its client data.
  static LineEditor& Of(editline* editor);
  static char* Prompt(editline* editor);
  static int ReadCharacter(editline* editor, wchar_t* character);
  static unsigned char Complete(editline* editor, int key);
  int NextCharacter(wchar_t& character);
  unsigned char CompleteWord();

  ConsoleInput& input_;
  std::vector<std::string> words_;  // sorted
  std::unique_ptr<HeldPrompt> output_;
  std::unique_ptr<history, HistoryClose> history_;
  std::unique_ptr<editline, EditLineClose> editor_;
  std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleFree> ctype_;  // the user's character encoding
  bool installed_ = false;
  std::string prompt_;
  bool interrupted_ = false;  // a signal ended the last line
  std::string undecoded_;     // bytes read from the terminal and not yet given to libedit
};

}  // namespace tapeloom
