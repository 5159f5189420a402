#include "mix/mixer_console.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string_view>

#include "core/number_words.h"
#include "mix/busses.h"
#include "mix/gains.h"
#include "time/transport_points.h"
#include "wave/text_file.h"

namespace tapeloom {
namespace {

// An edit word split at its letter: the number before it and the value after it. A value that
// is no number, or not a finite one, is no value: the word is then ignored.
struct Edit {
  std::optional<int> number;
  std::optional<float> value;
};

Edit SplitEdit(std::string_view word, char letter) {
  const std::size_t at = word.find(letter);
  Edit edit{ParseDecimal(word.substr(0, at)), ParseFloat(word.substr(at + 1))};
  if (edit.value && !std::isfinite(*edit.value)) edit.value.reset();
  return edit;
}

bool IsTrack(const std::optional<int>& track, const SessionSettings& s) {
  return track && *track >= 1 && *track <= s.ch;
}

// Words that hold a 'p' but are session commands, never pan edits.
bool IsCommandWithP(std::string_view word) {
  for (std::string_view command : {"sp", "opt", "lp", "exp-i", "exp-s", "tempo"}) {
    if (word == command) return true;
  }
  return false;
}

void SetBusLevel(SessionSettings& s, int bus, float dB) {
  const std::size_t b = static_cast<std::size_t>(bus - 1);
  s.busvl[b] = dB > kMaxBusLevel ? kMaxBusLevel : dB;
  // A level below the range is kept as typed, and the bus keeps the gain it has.
  SetBusVolume(s.busGain, s.busvl[b], bus - 1, kBusGainDivisor);
}

void ShowMixerHelp() {
  std::puts("\nMixer Help:\n");
  std::puts("To set a channel's volume:\n");
  std::puts("   Type the channel number, then 'v', and then volume in dB.");
  std::puts("   Example: '2v-6' sets channel 2's volume to -6 dB.");
  std::puts("");
  std::puts("To set the pan:\n");
  std::puts("   Type the channel number, then 'p', and then a value -100 to 100.");
  std::puts("   left = -100,  center = 0, right = 100");
  std::puts("   Example: '2p100' sets channel 2's pan to the right.");
  std::puts("");
  std::puts("To adjust bus master levels:\n");
  std::puts("   Type the bus number, then 'b', and then volume in dB.");
  std::puts("   Example: '1b-4' sets bus 1's volume to -4 dB.");
  std::puts("");
  std::puts("Enter 'mod' to view/change the mix mode.");
  std::puts("\nEnter 'u' to update the mixer after editing the play.txt file.");
  std::puts("\nEnter 'd' when done viewing mixer settings.");
  std::puts("Or, 'mix' will toggle the mixer view on/off.\n");
  std::puts("Enter 'c' to continue");
}

// The tracks of a comma-separated list ("1,2,300,x"): every piece that reads as 1..256.
template <typename Apply>
void ForEachListedTrack(std::string_view list, Apply apply) {
  while (true) {
    const std::size_t comma = list.find(',');
    if (const std::optional<int> track = ParseDecimal(list.substr(0, comma));
        track && *track >= 1 && *track <= kMaxTracks) {
      apply(static_cast<std::size_t>(*track - 1));
    }
    if (comma == std::string_view::npos) return;
    list.remove_prefix(comma + 1);
  }
}

// "a" and "r" of the bus page: a bus number, then a list of tracks.
void EditBus(SessionSettings& s, ConsoleInput& input, bool add) {
  std::puts(add ? "Enter bus number" : "Enter a bus number");
  const std::optional<int> bus = input.ReadInt();
  std::puts(add ? "Enter channel to add, or multiple if comma separated"
                : "Enter the channel to remove, or multiple if comma separated");
  const std::string list = input.ReadWord();
  if (!bus || *bus < 1 || *bus > kMaxBusses) return;
  const std::size_t b = static_cast<std::size_t>(*bus - 1);
  ForEachListedTrack(list, [&](std::size_t track) {
    s.busAssign[b][track] = add ? 1 : 0;
    if (add) s.busActive[b] = 1;
  });
  UpdateBusses(s.busAssign, s.busActive);
}

// The descriptions of the mix mode menu: the current mode, then the choices of the others.
constexpr std::array<const char*, 4> kCurrentMode = {
    "'0'  Playback = channels are using direct outputs only.\n     Export   = all channels will be routed to the "
    "master. No busses.\n",
    "'1'  Playback = all channels are routed to outputs 1 and 2. No busses.\n     Export   = all channels will be "
    "routed to the master. No busses.\n",
    "'2'  Playback = channels are routed through multiple output busses.\n     Export   = all channels will be "
    "routed to the master. No busses.\n",
    "'3'  Playback = busses are routed to outputs 1 and 2.\n     Export   = busses will be sent to the master.\n",
};
constexpr std::array<const char*, 4> kModeChoice = {
    "'0'  Playback = assign channels to direct outputs only.\n     Export   = route all channels to the master.  No "
    "busses.\n",
    "'1'  Playback = route all channels to outputs 1 and 2.\n     Export   = route all channels to the master. No "
    "busses.\n",
    "'2'  Playback = route channels to multiple output busses.\n     Export   = route all channels to the master. No "
    "busses.\n",
    "'3'  Playback = route busses to outputs 1 and 2.\n     Export   = route busses to the master.\n",
};

}  // namespace

void ShowMixer(const SessionSettings& s) {
  std::puts("");
  std::string playlist;
  if (ReadWholeFile(s.play[0], playlist).ok()) {
    std::puts("Source:");
    const std::vector<std::string> lines = SplitList(playlist);
    for (std::size_t k = 0; k < lines.size() && k < static_cast<std::size_t>(std::max(s.ch, 0)); ++k) {
      if (lines[k].front() == '-') continue;
      std::printf("%.15s\tCh %i\tVol %4.2f\tPan %4.0f\n", lines[k].c_str(), static_cast<int>(k + 1),
                  static_cast<double>(s.v[k]), static_cast<double>(s.p[k]));
    }
    std::puts("");
    if (s.mix == MixMode::kStereo) {
      std::printf("Master\t  %4.2f dB\n", static_cast<double>(s.busvl[0]));
    } else if (MixesIntoBusses(s.mix)) {
      for (std::size_t b = 0; b < s.busvl.size(); ++b) {
        if (s.busvl[b] != 0.0f)
          std::printf("Bus %i\t  %4.2f dB\n", static_cast<int>(b + 1), static_cast<double>(s.busvl[b]));
      }
    }
    std::puts(std::string(79, '-').c_str());
  } else {
    std::printf("Playlist file called %s was not found!\n", s.play[0].c_str());
  }
  std::puts("");
  ShowStatusLine(s);
  std::puts("");
  std::puts("Mix commands are active.  Enter 'h' for help.");
}

void MixerConsoleWord(SessionSettings& s, ConsoleInput& input, std::string& word) {
  ShowMixer(s);
  word = input.ReadWord();
  if (word == "h") {
    ShowMixerHelp();
    word = input.WaitFor("c");
    return;
  }
  if (word.find('v') != std::string::npos) {
    const Edit edit = SplitEdit(word, 'v');
    if (edit.value && IsTrack(edit.number, s)) s.v[static_cast<std::size_t>(*edit.number - 1)] = *edit.value;
  } else if (word.find('b') != std::string::npos) {
    const Edit edit = SplitEdit(word, 'b');
    if (edit.value && edit.number && *edit.number >= 1 && *edit.number <= kMaxBusses) {
      SetBusLevel(s, *edit.number, *edit.value);
    }
  }
  if (word.find('p') != std::string::npos && !IsCommandWithP(word)) {
    const Edit edit = SplitEdit(word, 'p');
    if (edit.value && IsTrack(edit.number, s)) s.p[static_cast<std::size_t>(*edit.number - 1)] = *edit.value;
  }
}

void MixModeMenu(SessionSettings& s, ConsoleInput& input) {
  const int current = static_cast<int>(s.mix);
  std::printf("\nCurrently using mixmode [%i]:\n", current);
  const bool known = current >= 0 && current <= 3;
  if (known) {
    std::puts(kCurrentMode[static_cast<std::size_t>(current)]);
  }
  for (int mode = 0; mode <= 3; ++mode) {
    if (!known || mode != current) std::puts(kModeChoice[static_cast<std::size_t>(mode)]);
  }
  std::puts("");
  std::puts("Select a mix mode");
  for (;;) {
    const std::string choice = input.ReadWord();
    if (choice.size() == 1 && choice[0] >= '0' && choice[0] <= '3') {
      s.mix = static_cast<MixMode>(choice[0] - '0');
      return;
    }
  }
}

void BusRoutingPage(SessionSettings& s, ConsoleInput& input) {
  UpdateBusses(s.busAssign, s.busActive);
  for (;;) {
    std::printf("Stereo Bus Assignments: (%i outputs, %i busses)\n", s.outputs, s.outputs / 2);
    for (std::size_t b = 0; b < s.busActive.size(); ++b) {
      if (s.busActive[b] != 1) continue;
      const int bus = static_cast<int>(b + 1);
      std::printf("\nBus %i\t\tOut %.2i-%.2i\t\tCh: ", bus, 2 * bus - 1, 2 * bus);
      for (int t = 0; t < s.ch && t < kMaxTracks; ++t) {
        if (s.busAssign[b][static_cast<std::size_t>(t)] == 1) std::printf("%i ", t + 1);
      }
    }
    std::puts("\nEnter 'a' to add a channel to a bus");
    std::puts("Enter 'r' to remove a channel from a bus");
    std::puts("Enter 'c' to continue");
    const std::string word = input.ReadWord();
    if (word == "c") return;
    if (word == "a" || word == "r") EditBus(s, input, word == "a");
  }
}

}  // namespace tapeloom
