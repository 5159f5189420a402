// The mixer console: its edit words and what they must leave alone, and at the real prompt the
// view, the help page, the mix mode menu and the bus routing page.
#include "mix/mixer_console.h"

#include <gtest/gtest.h>

#include <cmath>

#include "mix/gains.h"
#include "support/console_harness.h"
#include "support/temp_dir.h"
#include "support/typed_input.h"

namespace tapeloom::test {
namespace {

// One word typed at the mixer prompt of a 3-track session whose volumes, pans and bus levels
// are all 0 (the view is drawn first, and the playlist is missing: only its message shows).
SessionSettings AfterEdit(const std::string& word, std::string* left = nullptr) {
  TempDir dir;
  WorkingDirectory inDir(dir.path());
  SessionSettings s;
  s.ch = 3;
  SetSessionBusGains(s);
  TypedInput input(word);
  std::string buffer;
  testing::internal::CaptureStdout();
  MixerConsoleWord(s, input, buffer);
  testing::internal::GetCapturedStdout();
  if (left != nullptr) *left = buffer;
  return s;
}

TEST(MixerEdits, VolumesPansAndBusLevels) {
  const float unity = 1.0f / 256.0f;
  struct Case {
    const char* word;
    int track;  // 1-based; 0 for none
    float volume, pan;
    int bus;  // 1-based; 0 for none
    float level, gain;
  };
  const Case cases[] = {
      {"2v-6", 2, -6.0f, 0.0f, 0, 0.0f, 0.0f},
      {"3v12.5", 3, 12.5f, 0.0f, 0, 0.0f, 0.0f},
      {"3p-40", 3, 0.0f, -40.0f, 0, 0.0f, 0.0f},
      {"1p100", 1, 0.0f, 100.0f, 0, 0.0f, 0.0f},
      {"1b-4", 0, 0, 0, 1, -4.0f, static_cast<float>(std::pow(10.0, -0.2) / 256)},
      {"64b20", 0, 0, 0, 64, 15.0f, static_cast<float>(std::pow(10.0, 0.75) / 256)},  // above 15 dB: 15
      {"2b-200", 0, 0, 0, 2, -200.0f, unity},                                         // kept as typed; the gain stays
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    const SessionSettings s = AfterEdit(c.word);
    for (int t = 1; t <= 3; ++t) {
      const auto k = static_cast<std::size_t>(t - 1);
      EXPECT_EQ(s.v[k], t == c.track ? c.volume : 0.0f) << "track " << t;
      EXPECT_EQ(s.p[k], t == c.track ? c.pan : 0.0f) << "track " << t;
    }
    for (int b = 1; b <= kMaxBusses; ++b) {
      const auto k = static_cast<std::size_t>(b - 1);
      EXPECT_EQ(s.busvl[k], b == c.bus ? c.level : 0.0f) << "bus " << b;
      EXPECT_NEAR(s.busGain[k], b == c.bus ? c.gain : unity, 1e-9f) << "bus " << b;
    }
  }
}

TEST(MixerEdits, WordsThatChangeNothing) {
  // Tracks outside 1..ch, busses outside 1..64, missing or unreadable values, and the commands
  // that hold a 'p' (they stay commands); every word is left for the session's commands.
  for (const char* word :
       {"0v-6", "4v-6", "300v-6", "3v",  "v-6", "2vx",   "2vnan", "2vinf", "0b-4", "65b-4", "1b", "0p10",
        "4p10", "2p",   "sp",     "opt", "lp",  "exp-i", "exp-s", "tempo", "pf",   "b",     "u"}) {
    SCOPED_TRACE(word);
    std::string left;
    const SessionSettings s = AfterEdit(word, &left);
    const SessionSettings untouched = AfterEdit("u");
    EXPECT_EQ(s.v, untouched.v);
    EXPECT_EQ(s.p, untouched.p);
    EXPECT_EQ(s.busvl, untouched.busvl);
    EXPECT_EQ(s.busGain, untouched.busGain);
    EXPECT_EQ(left, word);
  }
}

// At the real prompt: a 3-track session, the short status line, no clock.
class MixerConsole : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    session.Write("play.txt", "kick-drum-close-mic.wav\n-\n\nbass.wav\nbeyond.wav\n");
  }
  std::string Run(const std::string& settings, const std::string& input) {
    return Prompt(SimCardParams(2, 2, 3, 1024) + "int\t0\nclock\thc\nmeter\t0\n" + settings, input);
  }
};

const std::string kStatus = "Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n";
const std::string kRule = std::string(79, '-') + "\n";
const std::string kPrompt = "\n" + kStatus + "\nMix commands are active.  Enter 'h' for help.\n";

TEST_F(MixerConsole, TheViewInEveryMode) {
  // Line 2 is a skip line; line 4 lies beyond the 3 tracks. Names are cut at 15 characters.
  const std::string tracks =
      "\nSource:\nkick-drum-close\tCh 1\tVol -6.00\tPan  -40\nbass.wav\tCh 3\tVol 0.00\tPan  100\n\n";
  const std::string levels = "v\t1\t-6\np\t1\t-40\np\t3\t100\nbusvl\t1\t-3\nbusvl\t3\t-1.5\n";
  const std::pair<int, std::string> modes[] = {
      {0, ""},
      {1, "Master\t  -3.00 dB\n"},
      {2, "Bus 1\t  -3.00 dB\nBus 3\t  -1.50 dB\n"},
      {3, "Bus 1\t  -3.00 dB\nBus 3\t  -1.50 dB\n"},
  };
  for (const auto& [mode, busLines] : modes) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(Run("mix\t" + std::to_string(mode) + "\n" + levels, "mix\nmix\n"),
              kStatus + tracks + busLines + kRule + kPrompt + kStatus);
  }
  session.Write("play.txt", "");
  std::filesystem::remove(session / "play.txt");
  std::filesystem::create_directory(session / "play.txt");
  EXPECT_NE(Run("", "mix\n").find("\nPlaylist file called play.txt was not found!\n" + kPrompt), std::string::npos);
}

TEST_F(MixerConsole, OpeningClosingHelpAndCommandsFromTheView) {
  const auto view = [](const std::string& status) {
    return "\nSource:\nkick-drum-close\tCh 1\tVol 0.00\tPan    0\nbass.wav\tCh 3\tVol 0.00\tPan    0\n\n" + kRule +
           "\n" + status + "\nMix commands are active.  Enter 'h' for help.\n";
  };
  const std::string help =
      "\nMixer Help:\n\nTo set a channel's volume:\n\n   Type the channel number, then 'v', and then volume in dB.\n"
      "   Example: '2v-6' sets channel 2's volume to -6 dB.\n\nTo set the pan:\n\n"
      "   Type the channel number, then 'p', and then a value -100 to 100.\n"
      "   left = -100,  center = 0, right = 100\n   Example: '2p100' sets channel 2's pan to the right.\n\n"
      "To adjust bus master levels:\n\n   Type the bus number, then 'b', and then volume in dB.\n"
      "   Example: '1b-4' sets bus 1's volume to -4 dB.\n\nEnter 'mod' to view/change the mix mode.\n"
      "\nEnter 'u' to update the mixer after editing the play.txt file.\n"
      "\nEnter 'd' when done viewing mixer settings.\nOr, 'mix' will toggle the mixer view on/off.\n\n"
      "Enter 'c' to continue\n";
  const std::string moved = "Play: 1.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n";
  // "mix" shows the view at once; "h" shows the mixer's own help until "c"; "u" draws the view
  // again; "d" closes it; a session command ("i1") works from the view, which then shows its
  // effect; "mix" in the view closes it.
  EXPECT_EQ(
      Run("", "mix\nh\nzz\nc\nu\nd\nmix\ni1\nmix\n"),
      kStatus + view(kStatus) + help + view(kStatus) + view(kStatus) + kStatus + view(kStatus) + view(moved) + moved);
}

TEST_F(MixerConsole, MixModeMenu) {
  const std::string choices[] = {
      "'0'  Playback = assign channels to direct outputs only.\n     Export   = route all channels to the master.  No "
      "busses.\n\n",
      "'1'  Playback = route all channels to outputs 1 and 2.\n     Export   = route all channels to the master. No "
      "busses.\n\n",
      "'2'  Playback = route channels to multiple output busses.\n     Export   = route all channels to the master. No "
      "busses.\n\n",
      "'3'  Playback = route busses to outputs 1 and 2.\n     Export   = route busses to the master.\n\n",
  };
  const std::string current2 =
      "'2'  Playback = channels are routed through multiple output busses.\n     Export   = all channels will be "
      "routed to the master. No busses.\n\n";
  const std::string ask = "\nSelect a mix mode\n";
  // The current mode first, then the others; any word but 0..3 is read over.
  EXPECT_EQ(Run("mix\t2\n", "mod\n4\nx\n01\n3\ns\n"), kStatus + "\nCurrently using mixmode [2]:\n" + current2 +
                                                          choices[0] + choices[1] + choices[3] + ask + kStatus +
                                                          "\nStored Settings\n" + kStatus);
  EXPECT_NE(Saved().find("\nmix\t3\n"), std::string::npos) << Saved();
}

TEST_F(MixerConsole, BusRoutingPage) {
  const std::string menu =
      "\nEnter 'a' to add a channel to a bus\nEnter 'r' to remove a channel from a bus\nEnter 'c' to continue\n";
  const std::string header = "Stereo Bus Assignments: (2 outputs, 1 busses)\n";
  // Tracks 1 and 2 go to bus 2 (300 and x are passed over), track 3 to bus 1; then bus 1 loses
  // its only track but stays listed, and bus 12 is refused as no bus at all: 65.
  const std::string out = Run("", "bus\na\n2\n1,2,300,x\na\n1\n3\nzz\nr\n1\n3\na\n65\n1\nc\ns\n");
  EXPECT_EQ(out, kStatus + header + menu + "Enter bus number\nEnter channel to add, or multiple if comma separated\n" +
                     header + "\nBus 2\t\tOut 03-04\t\tCh: 1 2 " + menu +
                     "Enter bus number\nEnter channel to add, or multiple if comma separated\n" + header +
                     "\nBus 1\t\tOut 01-02\t\tCh: 3 \nBus 2\t\tOut 03-04\t\tCh: 1 2 " + menu + header +
                     "\nBus 1\t\tOut 01-02\t\tCh: 3 \nBus 2\t\tOut 03-04\t\tCh: 1 2 " + menu +
                     "Enter a bus number\nEnter the channel to remove, or multiple if comma separated\n" + header +
                     "\nBus 1\t\tOut 01-02\t\tCh: \nBus 2\t\tOut 03-04\t\tCh: 1 2 " + menu +
                     "Enter bus number\nEnter channel to add, or multiple if comma separated\n" + header +
                     "\nBus 1\t\tOut 01-02\t\tCh: \nBus 2\t\tOut 03-04\t\tCh: 1 2 " + menu + kStatus +
                     "\nStored Settings\n" + kStatus);
  EXPECT_NE(Saved().find("\nBus Assignments:\nbus\t1\t\nbus\t2\t1,2,\n"), std::string::npos) << Saved();
}

}  // namespace
}  // namespace tapeloom::test
