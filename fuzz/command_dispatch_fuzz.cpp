// The command loop on at most 200 words, 2^17 frames of a card in memory, files of 2^18 bytes (EFBIG); no "disk".
#include <sys/stat.h>

#include <cctype>
#include <cerrno>

#include "audio/test_ports.h"
#include "console/command_loop.h"
#include "core/program_end.h"
#include "fuzz_support.h"

namespace tapeloom::fuzz {

// A period not dividing the 4096-frame blocks, and a little of every kind of setting.
constexpr const char* kSettings =
    "dv\tmemory\nsr\t8000\ninputs\t2\noutputs\t4\nch\t4\nbuf\t1000\ni\t0\no\t16384\ne\t4096\nmem\t2048\n"
    "aud\t0.50\nxfade\t10.0\nproll\t0.100\nv\t1\t-6.00\np\t2\t50\nsolo\t2\nrange\t0\t8192\tverse\n"
    "loc\t4096\tchorus\nplay\t2\talt.txt\nrec\t2\talt_rec.txt\nbus\t1\t1,2,\nbus\t2\t3,4,\nbusvl\t2\t-3.00\n";

// Position-coded capture and counted playback, every frame charged to the input's budget.
struct BudgetPort : test::LoopbackPort {
  BudgetPort(int inputs, int period) : LoopbackPort(0, inputs, period, 4 * period) {}
  snd_pcm_sframes_t WriteN(void** c, snd_pcm_uframes_t n) override { return LoopbackPort::WriteN(c, Spend(n)); }
  snd_pcm_sframes_t ReadN(void** c, snd_pcm_uframes_t n) override { return LoopbackPort::ReadN(c, Spend(n)); }
  snd_pcm_uframes_t Spend(snd_pcm_uframes_t n) { return (spent += n) > (1 << 17) ? throw ProgramEnd(-1) : n; }
  snd_pcm_uframes_t spent = 0;
};

// clang-format off
int FullDisk(int descriptor) {
  struct stat status {}; return fstat(descriptor, &status) == 0 && status.st_size >= (1 << 18) ? EFBIG : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PrepareProcess([] { SetFileFaultHook(&FullDisk); });
  for (const auto& entry : std::filesystem::directory_iterator(".")) std::filesystem::remove_all(entry.path());
  // Track 1 is re-recorded, 3 skipped, 4 refused (16-bit); b.wav is shorter than the stop.
  for (const auto& [name, text] : {std::pair{"a.wav", CanonicalWave(1, 24, 8000, 12000)},
                                   {"b.wav", CanonicalWave(1, 24, 8000, 3000)},
                                   {"c.wav", CanonicalWave(1, 16, 8000, 100)}, {"play.txt", "a.wav\nb.wav\n-\nc.wav\n"},
                                   {"record.txt", "a.wav\nnew.wav\n"}, {"alt.txt", "b.wav\na.wav\n"},
                                   {"alt_rec.txt", "-\nb.wav\n"}}) WriteFile(name, text);
  SessionSettings settings = ReadAsAtStart(kSettings);  // its period is one a card grants
  std::string text(reinterpret_cast<const char*>(data), size);
  std::replace(text.begin(), text.end(), '/', '_');  // no name leaves the working directory
  const auto blank = [&text](std::size_t k) { return k >= text.size() || std::isspace(text[k] & 0xFF) != 0; };
  for (std::size_t k = 0, words = 0; k < text.size(); ++k) {
    if (blank(k) || (k > 0 && !blank(k - 1))) continue;  // not the start of a word
    if (++words > 200) text.resize(k);                   // which ends the loop
    if (text.compare(k, 4, "disk") == 0 && blank(k + 4)) text[k + 1] = 'u';
  } test::TypedInput input(text.empty() ? std::string(" ") : text);  // an empty stream cannot be opened
  Session session(settings, input, std::make_unique<BudgetPort>(settings.inputs, settings.buf)); try {
    StartSession(session); RunCommandLoop(session);
  } catch (const ProgramEnd&) {  // the budget spent, or a file the program wrote lost its data chunk
  } return 0;
}
// clang-format on

}  // namespace tapeloom::fuzz
