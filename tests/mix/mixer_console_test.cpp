// The mixer console: its edit words and what they leave alone, and at the real prompt the view in
// every mode, the help page, the mix mode menu and the bus routing page.
#include "mix/mixer_console.h"

#include <gtest/gtest.h>

#include "mix/gains.h"
#include "support/console_harness.h"
#include "support/typed_input.h"

namespace tapeloom::test {
namespace {

// One word at the mixer prompt of a 3-track session whose levels are 0 and whose playlist is
// missing: what it sets (nothing else), and that it is left for the session's commands.
TEST(MixerEdits, VolumesPansAndBusLevelsAndWordsThatChangeNothing) {
  const struct {
    const char* word;
    int track = 0;  // from 1; 0 for none
    float volume = 0, pan = 0;
    int bus = 0;  // from 1; 0 for none
    float level = 0;
    // clang-format off
  } cases[] = {
      {"2v-6", 2, -6}, {"3v12.5", 3, 12.5f}, {"3p-40", 3, 0, -40}, {"1p100", 1, 0, 100}, {"1b-4", 0, 0, 0, 1, -4},
      {"64b20", 0, 0, 0, 64, 15}, {"2b-200", 0, 0, 0, 2, -200},  // below -144 dB: kept, the gain stays
      // Tracks outside 1..ch, busses outside 1..64, values missing or no finite number, commands with a 'p'.
      {"0v-6"}, {"4v-6"}, {"300v-6"}, {"3v"}, {"v-6"}, {"2vx"}, {"2vnan"}, {"2vinf"}, {"0b-4"}, {"65b-4"}, {"1b"},
      {"0p10"}, {"4p10"}, {"2p"}, {"sp"}, {"opt"}, {"lp"}, {"exp-i"}, {"exp-s"}, {"tempo"}, {"pf"}, {"b"}, {"u"}};
  // clang-format on
  for (const auto& c : cases) {
    TempDir dir;
    WorkingDirectory inDir(dir.path());
    SessionSettings s{.ch = 3};
    SetSessionBusGains(s);
    SessionSettings want = s;
    if (c.track) std::tie(want.v[c.track - 1], want.p[c.track - 1]) = std::tuple(c.volume, c.pan);
    if (c.bus) want.busvl[c.bus - 1] = c.level, SetBusVolume(want.busGain, c.level, c.bus - 1, kBusGainDivisor);
    TypedInput input(c.word);
    std::string left;
    testing::internal::CaptureStdout();
    MixerConsoleWord(s, input, left);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("\nPlaylist file called play.txt was not found!\n"),
              std::string::npos);
    EXPECT_EQ(left, c.word);
    EXPECT_EQ(std::tie(s.v, s.p, s.busvl, s.busGain), std::tie(want.v, want.p, want.busvl, want.busGain)) << c.word;
  }
}

// At the real prompt, 3 tracks (playlist line 2 a skip line, line 4 beyond them): the view in each
// mode as the menu sets it (current mode first, words but 0..3 read over), the help until "c", a
// command from the view, the bus page (lists with tracks that are none, bus 1 kept, busses 65 and 0 none), the save.
class MixerConsole : public ConsoleTest {};

TEST_F(MixerConsole, ViewModeMenuHelpAndBusPage) {
  session.Write("play.txt", "kick-drum-close-mic.wav\n-\n\nbass.wav\nbeyond.wav\n");
  const std::string out = Prompt(
      SimCardParams(2, 2, 3, 1024) +
          "int\t0\nclock\thc\nmeter\t0\nmix\t2\nv\t1\t-6\np\t1\t-40\np\t3\t100\nbusvl\t1\t-3\nbusvl\t3\t-1.5\n",
      "mix\nh\nzz\nc\nmod\n4\nx\n01\n3\nmod\n0\nmod\n1\ni1\nd\nbus\na\n2\n1,2,300,x\na\n1\n3\nzz\nr\n1\n3\na\n65\n"
      "1\na\n0\n1\nc\nmix\nmix\ns\n");
  const std::string status = "Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n",
                    moved = "Play: 1.00" + status.substr(10);
  const auto view = [](const std::string& levels, const std::string& line) {
    return "\nSource:\nkick-drum-close\tCh 1\tVol -6.00\tPan  -40\nbass.wav\tCh 3\tVol 0.00\tPan  100\n\n" + levels +
           std::string(79, '-') + "\n\n" + line + "\nMix commands are active.  Enter 'h' for help.\n";
  };
  const std::string busses = "Bus 1\t  -3.00 dB\nBus 3\t  -1.50 dB\n";
  const std::string current[] = {"channels are using", "all channels are", "channels are routed", "busses are routed"};
  const std::string choice[] = {"assign channels", "route all", "route channels", "route busses"};
  const std::string master = "Master\t  -3.00 dB\n", header = "Stereo Bus Assignments: (2 outputs, 1 busses)\n";
  const std::string page =
      "\nEnter 'a' to add a channel to a bus\nEnter 'r' to remove a channel from a bus\n"
      "Enter 'c' to continue\n";
  const std::string add = "Enter bus number\nEnter channel to add, or multiple if comma separated\n" + header;
  const std::string bus1 = "\nBus 1\t\tOut 01-02\t\tCh: ", bus2 = "\nBus 2\t\tOut 03-04\t\tCh: 1 2 " + page;
  std::vector<std::string> expected = {status + view(busses, status), "\nMixer Help:\n",
                                       "Enter 'c' to continue\n" + view(busses, status)};
  for (const auto& [mode, next] :
       {std::pair{2, view(busses, status)}, {3, view("", status)}, {0, view(master, status)}}) {
    expected.push_back("\nCurrently using mixmode [" + std::to_string(mode) + "]:\n'" + std::to_string(mode) +
                       "'  Playback = " + current[mode]);
    for (int k = 0; k < 4; ++k) {
      if (k != mode) expected.push_back("\n\n'" + std::to_string(k) + "'  Playback = " + choice[k]);
    }
    expected.push_back("\n\n\nSelect a mix mode\n" + next);
  }
  expected.push_back(view(master, moved) + moved + header + page + add + bus2 + add + bus1 + "3 " + bus2 + header +
                     bus1 + "3 " + bus2 +
                     "Enter a bus number\nEnter the channel to remove, or multiple if comma separated\n" + header +
                     bus1 + bus2 + add + bus1 + bus2 + add + bus1 + bus2 + moved + view(master, moved) + moved +
                     "\nStored Settings\n" + moved);
  std::size_t at = 0;
  for (const std::string& piece : expected) {
    const std::size_t found = out.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: " << piece << "\nafter: " << out.substr(at);
    at = found + piece.size();
  }
  EXPECT_EQ(at, out.size()) << out.substr(at);
  const std::size_t help = out.find("\nMixer Help:\n");
  EXPECT_EQ(std::count(out.begin() + help, out.begin() + out.find("Enter 'c'", help), '\n'), 26) << "a help line lost";
  EXPECT_NE(Saved().find("\nmix\t1\n"), std::string::npos) << Saved();
  EXPECT_NE(Saved().find("\nBus Assignments:\nbus\t1\t\nbus\t2\t1,2,\n"), std::string::npos) << Saved();
}

}  // namespace
}  // namespace tapeloom::test
