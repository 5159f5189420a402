// The transport on the simulated card: what it plays and records (sox reads the takes too), the texts of the commands
// that start runs and of "cal", recordings cut short by signals or a full disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>
#include <numeric>
#include <optional>
#include <random>
#include <regex>
#include <sstream>

#include "audio/latency_probe.h"
#include "support/console_harness.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

constexpr char kMarker[] = ".tapeloom-recording";
constexpr std::size_t kBlock = 4096;  // frames the disk worker writes at a time
using Ints = Samples;
using Sizes = std::pair<std::size_t, std::size_t>;
using Texts = std::vector<std::string>;

std::int32_t TrackSample(std::int64_t f, int k) { return static_cast<std::int32_t>((f % 30000 + 1) * 256 + k + 1); }
// The first frames of these channels, interleaved: of tracks, or negated, as the card's inputs deliver them.
Ints Coded(std::int64_t frames, std::vector<int> channels, int sign = -1) {
  Ints samples;
  for (std::int64_t j = 0; j < frames; ++j)
    for (const int k : channels) samples.push_back(sign * TrackSample(j, k));
  return samples;
}
Bytes CardFrames(std::int64_t frames) { return Pack24(Coded(frames, {0, 1})); }
Bytes Track(std::int64_t frames, int k) { return WaveBuilder().Samples(Coded(frames, {k}, 1)).Build(); }
std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::vector<std::string> Matching(const ConsoleSession& s, const std::string& pattern) {
  std::vector<std::string> names = s.Files();
  std::erase_if(names, [&](const std::string& name) { return !std::regex_match(name, std::regex(pattern)); });
  return names;
}

// Input k from its first frame on under a consistent header, and sox reads just what it announces: gives the data bytes
// announced and the frames on the disk.
Sizes CheckTake(const std::filesystem::path& path, int k) {
  SCOPED_TRACE(path.filename().string());
  const Bytes take = ReadBytes(path);
  if (take.size() < 44) return ADD_FAILURE() << "no header", Sizes{};
  const std::size_t announced = Field32(take, 40), frames = (take.size() - 44) / 3;
  EXPECT_TRUE(Field32(take, 4) == announced + 36 && announced <= take.size() - 44) << announced;
  const Ints held = Unpack24(std::span<const unsigned char>(take).subspan(44, frames * 3));
  std::size_t j = 0;
  while (j < held.size() && held[j] == -TrackSample(static_cast<std::int64_t>(j), k)) ++j;
  EXPECT_EQ(j, held.size()) << "the frames differ from the input from there";
  const CommandResult sox = RunCommand({"sox", path.string(), "-t", "s24", "-"});
  EXPECT_TRUE(sox.status == 0 && sox.err.find("WARN") == std::string::npos) << sox.err;
  EXPECT_TRUE(sox.out.size() == announced && Text(take).substr(44).starts_with(sox.out));
  return {announced, frames};
}

// One run: param.txt after the card's lines, the lists, the words typed and what must follow, each of `expect` one of:
// a text printed once; "!text" never printed; "$text" the end of the output; "=line" in param.txt after the run;
// "@pattern count frames input" that many files match, each a take of that many frames of that input from its first
// frame on (input -1: of that size only; frames 0: not checked).
struct Scene {
  std::string settings, record, play, typed;
  Texts expect;
  std::size_t playedFrames = 0;  // when not 0, the card played this many frames per output, each as `played` says
  std::function<std::int32_t(std::int64_t position, int output)> played = nullptr;  // from the play start, on
  Bytes cardIn = {};  // the card's input; two inputs of 200000 frames when empty
  std::optional<long> fileSizeLimit = std::nullopt;
  std::string folder = "";   // a folder made before the run
  bool nothingRuns = false;  // nothing played and no file left behind
};

void Play(const Scene& c) {
  ConsoleSession session;
  SCOPED_TRACE(c.settings + c.record + c.play + c.typed);
  WriteBytes(session / "t1.wav", Track(200000, 0));
  WriteBytes(session / "t2.wav", Track(10000, 1));
  WriteBytes(session / "a.wav", WaveBuilder().Samples(Ints(8192, 1000)).Build());
  WriteBytes(session / "b.wav", WaveBuilder().Samples(Ints(8192, -3000)).Build());
  EXPECT_EQ(c.play.starts_with("pipe.wav") ? ::mkfifo((session / "pipe.wav").c_str(), 0600) : 0, 0);
  if (!c.folder.empty()) std::filesystem::create_directory(session / c.folder);
  WriteBytes(session / "card-in.raw", c.cardIn.empty() ? CardFrames(200000) : c.cardIn);
  session.Write("card-out.raw", "");
  session.Write("play.txt", c.play);
  session.Write("record.txt", c.record);
  session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "clock\thc\nmeter\t0\n" + c.settings);
  const std::vector<std::string> before = session.Files();
  const RunResult run = session.Run(c.typed, std::chrono::seconds(120), c.fileSizeLimit);
  EXPECT_EQ(run.status, 0) << run.err;
  const Ints out = Unpack24(ReadBytes(session / "card-out.raw"));
  for (const std::string& text : c.expect) {
    const char kind = std::string("!$=@").find(text[0]) == std::string::npos ? ' ' : text[0];
    const std::string body = kind == ' ' ? text : text.substr(1);
    std::size_t count = 0, frames = 0, announced = 0;
    for (std::size_t at = run.out.find(body); at != std::string::npos; at = run.out.find(body, at + 1)) ++count;
    EXPECT_TRUE(kind == '@' || (kind == '$'   ? run.out.ends_with(body)
                                : kind == '=' ? session.Read("param.txt").find(body) != std::string::npos
                                              : count == (kind == '!' ? 0u : 1u)))
        << body << "\nin:\n" + run.out;
    if (kind != '@') continue;
    std::istringstream fields(body);
    std::string pattern;
    int input = 0;
    fields >> pattern >> count >> frames >> input;
    const std::vector<std::string> names = Matching(session, pattern);
    EXPECT_EQ(names.size(), count) << pattern;
    for (const std::string& name : frames == 0 ? Texts{} : names) {
      std::tie(announced, count) = input < 0 ? Sizes(0, (std::filesystem::file_size(session / name) - 44) / 3)
                                             : CheckTake(session / name, input);
      EXPECT_EQ(count, frames) << name;
      EXPECT_TRUE(input < 0 || c.fileSizeLimit || announced == count * 3) << name << " announces " << announced;
    }
  }
  EXPECT_TRUE(!c.nothingRuns || (out.empty() && session.Files() == before)) << "nothing played, no file left";
  if (c.playedFrames == 0) return;
  EXPECT_EQ(out.size(), 2 * c.playedFrames);
  std::size_t n = 0;  // silence before the play start, then as `played` says
  while (n < out.size() && out[n] == (n < 2 * 4096 ? 0 : c.played(std::int64_t(n / 2) - 4096, int(n % 2)))) ++n;
  EXPECT_EQ(n, out.size()) << "the card plays frame " << n / 2 << " wrong";
}

// A play run ends after the cycle that reads the block past the stop: a silent block, then 1024 frames a cycle.
std::size_t FramesPlayed(std::int64_t in, std::int64_t out) { return ((out - in + 4095) / 4096 * 4 + 1) * 1024; }

// "cal" on a card that hears nothing it plays: clicks where each capture reads them, 6496 frames into a take on its
// frame. The first capture drops 4 periods; the second starts where it stopped (4096 + 45056) and drops 27.
Bytes Clicks(std::initializer_list<std::int64_t> lateness, int level) {
  const std::int64_t takes[] = {4096, 4096 + 45056 + 27648};
  Ints samples(static_cast<std::size_t>(2 * (takes[1] + 45056)), 0);
  for (std::size_t n = 0; n < lateness.size(); ++n)
    for (const int click : MakeClickTrain(48000).clicks)
      samples[static_cast<std::size_t>(2 * (takes[n] + 6496 + lateness.begin()[n] + click))] = level;
  return Pack24(samples);
}

TEST(TransportConsole, RunsAndTheCommandsThatStartThem) {
  // clang-format off
  const std::string status = "Play: 0.00   Rec: 0.00   Stop: ", mem = "   Mem: 0.00\n", zero = status + "0.00" + mem;
  const std::string rec = "Play: 0.00   Rec: 1.00   Stop: 0.00" + mem, fix = "!\nEnter 'c' to continue and fix\n";
  const std::string peaks = "Playing...\n\n\nOutput Channel Peaks:\n", ask = "Create the file or enter a different name\n";
  const std::string conflict = " already exists!\nEnter a different take name or 'w' to overwrite this file\nor 'W' to "
      "overwrite all similar conflicts\n", nothingArmed = "No input is armed in record.txt, so nothing would be recorded: "
      "the recording is cancelled.\n", noTakes = "No take could be created for the inputs armed in record.txt: the "
      "recording is cancelled.\n";
  std::vector<Scene> scenes = {
      {"int\t0\no\t48128\n", "", "t1.wav\nt2.wav\n", "p\n", Texts{"$" + status + "1.00" + mem + peaks + "\n" + status +
       "1.00" + mem}, FramesPlayed(0, 48128), [](std::int64_t p, int k) { return k == 1 && p >= 10000 ? 0 :
       TrackSample(p, k); }},
      // Something that is no file is refused (a FIFO nobody writes would hold the run for ever); the rest plays.
      {"int\t0\no\t10240\n", "", "pipe.wav\nt2.wav\n", "p\n", Texts{"$" + status + "0.21" + mem + "Can't read "
       "pipe.wav: Not a regular file\n" + peaks + "\n" + status + "0.21" + mem}, FramesPlayed(0, 10240), [](std::int64_t
       p, int k) { return k == 0 ? 0 : TrackSample(p, 1); }},
      {"int\t0\ni\t95232\no\t120832\n", "", "t1.wav\n", "p\n", Texts{peaks}, FramesPlayed(95232, 120832),
       [](std::int64_t p, int k) { return k == 1 ? 0 : TrackSample(95232 + p, 0); }},
      // A stop at the start plays one period of silence.
      {"int\t0\ni\t95232\no\t95232\n", "", "t1.wav\n", "p\n", Texts{peaks}, 1024, [](std::int64_t, int) { return 0; }},
      // Mix mode 1 sums to the first pair: centre pan is 181 / 256, so (1000 - 3000) × 181 / 256 = -1414.06 → -1414.
      {"int\t0\nmix\t1\no\t4096\n", "", "a.wav\nb.wav\n", "p\n", Texts{peaks + "channel 1: -75.46 dBFS\nchannel 2: "
       "-75.46 dBFS\n\n"}, FramesPlayed(0, 4096), [](std::int64_t, int) { return -1414; }},
      {"int\t0\no\t8192\nsolo\t2\n", "", "t1.wav\nt2.wav\n", "sp\n", Texts{"Playing...\nTracks are soloed\n"},
       FramesPlayed(0, 8192), [](std::int64_t p, int k) { return k == 0 ? 0 : TrackSample(p, 1); }},
      // The takes hold 5120 frames (the stop rounded up to 15360); the peaks cover frames up to 12287.
      {"int\t0\ne\t10240\no\t15240\n", "one.wav\ntwo.wav\n", "", "R_v2\n", Texts{"Recording...\n\n\n\nInput Channel "
       "Peaks:\n\tchannel 1: -8.52 dBFS\n\tchannel 2: -8.52 dBFS\n", "@one_v2_stp_10240\\.wav 1 5120 0",
       "@two_v2_stp_10240\\.wav 1 5120 1", "@\\.tapeloom-recording.* 0"}},
      // Periods that do not divide the block record too.
      {"int\t0\nbuf\t1000\no\t9000\n", "one.wav\n", "", "R\n", Texts{"@audio_ch_1_[0-9]+\\.wav 1 9000 0"}},
      // A marker that cannot be written: the takes record all the same and the start-up names the folder.
      {"int\t0\no\t96000\n", "a.wav\nb.wav\n", "", "R\n", Texts{".tapeloom-recording is not a recording marker "
       "Tapeloom can read: left as it is\n", "Can't rename .tapeloom-recording.tmp to .tapeloom-recording: Is a "
       "directory (recording all the same;", "@audio_ch_1_[0-9]+\\.wav 1 96256 0", "@audio_ch_2_[0-9]+\\.wav 1 96256 1",
       "@\\.tapeloom-recording 1", "@\\.tapeloom-recording\\.tmp 0"}, 0, nullptr, Bytes{}, std::nullopt, kMarker},
      // Failed writes are reported once per take and what was written is kept.
      {"int\t0\no\t40960\n", "a.wav\nb.wav\n", "", "R_t\n", Texts{"\nCan't write to a_t.wav: File too large\n\nCan't "
       "write to b_t.wav: File too large\n", "Can't write to a_t", "@a_t\\.wav 1 6652 0"}, 0, nullptr, Bytes{}, 20000},
      {"int\t0\n", "one.wav\n", "", "R\nx\nc\nc\n", Texts{"$" + zero + ">> Stop time is not set" + fix + "\n>> Stop "
       "time is the same as record start" + fix + zero, "@audio_ch_.* 0"}},
      {"int\t0\ne\t48000\n", "one.wav\n", "", "r\nc\nc\n", Texts{"$" + rec + ">> Stop time is not set" + fix +
       "\n>> Stop time is set before record start" + fix + rec, "@audio_ch_.* 0"}},
      // Recording with playback raises the record start to the play start for good; "-" records nothing.
      {"int\t0\ni\t20480\ne\t10240\no\t30720\n", "one.wav\n-\n", "t1.wav\n", "r\nstp\ns\n", Texts{"=\ni\t20480\no\t"
       "30720\ne\t20480\n", "@audio_ch_1_[0-9]+_stp_20480\\.wav 1 10240 -1", "@audio_ch_2_.* 0"}},
      // "stp" answers the take menu after a recording and keeps the takes as they are.
      {"i\t24576\ne\t49152\no\t98304\n", "one.wav\n", "t1.wav\n", "p\nR\nstp\nr\nstp\n", Texts{"playback start = 0.51 "
       "sec\nplayback stop  = 2.05 sec\n", "record start   = 1.02 sec\nrecord stop    = 2.05 sec\n", "Playing and "
       "Recording...\nplayback start = 0.51 sec\nrecord start   = 1.02 sec\nplay/rec stop  = 2.05 sec\n"}},
      {"tmode\t1\ni\t48000\ne\t96000\no\t144000\nbuf\t128\n", "one.wav\n", "t1.wav\n", "p\nR\n", Texts{"playback start "
       "= 1.3.00\nplayback stop  = 2.3.00\n", "record start   = 2.1.00\nrecord stop    = 2.3.00\n"}},
      // One second of preroll is 47 periods before the play start; both points come back.
      {"proll\t1.0\ni\t98304\ne\t4096\no\t108544\n", "one.wav\n", "t1.wav\n", "ri\nstp\ns\n", Texts{"Playing and "
       "Recording...\nplayback start = 1.05 sec\nrecord start   = 2.05 sec\nplay/rec stop  = 2.26 sec\n",
       "=\ni\t98304\no\t108544\ne\t4096\n", "@audio_ch_1_[0-9]+_stp_98304\\.wav 1 10240 -1"}},
      {"proll\t2.0\ni\t24576\no\t49152\n", "one.wav\n", "", "ri\n", Texts{"playback start = 0.00 sec\nrecord start   = "
       "0.51 sec\n"}},
      {"int\t0\nproll\t0.5\ni\t98304\ne\t4096\n", "one.wav\n", "", "ri\nc\nc\ns\n", Texts{"=\ni\t98304\no\t0\ne\t4096\n"
       }},
      {"aud\t0.5\ni\t49152\ne\t73728\no\t98304\n", "", "t1.wav\n", "ai\nao\nae\ns\n", Texts{"playback start = 1.02 "
       "sec\nplayback stop  = 1.52 sec\n", "playback start = 2.05 sec\nplayback stop  = 2.55 sec\n", "playback start = "
       "1.54 sec\nplayback stop  = 2.04 sec\n", "=\ni\t49152\no\t98304\ne\t73728\n"}},
      // A second of monitor is 51 periods, a line every 16 of each input's peak so far (frames 16383, 29999); "mr"
      // shows the armed inputs only, then a space per input.
      {"int\t0\n", "-\ntwo.wav\n", "", "ma\n1\ns\n", Texts{"Peaks...\n\r(1/-6) (2/-6)   \r(1/-1) (2/-1)   \r(1/-1) "
       "(2/-1)   \n" + zero + "\nStored", "=\no\t0\n"}},
      {"int\t0\n", "-\ntwo.wav\n", "", "mr\n0.3\n", Texts{"Monitoring Input Peaks...\n\r(2/-6)   \n"}},
      {"int\t0\n", "", "", "mr\n0.3\n", Texts{"Monitoring Input Peaks...\n\r  \n"}},
      // A new take name is for its channel and those after it, and for its command only.
      {"int\t0\no\t4096\n", "guitar.wav\nbass\n", "", "R_take1\nR_take1\nw\nsecond\nR_take1\nW\nR_\nR\n", Texts{
       "guitar_take1.wav" + conflict + "The file named bass_take1.wav" + conflict + "Recording...\n", "guitar_take1.wav"
       + conflict + "Recording...\n", "@guitar_take1\\.wav 1", "@bass_take1\\.wav 1", "@bass_second\\.wav 1",
       "@guitar_\\.wav 1", "@bass_\\.wav 1", "@guitar_second\\.wav 0", "@audio_ch_[12]_[0-9]+\\.wav 2"}},
      // "pad" keeps takes recorded from 0 under their names: runs within a second keep apart.
      {"int\t0\no\t4096\n", "one.wav\n", "", "R\npad\nR\npad\nR\npad\n", Texts{"@audio_ch_1_[0-9]+\\.wav 3"}},
      {"int\t0\no\t4096\n", "missing-folder/a.wav\nb.wav\n", "", "R_x\n", Texts{"Can't open missing-folder/a_x.wav for "
       "recording\nRecording...\n", "Input Channel Peaks:\n\tchannel 2: ", "!\tchannel 1: ", "@b_x\\.wav 1 4096 1"}},
      // Exit asks for a record list that has gone missing; the end of input ends the question too.
      {"int\t0\nrec\t1\ttakes.txt\n", "", "", "x\nstill-missing.txt\nrecord.txt\n", Texts{"$" + zero + "Cannot find "
       "recordlist file called takes.txt\n" + ask + "Cannot find recordlist file called still-missing.txt\n" + ask}},
      {"int\t0\nrec\t1\ttakes.txt\n", "", "", "x\n", Texts{}},
      // "cal": the first take lands 100 frames late, the second 1124: one period more.
      {"int\t0\n", "", "", "cal\n1\n1\ny\ns\nx\n", Texts{"Round-trip latency: 4196 frames (87.42 ms at 48000 Hz)\nWith "
       "odcomp 4 and latcomp 0 a take lands:\n  play start at the record start:      100 frames late (2.08 ms)\n  play "
       "start before the record start:  1124 frames late (23.42 ms)\nCorrection: odcomp 5, latcomp 100. Store it for "
       "this session? (y,n) odcomp is now 5 and latcomp 100; \"s\" saves them in param.txt.\n", "=\nodcomp\t5\n",
       "=\nlatcomp\t100\n"}, 0, nullptr, Clicks({100, 1124}, kClickLevel / 2)},
      {"int\t0\n", "", "", "cal\n1\n1\ns\nx\n", Texts{"Input 1 clipped", "=\nodcomp\t4\n", "=\nlatcomp\t0\n"}, 0,
       nullptr, Clicks({0}, 8388607)},
      {"int\t0\n", "", "", "cal\n-\nd\nn\ns\nx\n", Texts{"Store it for this session? (y,n) Nothing was changed.\n",
       "=\nodcomp\t4\n", "=\nlatcomp\t0\n"}, 0, nullptr, Clicks({5, 5}, kClickLevel)},
      // On its exact frame: nothing to correct. Half a period off rounds up to a whole one and leaves the rest said.
      {"int\t0\n", "", "", "cal\n1\n1\nx\n", Texts{"Round-trip latency: 4096 frames (85.33 ms at 48000 Hz)\n", "play start at the record start:      on its exact frame\n", "Nothing to correct.\n"}, 0, nullptr, Clicks({0, 0}, kClickLevel)},
      {"int\t0\n", "", "", "cal\n1\n1\nn\nx\n", Texts{"differ by 512 frames more than whole periods: the card's latency does not seem steady, and a take with the play start before the record start will still land 512 frames early (10.67 ms).\nCorrection: odcomp 5, latcomp 0. Store"}, 0, nullptr, Clicks({0, 512}, kClickLevel)},
      // Nothing on the input asked for, or no such channel: nothing changes.
      {"int\t0\n", "", "", "cal\n2\n2\nx\n", Texts{"on output 2 and recording input 2", "No test signal came back on input 2: check the cable from output 2 to input 2"}, 0, nullptr, Clicks({0, 0}, kClickLevel)},
      {"int\t0\n", "", "", "cal\n3\ncal\n1\n0\nx\n", Texts{"There is no output 3: the card has 2.\nNothing was changed.\n", "There is no input 0: the card has 2.\nNothing was changed.\n"}},
  };
  // A take holds at most 1431655753 frames: a frame more is refused before anything starts ("ri" puts the points back).
  // The stop comes from "mem", never rounded; nothing is armed, so a passing recording is cancelled there.
  const std::string tooFar = "too far after record start: a take holds at most 8:17:06.16 at 48000 Hz (1431655753 frames)" + fix;
  const std::tuple<std::string, std::string, std::int64_t, std::string> edges[] = {{"", "R", 0, "i\t0\no\t1431655754\ne\t0\n"},
      {"i\t8192\ne\t4096\n", "r", 8192, "i\t8192\no\t1431663946\ne\t8192\n"},  // "r" keeps its raised record start
      {"proll\t0.5\ni\t98304\ne\t4096\n", "ri", 98304, "i\t98304\no\t1431754058\ne\t4096\n"}};
  for (const auto& [points, word, start, refused] : edges)
    for (const std::int64_t more : {0, 1})
      scenes.push_back({"int\t0\n" + points + "mem\t" + std::to_string(start + 1431655753 + more) + "\n", "-\n", "t1.wav\n",
          "m.o\n" + word + (more ? "\nc\ns\n" : "\n"), more ? Texts{tooFar, "!" + nothingArmed, "=\n" + refused} :
          Texts{"!" + tooFar, nothingArmed}, 0, nullptr, Bytes{}, std::nullopt, "", true});
  // A recording that would record nothing is cancelled before it starts; so is one with no take to record into.
  const std::tuple<std::string, std::string, std::optional<long>, std::string> cancelled[] = {
      {"-\n-\n", "R\n", std::nullopt, nothingArmed}, {"", "r\n", std::nullopt, nothingArmed},
      {"-\n-\nbeyond-the-inputs.wav\n", "ri\n", std::nullopt, nothingArmed},
      {"no-dir/a.wav\n-\n", "R_x\n", std::nullopt, "Can't open no-dir/a_x.wav for recording\n" + noTakes},
      {"a.wav\nb.wav\n", "r\n", 40, "Can't open audio_ch_1_"}};  // the last: room for no take header
  for (const auto& [record, typed, limit, says] : cancelled) {
    const std::string stop = status + "0.17" + mem, end = says == nothingArmed ? nothingArmed : noTakes;
    scenes.push_back({"int\t0\no\t8192\n", record, "t1.wav\n", typed, Texts{stop + says, "$" + end + stop, "!Recording"}, 0,
        nullptr, Bytes{}, limit, "", true});
  }
  // clang-format on
  for (const Scene& c : scenes) Play(c);
}

// "R" from a FIFO card fed in stages of whole blocks (each once the take announces the last), signalled once it holds
// all; or paced a period a tick and killed at tick `killAt`. Gives the run, the frames read, the time to stop.
using Clock = std::chrono::steady_clock;
using Recorded = std::tuple<RunResult, std::size_t, std::optional<Clock::duration>>;
Recorded Record(const ConsoleSession& session, const std::vector<std::size_t>& stages, int signal, int killAt) {
  session.Write("play.txt", "");
  session.Write("record.txt", "a.wav\nb.wav\n");
  session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\no\t480256\n");  // ten seconds
  const std::filesystem::path card = session / "card-in.raw";
  std::filesystem::remove(card);
  EXPECT_EQ(::mkfifo(card.c_str(), 0600), 0);
  std::vector<std::size_t> ends = {0};  // the blocks fed once each stage is given
  for (const std::size_t blocks : stages) ends.push_back(ends.back() + blocks);
  const Bytes input = CardFrames(killAt > 0 ? killAt * 1024 : static_cast<std::int64_t>(ends.back() * kBlock + 1024));
  const auto holds = [&](std::size_t blocks, bool announced) {
    const Texts takes = Matching(session, "audio_ch_1_[0-9]+\\.wav");
    const Bytes take = takes.empty() ? Bytes{} : ReadBytes(session / takes[0]);
    return take.size() >= 44 + blocks * kBlock * 3 && (!announced || Field32(take, 40) == blocks * kBlock * 3);
  };
  std::size_t stage = 0, sent = 0;
  int fifo = -1, tick = 0;
  std::optional<Clock::time_point> appeared, signalled, ended;
  const std::regex finished("Enter a take handling command|Session ended by signal");
  const auto stop = [&](pid_t pid) { signalled = Clock::now(), ::kill(pid, signal); };
  const RunResult run = session.RunLive("R\n", [&](pid_t pid, const std::string& out) {
    if (fifo < 0) {
      fifo = ::open(card.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      // Room for the stages: the card reads whole periods, never part of one still being written.
      if (fifo >= 0 && ::fcntl(fifo, F_SETPIPE_SZ, 1 << 20) < (1 << 20)) ADD_FAILURE() << "no room in the FIFO";
      if (fifo < 0 || killAt == 0) return;
    }
    const auto give = [&](std::size_t upTo) {  // all or nothing, as the FIFO has room
      if (::write(fifo, input.data() + sent, upTo - sent) == static_cast<ssize_t>(upTo - sent)) sent = upTo;
    };
    if (!appeared && holds(0, false)) appeared = Clock::now();
    if (signalled) {
      if (signal != SIGKILL) give(input.size());
    } else if (killAt > 0) {
      ++tick <= killAt ? give(sent + 1024 * 6) : stop(pid);
    } else if (stage < stages.size() && holds(ends[stage], true)) {
      give(ends[++stage] * kBlock * 6);
    } else if (signal != 0 && stage == stages.size() && holds(ends.back(), false) &&
               (stages.size() > 0 || Clock::now() - *appeared > std::chrono::milliseconds(500))) {
      EXPECT_TRUE(stages.empty() || session.Exists(kMarker)) << "the marker is on the disk while takes are written";
      stop(pid);
    }
    if (!ended && std::regex_search(out, finished)) ended = Clock::now();
    if (out.find("Enter a take handling command.") != std::string::npos) ::kill(pid, SIGTERM);
  });
  // What was given and not read is still in the FIFO: the signal may come just before the run reads a period.
  std::size_t unread = 0;
  char buffer[65536];
  if (const int reader = ::open(card.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); reader >= 0) {
    for (ssize_t n = 0; (n = ::read(reader, buffer, sizeof buffer)) > 0;) unread += static_cast<std::size_t>(n);
    ::close(reader);
  }
  if (fifo >= 0) ::close(fifo);
  if (!ended && std::regex_search(run.out, finished)) ended = Clock::now();  // between two looks
  EXPECT_TRUE((signal == 0 || signalled) && unread % 6 == 0) << unread;
  std::filesystem::remove(card);  // the next start-up's card reads an ordinary file
  session.Write("card-in.raw", "");
  return {run, (sent - unread) / 6, signalled && ended ? std::optional(*ended - *signalled) : std::nullopt};
}

// A kill leaves wave files of what they hold and the marker; Ctrl-C, SIGTERM and SIGHUP stop the run within a second as
// at its stop, also on a silent card (gone after five seconds); Ctrl-C leads to the take menu.
TEST(TransportConsole, ATakeStoppedByASignalIsAValidWaveFileOfWhatItHolds) {
  std::vector<std::tuple<int, std::vector<std::size_t>, int>> cases = {
      {SIGKILL, {1}, 0}, {SIGKILL, {6}, 0}, {SIGKILL, {12, 4}, 0}, {SIGINT, {2}, 0}, {SIGTERM, {3}, 0},
      {SIGHUP, {1}, 0},  {SIGINT, {}, 0},   {SIGTERM, {}, 0},      {SIGHUP, {}, 0},  {0, {}, 0}};
  std::mt19937 random(20261207);
  for (const int base : {1, 3, 9, 17, 29, 41, 60, 75, 90, 120, 150, 200})
    cases.push_back({SIGKILL, {}, base + static_cast<int>(random() % 7)});
  for (const auto& [signal, stages, killAt] : cases) {
    const std::size_t blocks = std::accumulate(stages.begin(), stages.end(), std::size_t{0});
    SCOPED_TRACE(testing::Message() << "signal " << signal << " after " << blocks << " blocks, at tick " << killAt);
    ConsoleSession session;
    const auto [run, captured, stopping] = Record(session, stages, signal, killAt);
    EXPECT_EQ(run.status, 128 + (signal == SIGKILL || signal == SIGHUP ? signal : SIGTERM));
    const Texts takes = Matching(session, "audio_ch_[12]_[0-9]+\\.wav");
    ASSERT_TRUE(killAt > 0 || takes.size() == 2) << takes.size();  // a random kill may come before the takes exist
    for (std::size_t k = 0; k < takes.size(); ++k) {
      const auto [announced, frames] = CheckTake(session / takes[k], static_cast<int>(k));
      // A kill leaves the header at whole blocks, at most a second and a block behind; a stop announces every frame.
      EXPECT_TRUE(frames <= captured && frames >= blocks * kBlock &&
                  (signal == SIGKILL ? announced % (kBlock * 3) == 0 && frames * 3 - announced < (48000 + kBlock) * 3
                                     : announced == frames * 3 && frames == captured))
          << announced << " bytes announced of " << frames << " frames, " << captured << " read";
    }
    if (signal == SIGKILL && stages.size() == 2) {
      // The header says 12 blocks (past a second), 4 more follow: the next start sets it to all the take holds, and
      // leaves the other take, replaced since by another file of its name (as a re-recording would), as it is.
      EXPECT_EQ(Field32(ReadBytes(session / takes[0]), 40), 12 * kBlock * 3) << "the header lags";
      const Bytes other = WaveBuilder().Samples(PositionCoded(100)).Build();
      WriteBytes(session / "other.wav", other);
      std::filesystem::rename(session / "other.wav", session / takes[1]);
      const RunResult again = session.Run("x\n");
      const std::size_t at =
          again.out.find(takes[0] + " was not finished: repaired, 65536 frames (1.37 s)\n" + takes[1] +
                         " was not finished, but it is gone or was changed since: left "
                         "as it is\n");
      EXPECT_LT(at, again.out.find("Requested Parameters:")) << "said before the session starts:\n" << again.out;
      EXPECT_TRUE(again.status == 0 && !session.Exists(kMarker) && ReadBytes(session / takes[1]) == other);
      EXPECT_EQ(CheckTake(session / takes[0], 0).first, 16 * kBlock * 3) << "every frame on the disk";
      EXPECT_EQ(session.Run("x\n").out.find("was not finished"), std::string::npos) << "said once";
    } else if (signal == SIGKILL) {
      EXPECT_TRUE(killAt > 0 || session.Read(kMarker).find(" " + takes[1] + "\n") != std::string::npos);
    } else {
      EXPECT_FALSE(session.Exists(kMarker));
      for (const std::string& take : takes) {  // the space reserved ahead of a take is given back when it stops short
        struct stat file {};
        EXPECT_TRUE(::stat((session / take).c_str(), &file) == 0 && file.st_blocks * 512 <= file.st_size + 65536);
      }
      EXPECT_EQ(run.out.find("Enter a take handling command.") != std::string::npos, signal == SIGINT || signal == 0);
      const std::string lost =
          "\nRecording on tapeloom_sim stopped working: nothing came from the card for 5 seconds\n";
      EXPECT_TRUE(signal == 0 ? run.out.find(lost) != std::string::npos
                              : stopping && *stopping < std::chrono::seconds(1) &&
                                    run.out.find("stopped working") == std::string::npos)
          << run.out;
      EXPECT_TRUE(signal == SIGINT || signal == 0 ||
                  run.out.ends_with("The takes of the last recording stay on disk as they are:\n   " + takes[0] +
                                    "\n   " + takes[1] + "\n\nSession ended by signal " + std::to_string(signal) +
                                    " (" + strsignal(signal) + ")\n"))
          << run.out;
    }
  }
}

// The real program traced, a file per thread: the thread that moves the card's frames makes no call on a wave file
// between its first and last transfer; the disk worker makes them all.
TEST(TransportConsole, TheThreadThatDrivesTheCardTouchesNoWaveFileDuringARun) {
  if (ConsoleSession::Emulated()) GTEST_SKIP() << "a tracer sees the emulator's calls, not the program's";
  if (RunCommand({"strace", "-V"}).status != 0) GTEST_SKIP() << "strace is not installed";
  ConsoleSession session;
  WriteBytes(session / "t1.wav", Track(300000, 0));
  WriteBytes(session / "t2.wav", Track(300000, 1));
  WriteBytes(session / "card-in.raw", CardFrames(400000));
  session.Write("play.txt", "t1.wav\nt2.wav\n");
  session.Write("record.txt", "a.wav\nb.wav\n");
  session.Write("param.txt", SimCardParams(2, 2, 2, 1024) + "int\t0\nclock\thc\nmeter\t0\ne\t48000\no\t240000\n");
  const TempDir traces;
  const std::filesystem::path trace = traces / "trace";
  const CommandResult run =  // a leak check cannot run under a tracer
      session.RunUnder({"env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-ff", "-y", "-qq", "-e",
                        "trace=%file,%desc,fsync,fdatasync,sync_file_range", "-o", trace.string(), "--"},
                       "r_t\n");
  if (run.status != 0 && run.err.find("ptrace") != std::string::npos) GTEST_SKIP() << "no tracing here: " << run.err;
  ASSERT_EQ(run.status, 0) << run.err;
  const std::regex wave("<[^>]*\\.wav>|\"[^\"]*\\.wav\""), transfer("read\\([0-9]+<[^>]*card-in\\.raw>");
  int threads = 0, workerCalls = 0;
  for (const auto& entry : std::filesystem::directory_iterator(traces.path())) {
    ++threads;
    const std::string calls = Text(ReadBytes(entry.path()));
    const auto waveCalls = [&](std::size_t from, std::size_t to) {
      return int(std::distance(std::sregex_iterator(calls.begin() + from, calls.begin() + to, wave), {}));
    };
    std::vector<std::size_t> at;  // the card's transfers
    for (std::sregex_iterator it(calls.begin(), calls.end(), transfer), end; it != end; ++it)
      at.push_back(it->position());
    if (at.empty())
      workerCalls += waveCalls(0, calls.size());
    else
      EXPECT_TRUE(at.size() > 100 && waveCalls(at.front(), at.back()) == 0) << calls;
  }
  EXPECT_EQ(threads, 2) << "the console's thread and the disk worker";
  EXPECT_GT(workerCalls, 4) << "the worker read the tracks and wrote the takes";
}

}  // namespace
}  // namespace tapeloom::test
