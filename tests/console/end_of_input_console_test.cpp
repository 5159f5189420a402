// Standard input that ends, or brings a word that is no number, or a word of a megabyte, at every
// prompt, menu and dialogue of the program: Tapeloom ends promptly as after "x" there (status 0;
// 2 at the first-run questions), never asks forever, and loses nothing.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

// One place where the program waits for an answer: the settings and files it needs, and the
// words that bring it there.
struct Stop {
  const char* where;
  std::string settings;  // param.txt lines after the simulated card's
  std::string words;
  const char* asks;      // the last thing printed there, so the test knows it got there
  bool numeric = false;  // a number is asked for there
};

// A session with one track and a record list of one input, with room for a short recording.
class EndOfInput : public testing::Test {
 protected:
  void SetUp() override {
    session.Write("card-in.raw", std::string(3 * 2 * 100000, '\x11'));
    std::vector<std::int32_t> samples(20000, 1000);
    WriteBytes(session / "t1.wav", WaveBuilder().Samples(samples).Build());
    session.Write("play.txt", "t1.wav\n");
    session.Write("record.txt", "a.wav\n");
  }
  RunResult RunWith(const Stop& stop, const std::string& last) {
    session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\n" + stop.settings);
    RunResult run = session.Run(stop.words + last, std::chrono::seconds(60));
    EXPECT_NE(run.out.find(stop.asks), std::string::npos) << "never got there";
    return run;
  }
  ConsoleSession session;
};

const std::string kRecord = "e\t4096\no\t8192\n";  // a recording of one block

const Stop kStops[] = {
    {"the prompt", "", "", "Play: "},
    {"help page", "", "+\n", "Enter 'c' continue"},
    {"point prompt", "", "i\n", "Enter in-time in seconds.", true},
    {"point prompt in tempo mode", "tmode\t1\n", "o\n", "Enter measure for stop time.", true},
    {"nudge amount", "", "nn\n", "Enter new nudge amount", true},
    {"stop-time check", "", "R\n", "Enter 'c' to continue and fix"},
    {"locate store", "", "i.l\n", "Enter locate point number", true},
    {"locate recall", "", "l.i\n", "Enter a locate point number", true},
    {"locate list", "", "ll\n", "Enter 'c' to continue"},
    {"locate rename", "", "ll\nn\n", "Enter locate point", true},
    {"range store", "i\t1024\no\t2048\n", "io.\n", "Enter location to store to", true},
    {"range name", "i\t1024\no\t2048\n", "io.\n1\n", "Enter a range name"},
    {"range recall", "range\t1024\t2048\tx\n", ".io\n", "Enter location to recall", true},
    {"range list", "range\t1024\t2048\tx\n", "lio\n", "Enter 'c' to continue"},
    {"list listing", "", "lp\n", "Enter 'c' to continue"},
    {"monitor time", "", "mr\n", "Enter monitor time in seconds.", true},
    {"missing playlist", "play\t1\tgone.txt\n", "p\n", "Create the file or enter a different name"},
    {"take-name conflict", kRecord, "R_x\nR_x\n", "or 'W' to overwrite all similar conflicts"},
    {"take menu", kRecord, "R\n", "Enter a take handling command."},
    {"audition quarter", kRecord, "R\naud\n", "4 = 4th 1/4", true},
    {"safety question", kRecord + "safe\t1\n", "R\nrep\n", "rather than insert? (y,n)"},
    {"overwrite check", kRecord, "R\nrep\nR\nrep\n", "Enter 'r' to return to previous menu."},
    {"append name", kRecord, "R\napp\n", "Enter characters to append with."},
    {"append conflict", kRecord, "R\napp\nv\nR\napp\nv\n", "'n' to try a new append name"},
    {"options", "", "opt\n", "if done changing options"},
    {"tempo menu", "", "tempo\n", "4 = done", true},
    {"tempo value", "", "tempo\n2\n", "Enter tempo (beats per minute)", true},
    {"beats per measure", "", "tempo\n3\n", "Enter beats per measure", true},
    {"safety mode", "", "safe\n", "Enter '2' to keep current settings"},
    {"meter range", "", "mtr\n", "Enter Meter Range", true},
    {"preroll", "", "pre\n", "Enter new preroll", true},
    {"crossfade", "", "cf\n", "Enter 'd' if done or enter a new value", true},
    {"audition length", "", "aa\n", "Enter audition time", true},
    {"list selection", "", "pf\n", "'d'   when done"},
    {"list slot to remove", "", "rf\nrem\n", "Enter the number to remove", true},
    {"list name to add", "", "pf\na\n", "Enter the filename to add"},
    {"list slot to add", "", "pf\na\nx.txt\n", "Enter the list position (1-128)", true},
    {"solo", "", "so\n", "'a' add, 'r' remove, 'd' done"},
    {"solo tracks", "", "so\na\n", "Enter track number to add"},
    {"mixer view", "", "mix\n", "Mix commands are active."},
    {"mixer help", "", "mix\nh\n", "Mixer Help:"},
    {"mix mode", "", "mod\n", "Select a mix mode", true},
    {"bus page", "", "bus\n", "Enter 'a' to add a channel to a bus"},
    {"bus number", "", "bus\na\n", "Enter bus number", true},
    {"bus tracks", "", "bus\nr\n1\n", "Enter the channel to remove"},
    {"export name", "o\t4096\n", "exp-i\n", "Enter mix filename"},
    {"after an export", "o\t4096\n", "exp-i\nmixdown\n", "Enter 'c' to continue"},
};

TEST_F(EndOfInput, EveryPromptEndsTheSessionAsX) {
  for (const Stop& stop : kStops) {
    SCOPED_TRACE(stop.where);
    const std::vector<std::string> before = session.Files();
    const RunResult run = RunWith(stop, "");
    EXPECT_EQ(run.status, 0) << run.out.substr(run.out.size() > 400 ? run.out.size() - 400 : 0);
    // Nothing that was there is gone: the session's files and any take are still on disk.
    for (const std::string& name : before) EXPECT_TRUE(session.Exists(name)) << name;
  }
}

TEST_F(EndOfInput, AWordThatIsNoNumberIsReadOverWhereANumberIsAsked) {
  for (const Stop& stop : kStops) {
    if (!stop.numeric) continue;
    SCOPED_TRACE(stop.where);
    const RunResult run = RunWith(stop, "seven\n");
    EXPECT_EQ(run.status, 0);
  }
}

TEST_F(EndOfInput, AWordOfAMegabyteAnywhere) {
  const std::string huge(1 << 20, 'w');
  for (const Stop& stop : kStops) {
    SCOPED_TRACE(stop.where);
    const RunResult run = RunWith(stop, huge + "\n");
    EXPECT_EQ(run.status, 0);
  }
}

TEST_F(EndOfInput, ASignalWhileTheProgramWaitsEndsTheSessionThere) {
  // Ctrl-C, SIGTERM or SIGHUP while the program waits for a word, with the input still open
  // as a terminal's is: the session ends as "x" does there, with status 128 + the signal, and
  // nothing that was there is gone. The three signals take turns over the prompts.
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  int turn = 0;
  for (const Stop& stop : kStops) {
    const int signal = signals[turn++ % 3];
    SCOPED_TRACE(testing::Message() << stop.where << ", signal " << signal);
    session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\n" + stop.settings);
    const std::string settings = session.Read("param.txt");
    const std::vector<std::string> before = session.Files();
    bool sent = false;
    const RunResult run = session.RunLive(stop.words, [&](pid_t pid, const std::string& out) {
      // What is asked there is on the screen: the program waits, or is about to.
      if (!sent && out.find(stop.asks) != std::string::npos) {
        ::kill(pid, signal);
        sent = true;
      }
    });
    ASSERT_TRUE(sent) << run.out.substr(run.out.size() > 400 ? run.out.size() - 400 : 0);
    EXPECT_EQ(run.status, 128 + signal) << run.out.substr(run.out.size() > 400 ? run.out.size() - 400 : 0);
    EXPECT_TRUE(
        run.out.ends_with("\nSession ended by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")\n"))
        << run.out.substr(run.out.size() > 400 ? run.out.size() - 400 : 0);
    for (const std::string& name : before) EXPECT_TRUE(session.Exists(name)) << name;
    EXPECT_EQ(session.Read("param.txt"), settings) << "nothing is saved";
  }
  // At the first-run questions: nothing is created.
  std::filesystem::remove(session / "param.txt");
  bool sent = false;
  const RunResult run = session.RunLive("", [&](pid_t pid, const std::string& out) {
    if (!sent && out.find("'c' to create this file now") != std::string::npos) {
      ::kill(pid, SIGINT);
      sent = true;
    }
  });
  EXPECT_EQ(run.status, 128 + SIGINT);
  EXPECT_FALSE(session.Exists("param.txt"));
}

TEST_F(EndOfInput, TheFirstRunQuestionsAreDeclined) {
  // Wherever the questions end, the program leaves with the status of their "x" and creates
  // nothing.
  for (const char* words : {"", "c\n", "c\n2\n", "c\n2\n2\n", "c\n2\n2\n4\n", "c\n2\n2\n4\nd\n", "maybe\n"}) {
    SCOPED_TRACE(words);
    const RunResult run = session.Run(words, std::chrono::seconds(60));
    EXPECT_EQ(run.status, 2);
    EXPECT_FALSE(session.Exists("param.txt"));
  }
}

}  // namespace
}  // namespace tapeloom::test
