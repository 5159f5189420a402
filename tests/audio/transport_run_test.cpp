// The transport run inside the process, on cards in memory: takes against what was played and
// heard, xruns, device faults, stalls and signals at chosen transfers, and cards that keep time.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numeric>
#include <ranges>
#include <set>
#include <thread>

#include "audio/test_ports.h"
#include "core/session_signals.h"
#include "support/file_faults.h"
#include "support/run_bench.h"
#include "support/wave_builder.h"
#include "wave/text_file.h"
#include "wave/wave_file.h"

namespace tapeloom::test {
namespace {

using Samples = std::vector<std::int32_t>;
using Want = std::function<std::int32_t(std::int64_t, int)>;  // the sample of a frame on a channel

// Track k's sample at position f: never 0, different for every frame of a track.
std::int32_t Track(std::int64_t f, int k = 0) { return static_cast<std::int32_t>((f % 30000 + 1) * 256 + k + 1); }
Want From(std::int64_t first) {
  return [first](std::int64_t j, int) { return Track(first + j); };
}
const Want kCode = &PositionPort::Code;

// Quiet runs (no point lines, clock or meter) on tracks t1.wav, redo.wav (track 1's samples) and
// cut.wav, whose header says 20000 frames where it holds 10000.
void Start(RunBench& run, const std::string& settings, std::string play = "", std::string record = "",
           int t1Frames = 100000) {
  for (const auto& [name, k, frames] :
       {std::tuple{"t1.wav", 0, t1Frames}, {"redo.wav", 1, 100000}, {"cut.wav", 0, 20000}}) {
    Samples samples(std::size_t(frames), 0);
    for (std::size_t f = 0; f < samples.size(); ++f) samples[f] = Track(std::int64_t(f), k);
    WriteBytes(run / name, WaveBuilder().Samples(samples).Build());
  }
  std::filesystem::resize_file(run / "cut.wav", 44 + 10000 * 3);
  run.dir().Write("play.txt", play.empty() ? "t1.wav\n" : play);
  run.dir().Write("record.txt", record.empty() ? "a.wav\nb.wav\n" : record);
  run.Start("dv\ttapeloom_sim\nsr\t48000\ninputs\t2\noutputs\t2\nch\t2\nbuf\t1024\nint\t0\nclock\thc\nmeter\t0\n" +
            settings);
}

Samples Take(RunBench& run, std::size_t n = 0) {
  const Bytes bytes = ReadBytes(run / SplitList(run.takes().takeList).at(n));
  return bytes.size() < 44 ? Samples{} : Unpack24(std::span<const unsigned char>(bytes).subspan(44));
}

// "" when `got` holds `frames` samples (at least -frames when negative), all as `want` gives them.
std::string Mismatch(const Samples& got, std::int64_t frames, const Want& want, int k = 0) {
  if (frames >= 0 ? std::ssize(got) != frames : std::ssize(got) < -frames)
    return std::to_string(got.size()) + " frames";
  for (std::size_t j = 0; j < got.size(); ++j) {
    if (got[j] != want(std::int64_t(j), k)) return "frame " + std::to_string(j) + ": " + std::to_string(got[j]);
  }
  return "";
}

TEST(TransportRunTest, EachRunPlaysAndRecordsItsFramesInPlaceWhateverTheCardDoes) {
  // A loop where the run plays, position-coded capture where not, failing as the row says: what is said and held.
  using Stall = FaultPort::Stall;
  struct Case {
    const char* what;
    std::string set;  // param.txt lines
    RunKind kind;
    std::map<int, snd_pcm_sframes_t> writes, reads;  // the transfers that fail, and how
    std::vector<std::string> said;
    std::int64_t frames;       // of every take (0: not checked)
    Want take, played;         // input 1's take where the run plays, else every take; outputs after their first block
    std::string play, record;  // "": t1.wav; a.wav and b.wav
    std::array<int, 2> prepares;  // {}: one for each direction the run uses
    int resumes, gone;            // gone: what every prepare after the first fails with
    bool resumable;
    Stall stall;                 // from the 13th transfer on, of the capture in a recording, of the playback otherwise
    int ctrlCAt, link;           // ctrlCAt: 1 + the read during which Ctrl-C comes
    std::vector<int> readSizes;  // the first ones
    int captured;
  };
  const auto silentAt = [](std::set<int> periods) {  // failed periods silent, the others in order
    return [periods](std::int64_t j, int k) {
      const auto missed = std::ranges::count_if(periods, [&](int p) { return p < j / 1024; });
      return periods.contains(int(j / 1024)) ? 0 : PositionPort::Code(j - 1024 * missed, k);
    };
  };
  const auto both = RunKind::kPlayAndRecord, rec = RunKind::kRecord, play = RunKind::kPlay;
  const std::string io = "Input/output error)\n", gone = "No such device", to8k = "o\t8192\n", to400k = "o\t400000\n";
  const std::string recGone = "\nRecording on tapeloom_sim stopped working: " + gone + "\n";
  char peaks[96];  // of frame 20479: a fifth block is captured after the take's four
  std::snprintf(peaks, sizeof peaks, "\tchannel 1: %.2f dBFS\n\tchannel 2: %.2f dBFS\n",
                -20 * std::log10(8388607.0 / kCode(20479, 0)), -20 * std::log10(8388607.0 / kCode(20479, 1)));
  // clang-format off
  const Case cases[] = {
      {"a take from the play start", "i\t49152\ne\t49152\no\t69632\n", both, {}, {}, {}, 20480, From(49152)},
      // A loop that adds nothing needs odcomp 5 to put a punch-in on its frame; 4 is a period early.
      {"a punch-in, odcomp 5", "i\t4096\ne\t16384\no\t36864\nodcomp\t5\n", both, {}, {}, {}, 20480, From(16384)},
      {"a punch-in, odcomp 4", "i\t4096\ne\t16384\no\t36864\nodcomp\t4\n", both, {}, {}, {}, 20480, From(15360)},
      {"a replaced track is heard up to the record start", "e\t10240\no\t20480\n", both, {}, {}, {}, 0, nullptr, [](auto
       f, int k) { return k == 1 && f >= 10240 ? 0 : Track(f, k); }, "t1.wav\nredo.wav\n", "-\nredo.wav\n"},
      {"a track shorter than its header says", "o\t28672\n", play, {}, {}, {}, 0, nullptr, [](auto f, int k) { return k
       == 0 && f < 10000 ? Track(f) : 0; }, "cut.wav\n"},
      // A failed write is not written again: the first block's last period and frames 5120 to 6143 are lost.
      {"two underruns", "o\t28672\n", play, {{3, -EPIPE}, {9, -EPIPE}}, {}, {"Playing...\n\nPX\nPX\n\nOutput Channel "
       "Peaks:\n\n\nPlay Underruns = 2\n\nplay underrun at 0.00 s\nplay underrun at 0.13 s\n"}, 0, nullptr, [](auto f,
       int k) { return k == 1 ? 0 : Track(f + (f < 4096 ? 1024 : 2048)); }, {}, {}, {3, 0}},
      {"an overrun is silence in its place", "o\t13312\n", rec, {}, {{2, -EPIPE}}, {"Recording...\n\nRX\n\n\nInput "
       "Channel Peaks:\n" + std::string(peaks) + "\nRecord Overruns = 1\n\nrecord overrun at 0.04 s: 0.02 s of input "
       "were not recorded (silence in the takes)\n"}, 13312, [](auto j, int k) { return j / 1024 == 2 ? 0 : kCode(j, k);
       }, nullptr, {}, {}, {0, 2}},
      {"reads split at a block's end", "buf\t1000\no\t10000\n", rec, {}, {}, {}, 10000, kCode, {}, {}, {}, {}, 0, 0,
       false, {}, 0, 0, {1000, 1000, 1000, 1000, 96, 904}},
      {"one more block captured after the take", "e\t1024\no\t6144\n", rec, {}, {}, {}, 5120, kCode, {}, {}, {}, {}, 0,
       0, false, {}, 0, 0, {}, 3 * 4096},
      {"short reads continued", to8k, rec, {}, {{1, 300}, {5, 1}}, {}, 8192, kCode},
      // Other faults: counted, the last said, the device made ready again, or gone: the run ends with what it has.
      {"an I/O error each way", to8k, both, {{2, -EIO}}, {{4, -EIO}}, {"\nPlayback errors = 1 (" + io, "\nRecording "
       "errors = 1 (" + io}, 8192, nullptr, nullptr, {}, {}, {2, 2}},
      // A failed read before the take begins costs it nothing: the card starts again where the run is.
      {"a failed read before the take", to8k, both, {}, {{2, -EIO}}, {"\nRecording errors = 1 (" + io}, 8192, From(0),
       nullptr, {}, {}, {1, 2}},
      {"two errors", to8k, rec, {}, {{1, -EIO}, {4, -EBADFD}}, {"\nRecording errors = 2 (File descriptor in bad "
       "state)\n"}, 8192, silentAt({1, 4}), nullptr, {}, {}, {0, 3}},
      {"a suspend resumed from", to8k, rec, {}, {{2, -ESTRPIPE}}, {"\nRecording errors = 1 (Streams pipe error)\n"},
       8192, silentAt({2}), nullptr, {}, {}, {0, 1}, 3, 0, true},
      {"a suspend not resumed from", to8k, rec, {}, {{2, -ESTRPIPE}}, {"\nRecording errors = 1 (Streams pipe error)\n"},
       8192, silentAt({2}), nullptr, {}, {}, {0, 2}, 1},
      {"interrupted calls: the device needs nothing", to8k, both, {{3, -EINTR}}, {{1, -EINTR}}, {"\nPlayback errors = "
       "1 (Interrupted system call)\n", "\nRecording errors = 1 (Interrupted system call)\n"}, 8192, nullptr, nullptr,
       {}, {}, {1, 1}, 0, 0, false, {}, 0, -ENOSYS},
      {"the capture device gone after a short read", to8k, rec, {}, {{3, 300}, {4, -ENODEV}}, {recGone, "\nRecording "
       "errors = 1 (" + gone + ")\n"}, 3372, kCode, nullptr, {}, {}, {0, 2}, 0, -ENODEV},
      {"gone after a suspend", to8k, rec, {}, {{5, -ESTRPIPE}}, {recGone, "\nRecording errors = 1 (Streams pipe "
       "error)\n"}, 5120, kCode, nullptr, {}, {}, {0, 2}, 1, -ENODEV},
      {"the playback device gone", to8k, play, {{6, -EIO}}, {}, {"\nPlayback on tapeloom_sim stopped working: "
       "Input/output error\n", "\nPlayback errors = 1 (" + io}, 0, nullptr, nullptr, {}, {}, {2, 0}, 0, -EIO},
      {"gone while monitoring", "", RunKind::kMonitorAll, {}, {{2, -ENODEV}}, {recGone}, 0, nullptr, nullptr, {}, {},
       {0, 2}, 0, -ENODEV},
      // Ctrl-C while a read waits: its period is still captured, and the run stops there.
      {"Ctrl-C at read 0", to400k, rec, {}, {}, {}, 1024, kCode, nullptr, {}, {}, {}, 0, 0, false, {}, 1},
      {"Ctrl-C at read 3", to400k, rec, {}, {}, {}, 4096, kCode, nullptr, {}, {}, {}, 0, 0, false, {}, 4},
      {"Ctrl-C at read 9", to400k, rec, {}, {}, {}, 10240, kCode, nullptr, {}, {}, {}, 0, 0, false, {}, 10},
      // A card that answers nothing: Ctrl-C ends the run at once; five silent one-second waits mean it is gone.
      {"a capture wait without end", to400k, rec, {}, {}, {}, 12288, kCode, nullptr, {}, {}, {}, 0, 0, false,
       Stall::kWaitsForSignal},
      {"a playback wait without end", to400k, both, {}, {}, {}, 0, nullptr, nullptr, {}, {}, {}, 0, 0, false,
       Stall::kWaitsForSignal},
      {"a silent capture", to400k, rec, {}, {}, {"\nRecording on tapeloom_sim stopped working: nothing came from the "
       "card for 5 seconds\n\n", "\nRecording errors = 1 (" + gone}, 12288, kCode, nullptr, {}, {}, {}, 0, 0, false,
       Stall::kSilent},
      {"a playback that takes nothing", to400k, play, {}, {}, {"\nPlayback on tapeloom_sim stopped working: the card "
       "took nothing for 5 seconds\n\n", "\nPlayback errors = 1 (" + gone}, 0, nullptr, nullptr, {}, {}, {}, 0, 0,
       false, Stall::kSilent},
  };
  // clang-format on
  CatchSessionSignals();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunBench run;
    Start(run, c.set, c.play, c.record);
    const bool plays = c.kind == both || c.kind == play, records = c.kind != play;
    LoopbackPort card(2, 2, run.period(), run.playBuffer());
    PositionPort position(2, run.period());
    FaultPort port(plays ? card : position, c.writes, c.reads, &position);
    port.resumesNotYet = c.resumable ? 2 : 0;
    port.resumeResult = c.resumable ? 0 : c.gone != 0 ? c.gone : -ENOSYS;
    port.prepareFailure = c.gone;
    port.interruptAtRead = c.ctrlCAt - 1;
    port.linkResult = c.link;
    port.stall = c.stall;
    port.stallDirection = c.kind == rec ? PcmDirection::Capture : PcmDirection::Playback;
    port.stallAfter = 12;
    run.buffers().RecordSet(0).assign(run.buffers().RecordSet(0).size(), 0x55);  // never to be heard
    const std::string out = run.Run(port, {.kind = c.kind, .monitorFrames = 48000});
    EXPECT_EQ(PendingSignal(), 0) << "the run took the signal";
    EXPECT_EQ(SessionEndSignal(), 0) << "Ctrl-C in a run does not end the session";
    std::size_t at = 0;
    for (const std::string& line : c.said) ASSERT_NE(at = out.find(line, at), out.npos) << line << " in " << out;
    const auto xrun = [](const auto& faults) { return std::ranges::count(faults | std::views::values, -EPIPE) > 0; };
    EXPECT_EQ(out.find("runs =") != out.npos, xrun(c.writes) || xrun(c.reads)) << out;
    EXPECT_EQ(out.find("stopped working") != out.npos, c.gone != 0 || c.stall == Stall::kSilent) << out;
    EXPECT_EQ(port.waits, c.stall == Stall::kSilent ? 5 : c.stall == Stall::kNone ? 0 : 1) << "gone after 5 s";
    const bool usual = c.prepares[0] + c.prepares[1] == 0;
    const std::array<int, 2> prepares = usual ? std::array{int(plays), int(records)} : c.prepares;
    EXPECT_EQ(std::vector(port.prepares, port.prepares + 2), std::vector(prepares.begin(), prepares.end()));
    EXPECT_EQ(port.resumes, c.resumes);
    // Linked before anything is played, unlinked once the capture runs, where both run.
    EXPECT_EQ(port.linkedAt, c.kind == both ? std::vector{0} : std::vector<int>{});
    EXPECT_EQ(port.unlinkedAt, c.kind == both && c.link == 0 ? std::vector{1} : std::vector<int>{});
    // The capture starts right after the write that fills the playback buffer: at the stream's start
    // (a period earlier for a failed write, which the card never got).
    EXPECT_EQ(card.FirstCapturedFrame(), c.kind == both ? -1024 * std::ssize(c.writes) : -1);
    const std::vector<int>& reads = position.readSizes;
    EXPECT_TRUE(std::ranges::equal(c.readSizes, std::span(reads).first(std::min(reads.size(), c.readSizes.size()))));
    EXPECT_TRUE(c.captured == 0 || std::accumulate(reads.begin(), reads.end(), 0) == c.captured);
    for (int k = 0; c.played && k < 2; ++k) {
      const Samples& all = card.Played(k);
      const Samples played(all.begin() + std::min<std::size_t>(all.size(), 4096), all.end());
      EXPECT_EQ(Mismatch(played, -20480, c.played, k), "") << "output " << k;
    }
    const TakeState& takes = run.takes();
    EXPECT_TRUE(c.frames == 0 || (takes.recordLength == c.frames && takes.pending && takes.recorded[0] == 1))
        << "take handling works on what was recorded: " << takes.recordLength;
    const std::vector<std::string> names = SplitList(takes.takeList);
    for (std::size_t k = 0; k < names.size(); ++k) {
      if (names[k] == "-") continue;  // an input not recorded
      const Samples take = Take(run, k);
      EXPECT_EQ(Field32(ReadBytes(run / names[k]), 40), std::uint32_t(take.size() * 3));
      EXPECT_EQ(std::ssize(take), takes.recordLength) << "the header says what the take holds";
      EXPECT_EQ(c.take && (k == 0 || !plays) ? Mismatch(take, c.frames, c.take, int(k)) : "", "") << "take " << k;
    }
  }
}

TEST(TransportRunTest, AFailedWriteOrFlushOfATakeIsSaidOnceAndLeavesAValidWaveFile) {
  // Each write of three seconds (headers, data, flush) fails in turn; a failed marker costs the take nothing.
  RunBench run;
  Start(run, "o\t144384\n", "", "a.wav\n");
  std::string out;
  const Want code24 = [](std::int64_t j, int) { return PositionPort::Code(j, 0) << 8 >> 8; };  // 24 bits of it
  const int points = SweepWriteFailures(
      [&] {
        PositionPort card(2, run.period());
        out = run.Run(card, {.kind = RunKind::kRecord});
      },
      [&](int n) {
        SCOPED_TRACE(testing::Message() << "write " << n << " failed\n" << out);
        const std::string io = "Input/output error";
        if (n == 1) {  // the take's first header: no take, and no recording to nowhere
          EXPECT_NE(out.find("the recording is cancelled."), out.npos);
        } else if (out.find("(recording all the same;") != out.npos || out.find(io) == out.npos) {
          EXPECT_EQ(run.takes().recorded[0], 1);  // the marker failed, not the take
          EXPECT_EQ(Mismatch(Take(run), 144384, code24), "");
        } else {
          const std::string take = SplitList(run.takes().takeList).at(0);
          EXPECT_NE(out.find("Can't write to " + take + ": " + io + "\n"), out.npos);
          EXPECT_EQ(out.find(io), out.rfind(io)) << "once";
          EXPECT_EQ(run.takes().recorded[0], 0);
          const Bytes bytes = ReadBytes(run / take);
          EXPECT_TRUE(Field32(bytes, 40) <= bytes.size() - 44 && Field32(bytes, 4) == Field32(bytes, 40) + 36);
        }
      });
  EXPECT_GT(points, 5);
  EXPECT_EQ(Mismatch(Take(run), 144384, code24), "");
}

// Input 2's take holds the card's time without a jump where not silent, and only there does input 1's hold the track
// from the record start (or, in real time, at a steady offset). Returns the frames of input 2's silence.
std::int64_t SilenceOnTheTimeline(RunBench& run, bool steadyOffsetOnly = false) {
  const Samples loop = Take(run, 0), live = Take(run, 1);
  EXPECT_EQ(loop.size(), 48000u);
  if (live.size() != loop.size() || live.empty() || live[0] == 0) return ADD_FAILURE() << "no takes", -1;
  std::int64_t first = 49152;  // the track frame heard at take frame 0
  if (const auto heard = std::ranges::find_if(loop, [](std::int32_t v) { return v != 0; });
      steadyOffsetOnly && heard != loop.end()) {
    first = ((*heard / 256 - 1 - (heard - loop.begin())) % 30000 + 30000) % 30000;
  }
  std::int64_t silent = 0;
  for (std::size_t j = 0; j < loop.size(); ++j) {
    silent += live[j] == 0 ? 1 : 0;
    const bool ok = live[j] == 0 ? loop[j] == 0
                                 : live[j] == live[0] + std::int32_t(j) &&
                                       (loop[j] == 0 || loop[j] == Track(first + std::int64_t(j)));
    if (!ok) return ADD_FAILURE() << "frame " << j << ": loop " << loop[j] << ", live " << live[j], -1;
  }
  return silent;
}

// A run on the card that keeps time: loop.wav hears t1.wav from 49152 on, live.wav the card's time.
void StartTimed(RunBench& run) {
  Start(run, "buf\t256\nmix\t0\ni\t49152\ne\t49152\no\t97152\n", "t1.wav\n", "loop.wav\nlive.wav\n", 250000);
}

TEST(RunTiming, AnXrunCostsOnlyTheTimeItLostAndTheTakesStayOnTheTimeline) {
  // Transfer 100 comes about 25000 frames in, inside the take; a stall before a write finds the playback full.
  struct Case {
    const char* what;
    std::map<int, std::int64_t> lateBeforeWrite, lateBeforeRead;
    int playBuffer, captureBuffer, underruns, overruns;
  };
  // clang-format off
  const Case cases[] = {
      {"no stall",                                       {},                          {},            1024, 1024, 0, 0},
      {"a stall longer than both buffers",               {{100, 5000}},               {},            1024, 1024, 1, 1},
      {"a stall only the capture's buffer cannot hold",  {},                          {{100, 1300}}, 2048, 1024, 0, 1},
      {"a stall only the playback's buffer cannot hold", {{100, 1400}},               {},            1024, 2048, 1, 0},
      {"later stalls within the margin cost nothing",    {{100, 5000}, {200, 700}},   {{150, 700}},  1024, 1024, 1, 1},
      {"two long stalls",                                {{100, 5000}, {180, 20000}}, {},            1024, 1024, 2, 2},
  };
  // clang-format on
  RunBench run;
  StartTimed(run);
  for (const bool plugin : {false, true}) {  // a card whose stopped stream says so only in its state
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.what << (plugin ? ", a plugin's card" : ""));
      ClockedCard card(256, c.playBuffer, c.captureBuffer);
      card.staleDelayInXrun = plugin;
      card.lateBeforeWrite = c.lateBeforeWrite;
      card.lateBeforeRead = c.lateBeforeRead;
      const std::string out = run.Run(card, {.kind = RunKind::kPlayAndRecord});
      EXPECT_EQ(std::pair(card.underruns, card.overruns), std::pair(c.underruns, c.overruns)) << out;
      EXPECT_EQ(out.find("Play Underruns = ") != out.npos, c.underruns > 0) << out;
      EXPECT_EQ(out.find("Record Overruns = ") != out.npos, c.overruns > 0) << out;
      const std::int64_t silent = SilenceOnTheTimeline(run);
      EXPECT_EQ(silent > 0, c.overruns > 0) << out;
      char said[64];  // what it cost
      std::snprintf(said, sizeof said, ": %.2f s of input were not recorded", double(silent) / 48000);
      EXPECT_TRUE(c.overruns != 1 || out.find(said, out.find("record overrun at ")) != out.npos) << said << out;
    }
  }
}

TEST(RunTiming, AStorageStallShorterThanTheBufferCostsNothingALongerOneIsSilenceAtItsPlace) {
  // On a card in real time with eight periods of buffer (a busy machine is no storage stall); disk buffer 10 s or 0.25
  // s.
  struct Case {
    const char* what;
    StorageCall call;
    int nth, pauseMs;    // of the worker's reads (one per batch of blocks) or writes (one per take and batch)
    double diskSeconds;  // 0: as a session has it
    const char* said;    // how the disk falling behind is said; null: it is not
    RunKind kind = RunKind::kPlayAndRecord;
  };
  using enum StorageCall;
  // clang-format off
  const Case cases[] = {
      {"a write stall shorter than the buffer", kWrite, 1, 600,  0.0,  nullptr},
      {"a read stall shorter than the buffer",  kRead,  4, 600,  0.0,  nullptr},
      {"a write stall longer than the buffer",  kWrite, 1, 1200, 0.25, " of inputs 1 and 2 were not recorded\n"},
      {"a read stall longer than the buffer",   kRead,  4, 1200, 0.25, " of track 1 could not be read in time\n"},
      {"a read stall of a run that only plays", kRead,  4, 1200, 0.25, " of track 1 could not be read in time\n", RunKind::kPlay},
  };
  // clang-format on
  RunBench run;
  StartTimed(run);
  // The disk worker's nth read or write of a run (not the test's own) sleeps, as on slow flash.
  static Case stalled;
  static std::atomic<int> countdown;
  static const std::thread::id owner = std::this_thread::get_id();
  SetStorageDelayHook([](int, StorageCall call, std::uint64_t) {
    if (call == stalled.call && std::this_thread::get_id() != owner && countdown.fetch_sub(1) == 1)
      std::this_thread::sleep_for(std::chrono::milliseconds(stalled.pauseMs));
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    run.buffers().diskSeconds = c.diskSeconds;
    stalled = c;
    countdown = c.nth;
    ClockedCard card(1024, 8192, 8192);
    card.realTime = true;
    const std::string out = run.Run(card, {.kind = c.kind});
    EXPECT_EQ(card.underruns + card.overruns, 0) << "the card never waited on the disk\n" << out;
    if (c.kind == RunKind::kPlay) {  // the track, and silence where it came late: no frame repeats another
      const Samples& heard = card.heard();
      EXPECT_NE(out.find(c.said), out.npos) << out;
      const auto played = std::ranges::find_if(heard, [](std::int32_t v) { return v != 0; });
      EXPECT_GT(std::count(played, heard.end(), 0), 4096) << "silence where the track came late";
      EXPECT_EQ(std::ranges::adjacent_find(heard, [](auto a, auto b) { return a != 0 && a == b; }), heard.end());
      continue;
    }
    const std::int64_t silent = SilenceOnTheTimeline(run, true), unheard = std::ranges::count(Take(run, 0), 0);
    const std::size_t at = out.find("the disk fell behind at ");
    EXPECT_EQ(at != out.npos, c.said != nullptr) << out;
    EXPECT_TRUE(c.said == nullptr || out.find(c.said, at) != out.npos) << out;
    // One worker reads and writes: a long stall of either kind is silence in both takes at its place.
    EXPECT_GE(unheard, silent);
    EXPECT_EQ(unheard > 0, c.said != nullptr) << "the loop was played and recorded but for the stall";
    EXPECT_TRUE(c.call == kRead || (silent > 0) == (c.said != nullptr)) << "a write stall's cost in both takes";
  }
  SetStorageDelayHook(nullptr);
}

}  // namespace
}  // namespace tapeloom::test
