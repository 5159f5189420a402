// The command loop driven by any sequence of words: a whole session (the status display, the
// command table, every handler, the menus and prompts they open, the runs they start, the take
// menu after a recording, the export) on a sound card in memory, in a session directory of four
// tracks, two inputs and four outputs. The end of the input ends the session as "x" does.
//
// Each input is kept to milliseconds of work whatever its words ask for:
// - at most kMostWords words are typed;
// - the card moves at most kFrameBudget frames in all; past that its transfers throw
//   WorkBudgetSpent, which ends the session (a play to a stop hours away, a long monitor). A
//   Ctrl-C would stop the run as a user's does, but the session's signal state lasts as long
//   as the process, and this one runs many sessions;
// - the disk is full for a file once it holds kLargestFile bytes: a write to it, or a flush of
//   it, fails with EFBIG as under a file size limit (a long recording, export or padding), and
//   the program reports the failure and carries on, as it must on a full disk.
// Every '/' typed becomes '_', so that no file is read or written outside the session directory.
// The storage check ("disk") measures the real disk for seconds of real time: the word is typed
// as "dusk", which is no command; its tests are the suite's.
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/play_rec.h"
#include "app/settings_file.h"
#include "app/startup.h"
#include "audio/alsa_port.h"
#include "audio/test_ports.h"
#include "console/command_loop.h"
#include "console/session.h"
#include "core/program_end.h"
#include "fuzz_support.h"
#include "support/typed_input.h"
#include "wave/wave_file.h"

namespace tapeloom::fuzz {
namespace {

constexpr int kMostWords = 200;
constexpr std::int64_t kFrameBudget = std::int64_t{1} << 17;
constexpr off_t kLargestFile = off_t{1} << 18;

// The session: a period of 1000 frames (which does not divide the 4096-frame blocks), a stop
// at about 2 s and a record start at 0.5 s at 8000 Hz, a range and a locate point, volumes, a
// pan and a solo, two busses with a level, an audition length and a crossfade, and a second
// playlist and record list in the slots.
constexpr const char* kSettings =
    "dv\tmemory\nsr\t8000\ninputs\t2\noutputs\t4\nch\t4\nbuf\t1000\n"
    "i\t0\no\t16384\ne\t4096\nmem\t2048\naud\t0.50\nxfade\t10.0\nproll\t0.100\n"
    "v\t1\t-6.00\np\t2\t50\nsolo\t2\n"
    "range\t0\t8192\tverse\nloc\t4096\tchorus\n"
    "play\t2\talt.txt\nrec\t2\talt_rec.txt\n"
    "bus\t1\t1,2,\nbus\t2\t3,4,\nbusvl\t2\t-3.00\n";

// The files of the session directory: track 1 is re-recorded by input 1, track 3 is skipped,
// track 4 is refused (16-bit), and b.wav is shorter than the stop.
struct SessionFiles {
  std::vector<std::pair<std::string, std::vector<unsigned char>>> waves = {
      {"a.wav", CanonicalWave(1, 24, 8000, 12000)},
      {"b.wav", CanonicalWave(1, 24, 8000, 3000)},
      {"c.wav", CanonicalWave(1, 16, 8000, 100)},
  };
  std::vector<std::pair<std::string, std::string>> lists = {
      {"play.txt", "a.wav\nb.wav\n-\nc.wav\n"},
      {"record.txt", "a.wav\nnew.wav\n"},
      {"alt.txt", "b.wav\na.wav\n"},
      {"alt_rec.txt", "-\nb.wav\n"},
  };

  void Write() const {
    for (const auto& [name, bytes] : waves) WriteFile(name, bytes);
    for (const auto& [name, text] : lists) WriteFile(name, text);
  }
};

// Thrown by the card when the input has used up its frames.
struct WorkBudgetSpent {};

// The card: capture delivers position-coded frames, playback is taken and counted; every frame
// moved either way is charged to the input's budget.
class BudgetPort : public PcmPort {
 public:
  BudgetPort(int inputs, int period) : inner_(inputs, period) {}
  int PeriodFrames() const override { return inner_.PeriodFrames(); }
  int PlayBufferFrames() const override { return inner_.PlayBufferFrames(); }
  int Drain(PcmDirection d) override { return inner_.Drain(d); }
  int Prepare(PcmDirection d) override { return inner_.Prepare(d); }
  snd_pcm_sframes_t AvailUpdate(PcmDirection d) override { return inner_.AvailUpdate(d); }
  int Wait(PcmDirection d, int ms) override { return inner_.Wait(d, ms); }
  snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t frames) override {
    Spend(frames);
    return inner_.WriteN(channels, frames);
  }
  snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) override {
    Spend(frames);
    inner_.readSizes.clear();
    return inner_.ReadN(channels, frames);
  }

 private:
  void Spend(snd_pcm_uframes_t frames) {
    spent_ += static_cast<std::int64_t>(frames);
    if (spent_ > kFrameBudget) throw WorkBudgetSpent();
  }

  test::PositionPort inner_;
  std::int64_t spent_ = 0;
};

int FullDisk(int descriptor) {
  struct stat status {};
  return fstat(descriptor, &status) == 0 && status.st_size >= kLargestFile ? EFBIG : 0;
}

// The input's first kMostWords words, every '/' made a '_' and every "disk" a "dusk".
std::string TypedWords(const std::uint8_t* data, std::size_t size) {
  std::string text = Confined(std::string_view(reinterpret_cast<const char*>(data), size));
  int words = 0;
  bool inWord = false;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const bool space = std::isspace(static_cast<unsigned char>(text[k])) != 0;
    if (!space && !inWord && ++words > kMostWords) {
      text.resize(k);
      break;
    }
    const auto isSpace = [&](std::size_t at) {
      return at >= text.size() || std::isspace(static_cast<unsigned char>(text[at])) != 0;
    };
    if (!space && !inWord && text.compare(k, 4, "disk") == 0 && isSpace(k + 4)) text[k + 1] = 'u';
    inWord = !space;
  }
  // A stream of no bytes cannot be opened in memory; one blank ends the input all the same.
  return text.empty() ? std::string(" ") : text;
}

}  // namespace
}  // namespace tapeloom::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tapeloom;
  using namespace tapeloom::fuzz;
  static const SessionFiles files;
  static const bool prepared = (PrepareProcess(), SetFileFaultHook(&FullDisk), true);
  (void)prepared;

  ClearWorkingDirectory();
  files.Write();
  SessionSettings settings;
  GET_PARAMS(kSettings, settings);
  ResolveChannelCounts(settings);
  settings.buf = ClampPeriodRequest(settings.buf);
  test::TypedInput input(TypedWords(data, size));
  Session session(settings, input, std::make_unique<BudgetPort>(settings.inputs, settings.buf));
  try {
    StartSession(session);
    RunCommandLoop(session);
  } catch (const ProgramEnd&) {
    // A file the program wrote has lost its data chunk: the program ends, as it must.
  } catch (const WorkBudgetSpent&) {
    // The input has had its share of work.
  }
  return 0;
}
