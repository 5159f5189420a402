// The console at a terminal: lines are edited, recalled and completed, and a stray Ctrl-C at a
// prompt or in a menu only says how to leave. Scripts and pipes read exactly as they always
// have.
#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include "support/console_harness.h"
#include "support/pseudo_terminal.h"

namespace tapeloom::test {
namespace {

constexpr std::string_view kReminder = "Ctrl-C stops a run; to leave, type x (s saves first).";

// Keys typed, then what the program shows for them.
struct Step {
  std::string keys;
  std::string shows;
};

std::size_t Count(std::string_view text, std::string_view part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class TerminalConsole : public testing::Test {
 protected:
  void SetUp() override {
    session.Write("param.txt", SimCardParams(2, 2, 4, 128) + "int\t0\n");
    session.Write("play.txt", "");
    session.Write("record.txt", "");
  }
  // The program at its first prompt.
  std::unique_ptr<TerminalProgram> Start() {
    auto program = std::make_unique<TerminalProgram>(session.dir());
    EXPECT_TRUE(program->Started());
    EXPECT_TRUE(program->Await("Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00")) << program->Shown();
    return program;
  }
  void Walk(TerminalProgram& program, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      SCOPED_TRACE(testing::Message() << "typed " << testing::PrintToString(step.keys));
      program.Type(step.keys);
      ASSERT_TRUE(program.Await(step.shows)) << program.Shown();
    }
  }
  // "x" ends the session as ever, and the terminal is left as it was found.
  void Leave(TerminalProgram& program) {
    program.Type("x\r");
    EXPECT_EQ(program.Finish(), 0) << program.Shown();
    EXPECT_TRUE(program.InLineMode());
  }
  ConsoleSession session;
};

TEST_F(TerminalConsole, LinesAreEditedRecalledAndCompleted) {
  const struct {
    const char* what;
    std::vector<Step> steps;
  } cases[] = {
      {"a word, then its answer", {{"i\r", "Enter in-time in seconds."}, {"3\r", "Play: 3.00 "}}},
      {"a line of several words", {{"i 2 o 4\r", "Play: 2.00   Rec: 0.00   Stop: 4.00"}}},
      {"the line edited before it is entered",
       {{"i 7\x7f"
         "5\x1b[D\x1b[D\x01o 1 \r",
         "Play: 5.00   Rec: 0.00   Stop: 1.00"}}},
      {"the last line and the one before, recalled",
       {{"i 2\r", "Play: 2.00"},
        {"i 3\r", "Play: 3.00"},
        {"\x1b[A\r", "Play: 3.00"},
        {"\x1b[A\x1b[A\r", "Play: 2.00"}}},
      {"a command word completed", {{"tem\t", "tempo "}, {"\r", "4 = done"}, {"4\r", "Play: 0.00"}}},
      {"the words a start can become", {{"ex\t", "exp-"}, {"\t", "exp-i  exp-s"}, {"\x15i 1\r", "Play: 1.00"}}},
  };
  for (const auto& scenario : cases) {
    SCOPED_TRACE(scenario.what);
    const std::unique_ptr<TerminalProgram> program = Start();
    Walk(*program, scenario.steps);
    Leave(*program);
  }
}

TEST_F(TerminalConsole, AStrayCtrlCAtAPromptOrInAMenuOnlySaysHowToLeave) {
  // Ctrl-C typed (the terminal sends SIGINT) or SIGINT sent, at the prompt, at a question
  // printed without a line end, and in two menus: one line says how to leave, what was typed
  // goes, and the prompt or menu goes on where it was.
  const std::string calibrationPrompt = "Output (1 to 2; a word that is no number: 1): ";
  const struct {
    const char* where;
    std::vector<Step> before;
    bool typed;  // Ctrl-C typed at the terminal rather than SIGINT sent
    std::vector<Step> after;
  } cases[] = {
      {"the prompt, a word half typed", {{"i", "i"}}, true, {{"i 2\r", "Play: 2.00"}}},
      {"the prompt", {}, false, {{"i 2\r", "Play: 2.00"}}},
      {"a question without a line end",
       {{"cal\r", calibrationPrompt}, {"7", "7"}},
       true,
       {{"", calibrationPrompt}, {"1\r", "Input (1 to 2"}, {"2\r", "Nothing was changed."}}},
      {"the tempo menu", {{"tempo\r", "4 = done"}}, false, {{"4\r", "Play: 0.00"}}},
      {"the mix mode menu", {{"mod\r", "Select a mix mode"}}, true, {{"1\r", "Play: 0.00"}}},
  };
  for (const auto& scenario : cases) {
    SCOPED_TRACE(scenario.where);
    const std::unique_ptr<TerminalProgram> program = Start();
    Walk(*program, scenario.before);
    if (scenario.typed) {
      program->Type("\x03");
    } else {
      program->Signal(SIGINT);
    }
    ASSERT_TRUE(program->Await(kReminder)) << program->Shown();
    Walk(*program, scenario.after);
    Leave(*program);
    EXPECT_EQ(Count(program->Shown(), kReminder), 1u);
  }
  // The question is shown once before the Ctrl-C and once after it, never twice over.
  const std::unique_ptr<TerminalProgram> program = Start();
  Walk(*program, {{"cal\r", calibrationPrompt}});
  program->Signal(SIGINT);
  Walk(*program, {{"", std::string(kReminder) + "\r\n" + calibrationPrompt}, {"1\r", "Input (1 to 2"}});
  program->Type("2\r");
  Leave(*program);
  EXPECT_EQ(Count(program->Shown(), calibrationPrompt), 2u) << program->Shown();
}

TEST_F(TerminalConsole, AStrayCtrlCAtTheFirstRunQuestionsOnlySaysHowToLeave) {
  // Before the session the terminal reads whole lines itself; a Ctrl-C there is no "x" either.
  std::filesystem::remove(session / "param.txt");
  TerminalProgram program(session.dir());
  ASSERT_TRUE(program.Await("'c' to create this file now")) << program.Shown();
  program.Type("\x03");
  ASSERT_TRUE(program.Await(kReminder)) << program.Shown();
  program.Type("x\r");
  EXPECT_EQ(program.Finish(), 2) << program.Shown();
  EXPECT_FALSE(session.Exists("param.txt"));
}

TEST_F(TerminalConsole, TheEndOfInputAndOtherSignalsEndTheSessionAsEver) {
  // With a line half typed; the terminal is left reading lines and echoing them.
  const struct {
    const char* how;
    int signal;  // 0: Ctrl-D on an empty line, the end of input
    int status;
  } cases[] = {{"SIGTERM", SIGTERM, 128 + SIGTERM}, {"SIGHUP", SIGHUP, 128 + SIGHUP}, {"Ctrl-D", 0, 0}};
  for (const auto& scenario : cases) {
    SCOPED_TRACE(scenario.how);
    const std::unique_ptr<TerminalProgram> program = Start();
    Walk(*program, {{"i 4", "i 4"}});
    if (scenario.signal != 0) {
      program->Signal(scenario.signal);
    } else {
      ASSERT_TRUE(program->AwaitEditing());
      program->Type("\x15\x04");
    }
    EXPECT_EQ(program->Finish(), scenario.status) << program->Shown();
    EXPECT_EQ(program->Shown().find("Session ended by signal") != std::string::npos, scenario.signal != 0);
    EXPECT_EQ(program->Shown().find("Play: 4.00"), std::string::npos) << "the half-typed line was not entered";
    EXPECT_TRUE(program->InLineMode());
  }
}

TEST_F(TerminalConsole, APipedScriptReadsAsItAlwaysHas) {
  // Several words to a line, questions printed without a line end, menus: what the program
  // prints is what it printed before lines could be edited at a terminal.
  const std::string status = "Play: 2.00   Rec: 1.00   Stop: 4.00   Mem: 0.00\n";
  const RunResult run = session.Run("i 2\no 4 e 1\nmod 1\ntempo 2 90 4\ncal 1 2\nlio c\nwhat?\nx\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(AfterDriverReport(run.out),
            "Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n"
            "Enter in-time in seconds.\n"
            "Play: 2.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n"
            "Enter out-time in seconds.\n"
            "Play: 2.00   Rec: 0.00   Stop: 4.00   Mem: 0.00\n"
            "Enter recording start time in seconds.\n" +
                status +
                "\nCurrently using mixmode [0]:\n"
                "'0'  Playback = channels are using direct outputs only.\n"
                "     Export   = all channels will be routed to the master. No busses.\n\n"
                "'1'  Playback = route all channels to outputs 1 and 2.\n"
                "     Export   = route all channels to the master. No busses.\n\n"
                "'2'  Playback = route channels to multiple output busses.\n"
                "     Export   = route all channels to the master. No busses.\n\n"
                "'3'  Playback = route busses to outputs 1 and 2.\n"
                "     Export   = route busses to the master.\n\n\n"
                "Select a mix mode\n" +
                status +
                "1 = toggle tempo mode (off)\n"
                "2 = set tempo (120.00)\n"
                "3 = set beats per measure (4)\n"
                "4 = done\n"
                "Enter tempo (beats per minute)\n"
                "2 = set tempo (90.00)\n"
                "3 = set beats per measure (4)\n"
                "4 = done\n" +
                status +
                "\nLatency calibration: connect an output of the card to an input with a cable, and turn off any "
                "monitoring of that input.\n"
                "Output (1 to 2; a word that is no number: 1): Input (1 to 2; a word that is no number: 1): "
                "Playing clicks at -20 dBFS on output 1 and recording input 2: with the play start at the record "
                "start, then half a second before it.\n\n"
                "No test signal came back on input 2: check the cable from output 1 to input 2, and that both are "
                "turned up.\n"
                "Nothing was changed.\n" +
                status + "No range locations to edit\n" + status + status + status);
}

}  // namespace
}  // namespace tapeloom::test
