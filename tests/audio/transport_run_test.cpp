// The transport run on cards in memory: takes against what was played and heard, xruns, device faults, stalls and
// signals at chosen transfers, and cards that keep time.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ranges>
#include <set>

#include "audio/test_ports.h"
#include "core/session_signals.h"
#include "support/file_faults.h"
#include "support/run_bench.h"
#include "support/wave_builder.h"
#include "wave/text_file.h"
#include "wave/wave_file.h"

namespace tapeloom::test {
namespace {

using Want = std::function<std::int32_t(std::int64_t, int)>;  // the sample of a frame on a channel

// Track k's sample at position f: never 0, different for every frame of a track.
std::int32_t Track(std::int64_t f, int k = 0) { return static_cast<std::int32_t>((f % 30000 + 1) * 256 + k + 1); }
Want From(std::int64_t first) {
  return [first](std::int64_t j, int) { return Track(first + j); };
}
const Want kCode = &LoopbackPort::Code;

// Quiet runs (no point lines, clock or meter) on tracks t1.wav and redo.wav (track 1's samples).
void Start(RunBench& run, const std::string& settings, const std::string& play = "t1.wav\n",
           const std::string& record = "a.wav\nb.wav\n", int t1Frames = 100000) {
  for (const auto& [name, k, frames] : {std::tuple{"t1.wav", 0, t1Frames}, {"redo.wav", 1, 100000}}) {
    Samples samples(std::size_t(frames), 0);
    for (std::size_t f = 0; f < samples.size(); ++f) samples[f] = Track(std::int64_t(f), k);
    WriteBytes(run / name, WaveBuilder().Samples(samples).Build());
  }
  run.dir().Write("play.txt", play);
  run.dir().Write("record.txt", record);
  run.Start("dv\ttapeloom_sim\nsr\t48000\ninputs\t2\noutputs\t2\nch\t2\nbuf\t1024\nint\t0\nclock\thc\nmeter\t0\n" +
            settings);
}

// Take n's samples, its header saying what it holds.
Samples Take(RunBench& run, std::size_t n = 0) {
  const Bytes bytes = ReadBytes(run / SplitList(run.takes().takeList).at(n));
  EXPECT_TRUE(bytes.size() >= 44 && Field32(bytes, 40) == bytes.size() - 44) << "take " << n << ": header";
  return bytes.size() < 44 ? Samples{} : Unpack24(std::span<const unsigned char>(bytes).subspan(44));
}

// "" when `got` holds `frames` samples (at least -frames when negative), all as `want` gives them (if given).
std::string Mismatch(std::span<const std::int32_t> got, std::int64_t frames, const Want& want, int k = 0) {
  if (frames >= 0 ? std::ssize(got) != frames : std::ssize(got) < -frames) return std::to_string(got.size()) + " long";
  for (std::size_t j = 0; want && j < got.size(); ++j)
    if (got[j] != want(std::int64_t(j), k)) return "frame " + std::to_string(j) + ": " + std::to_string(got[j]);
  return "";
}

TEST(TransportRunTest, EachRunPlaysAndRecordsItsFramesInPlaceWhateverTheCardDoes) {
  // A loop where the run plays, position-coded capture where not, failing as the row says: what is said and held.
  struct Case {
    std::string what, set;  // set: param.txt lines
    RunKind kind;
    FaultPort::Faults writes, reads;  // the transfers that fail, and how
    std::vector<std::string> said;    // in this order
    std::int64_t frames;              // of every take (0: not checked)
    Want take;                        // input 1's take where the run plays, else every take
    std::array<int, 2> prepares;      // {}: one for each direction the run uses
    int gone, resumes, ctrlCAt, link,
        silent;   // gone: later prepares' error; ctrlCAt: 1 + its read; silent: its write
    Want played;  // the outputs after their first block
    std::string play = "t1.wav\n", record = "a.wav\nb.wav\n";
  };
  const auto silentAt = [](std::set<int> periods) {  // failed periods silent, the others in order
    return [periods](std::int64_t j, int k) {
      const auto missed = std::ranges::count_if(periods, [&](int p) { return p < j / 1024; });
      return periods.contains(int(j / 1024)) ? 0 : kCode(j - 1024 * missed, k);
    };
  };
  const auto both = RunKind::kPlayAndRecord, rec = RunKind::kRecord, play = RunKind::kPlay;
  const std::string io = "Input/output error)\n", gone = "No such device", to8k = "o\t8192\n",
                    pipe = "Streams pipe error)\n", to400k = "o\t400000\n";
  const std::string recErr = "\nRecording errors = 1 (", playErr = "\nPlayback errors = 1 (",
                    recGone = "\nRecording on tapeloom_sim stopped working: " + gone + "\n";
  char peaks[96];  // of frame 20479: a fifth block is captured after the take's four
  std::snprintf(peaks, sizeof peaks, "\tchannel 1: %.2f dBFS\n\tchannel 2: %.2f dBFS\n",
                -20 * std::log10(8388607.0 / kCode(20479, 0)), -20 * std::log10(8388607.0 / kCode(20479, 1)));
  // clang-format off
  const Case cases[] = {
      {"a take from the play start", "i\t49152\ne\t49152\no\t69632\n", both, {}, {}, {}, 20480, From(49152)},
      {"odcomp 5: on its frame", "i\t4096\ne\t16384\no\t36864\nodcomp\t5\n", both, {}, {}, {}, 20480, From(16384)},
      {"odcomp 4: a period early", "i\t4096\ne\t16384\no\t36864\nodcomp\t4\n", both, {}, {}, {}, 20480, From(15360)},
      {"a replaced track heard to the record start", "e\t10240\no\t20480\n", both, {}, {}, {}, 0, nullptr, {}, 0, 0, 0, 0, 0, [](auto f, int k) { return k == 1 && f >= 10240 ? 0 : Track(f, k); }, "t1.wav\nredo.wav\n", "-\nredo.wav\n"},
      {"two underruns: lost, the first block's last period and frames 5120 to 6143", "o\t28672\n", play, {{3, -EPIPE}, {9, -EPIPE}}, {}, {"PX\nPX\n", "Play Underruns = 2\n\nplay underrun at 0.00 s\nplay underrun at 0.13 s\n"}, 0, nullptr, {3, 0}, 0, 0, 0, 0, 0, [](auto f, int k) { return k == 1 ? 0 : Track(f + (f < 4096 ? 1024 : 2048)); }},
      {"an overrun is silence in its place", "o\t13312\n", rec, {}, {{2, -EPIPE}}, {"Recording...\n\nRX\n\n\nInput Channel Peaks:\n" + std::string(peaks) + "\nRecord Overruns = 1\n\nrecord overrun at 0.04 s: 0.02 s of input were not recorded (silence in the takes)\n"}, 13312, [](auto j, int k) { return j / 1024 == 2 ? 0 : kCode(j, k); }, {0, 2}},
      {"split reads", "buf\t1000\no\t10000\n", rec, {}, {}, {}, 10000, kCode, {}, 0, 0, 0, 0},
      {"short reads continued", to8k, rec, {}, {{1, 300}, {5, 1}}, {}, 8192, kCode},
      // Other faults: counted, the last said, the device made ready again, or gone: the run ends with what it has.
      {"I/O errors each way", to8k, both, {{2, -EIO}}, {{4, -EIO}}, {playErr + io, recErr + io}, 8192, nullptr, {2, 2}},
      {"a failed read before the take: free", to8k, both, {}, {{2, -EIO}}, {recErr + io}, 8192, From(0), {1, 2}},
      {"two errors", to8k, rec, {}, {{1, -EIO}, {4, -EBADFD}}, {"\nRecording errors = 2 (File descriptor in bad state)\n"}, 8192, silentAt({1, 4}), {0, 3}},
      {"a suspend resumed from", to8k, rec, {}, {{2, -ESTRPIPE}}, {recErr + pipe}, 8192, silentAt({2}), {0, 1}, 0, 3},
      {"a suspend not resumed", to8k, rec, {}, {{2, -ESTRPIPE}}, {recErr + pipe}, 8192, silentAt({2}), {0, 2}, 0, 1},
      {"interrupted calls: the device needs nothing", to8k, both, {{3, -EINTR}}, {{1, -EINTR}}, {playErr + "Interrupted system call)\n", recErr + "Interrupted system call)\n"}, 8192, nullptr, {1, 1}, 0, 0, 0, -ENOSYS},
      {"the capture device gone after a short read", to8k, rec, {}, {{3, 300}, {4, -ENODEV}}, {recGone, recErr + gone + ")\n"}, 3372, kCode, {0, 2}, -ENODEV},
      {"gone in a suspend", to8k, rec, {}, {{5, -ESTRPIPE}}, {recGone, recErr + pipe}, 5120, kCode, {0, 2}, -ENODEV, 1},
      {"the playback device gone", to8k, play, {{6, -EIO}}, {}, {"\nPlayback on tapeloom_sim stopped working: Input/output error\n", playErr + io}, 0, nullptr, {2, 0}, -EIO},
      {"gone while monitoring", "", RunKind::kMonitorAll, {}, {{2, -ENODEV}}, {recGone}, 0, nullptr, {0, 2}, -ENODEV},
      // Ctrl-C while a read waits: its period is still captured, and the run stops there.
      {"Ctrl-C at read 0", to400k, rec, {}, {}, {}, 1024, kCode, {}, 0, 0, 1},
      {"a playback that takes nothing for 5 s is gone", to400k, play, {}, {}, {"\nPlayback on tapeloom_sim stopped working: the card took nothing for 5 seconds\n\n", playErr + gone}, 0, nullptr, {}, 0, 0, 0, 0, 12},
  };
  // clang-format on
  CatchSessionSignals();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunBench run;
    Start(run, c.set, c.play, c.record);
    const bool plays = c.kind == both || c.kind == play;
    LoopbackPort card(2, 2, run.period(), run.playBuffer()), position(0, 2, run.period(), run.playBuffer());
    FaultPort port(plays ? card : position, c.writes, c.reads, &position);
    port.resumesNotYet = std::max(0, c.resumes - 1), port.resumeResult = c.resumes > 1 ? 0 : c.gone ? c.gone : -ENOSYS;
    port.prepareFailure = c.gone, port.interruptAtRead = c.ctrlCAt - 1, port.linkResult = c.link;
    port.silentAt = c.silent;
    run.buffers().RecordSet(0).assign(run.buffers().RecordSet(0).size(), 0x55);  // never to be heard
    const std::string out = run.Run(port, {.kind = c.kind, .monitorFrames = 48000});
    EXPECT_EQ(std::pair(PendingSignal(), SessionEndSignal()), std::pair(0, 0)) << "Ctrl-C is the run's alone";
    std::size_t at = 0;
    for (const std::string& line : c.said) ASSERT_NE(at = out.find(line, at), out.npos) << line << " in " << out;
    const auto xrun = [](const auto& faults) { return std::ranges::count(faults | std::views::values, -EPIPE) > 0; };
    EXPECT_EQ(std::pair(out.find("runs =") != out.npos, out.find("stopped working") != out.npos),
              std::pair(xrun(c.writes) || xrun(c.reads), c.gone != 0 || c.silent))
        << out;
    // Prepared once each way used unless the row says; where both run, linked before anything is played and unlinked
    // once the capture runs, which starts with the write that fills the playback buffer (not with a failed one).
    EXPECT_EQ(std::tuple(port.prepares, port.resumes, port.waits, port.linkedAt, port.unlinkedAt, card.firstCaptured),
              std::tuple(c.prepares != std::array{0, 0} ? c.prepares : std::array{int(plays), int(c.kind != play)},
                         c.resumes, c.silent ? 5 : 0, std::vector<int>(c.kind == both, 0),
                         std::vector<int>(c.kind == both && c.link == 0, 1),
                         c.kind == both ? -1024 * std::int64_t(c.writes.size()) : -1));
    for (int k = 0; c.played && k < 2; ++k) {  // after the first block
      const std::span<const std::int32_t> all = card.Played(k);
      EXPECT_EQ(Mismatch(all.subspan(std::min<std::size_t>(all.size(), 4096)), -20480, c.played, k), "")
          << "output " << k;
    }
    const TakeState& takes = run.takes();
    EXPECT_TRUE(c.frames == 0 || (takes.recordLength == c.frames && takes.pending && takes.recorded[0] == 1))
        << "take handling works on what was recorded: " << takes.recordLength;
    const std::vector<std::string> names = SplitList(takes.takeList);
    for (std::size_t k = 0; k < names.size(); ++k) {  // "-": an input not recorded
      const Want want = k == 0 || !plays ? c.take : nullptr;
      EXPECT_EQ(names[k] == "-" ? "" : Mismatch(Take(run, k), takes.recordLength, want, int(k)), "") << "take " << k;
    }
  }
}

TEST(TransportRunTest, AFailedWriteOrFlushOfATakeIsSaidOnceAndLeavesAValidWaveFile) {
  // Each write of three seconds (headers, data, flush) fails in turn; a failed marker costs the take nothing.
  RunBench run;
  Start(run, "o\t144384\n", "t1.wav\n", "a.wav\n");
  const Want code24 = [](std::int64_t j, int) { return LoopbackPort::Code(j, 0) << 8 >> 8; };  // 24 bits of it
  std::string out, io = "Input/output error";
  const int points = SweepWriteFailures(
      [&] {
        LoopbackPort card(0, 2, run.period(), run.playBuffer());
        out = run.Run(card, {.kind = RunKind::kRecord});
      },
      [&](int n) {
        SCOPED_TRACE(testing::Message() << "write " << n << " failed\n" << out);
        if (n == 1) {  // the take's first header: no take, and no recording to nowhere
          EXPECT_NE(out.find("the recording is cancelled."), out.npos);
        } else if (out.find("(recording all the same;") != out.npos || out.find(io) == out.npos) {  // a marker's
          EXPECT_TRUE(run.takes().recorded[0] == 1 && Mismatch(Take(run), 144384, code24).empty());
        } else {  // said once; the header holds no more than the file
          const std::string take = SplitList(run.takes().takeList).at(0);
          const Bytes bytes = ReadBytes(run / take);
          EXPECT_TRUE(out.find("Can't write to " + take + ": " + io + "\n") != out.npos &&
                      out.find(io) == out.rfind(io));
          EXPECT_EQ(run.takes().recorded[0], 0);
          EXPECT_TRUE(Field32(bytes, 40) <= bytes.size() - 44 && Field32(bytes, 4) == Field32(bytes, 40) + 36);
        }
      });
  EXPECT_GT(points, 5);
  EXPECT_EQ(Mismatch(Take(run), 144384, code24), "");
}

TEST(RunTiming, AnXrunOrALongStorageStallCostsOnlyTheTimeItLostAndTheTakesStayOnTheTimeline) {
  // Transfer 100 comes about 25000 frames in, inside the take; a stall before a write finds the playback full. On a
  // card in real time with eight periods of buffer, the disk worker's nth read (one per batch of blocks) or write (one
  // per take and batch) sleeps: within the disk buffer (10 s as a session has it, or 0.25 s) it costs nothing.
  using enum StorageCall;
  struct Case {
    const char *what, *said;  // said: how the disk falling behind is said; null: it is not
    std::map<int, std::int64_t> lateBeforeWrite, lateBeforeRead;
    int playBuffer, captureBuffer, underruns, overruns, nth, pauseMs, diskMs;  // pauseMs 0: the card keeps its own time
    StorageCall call;
  };
  // clang-format off
  const Case cases[] = {
      {"no stall", nullptr, {}, {}, 1024, 1024, 0, 0},
      {"a stall longer than both buffers", nullptr, {{100, 5000}}, {}, 1024, 1024, 1, 1},
      {"a stall only the capture's buffer cannot hold", nullptr, {}, {{100, 1300}}, 2048, 1024, 0, 1},
      {"a stall only the playback's buffer cannot hold", nullptr, {{100, 1400}}, {}, 1024, 2048, 1, 0},
      {"later stalls within the margin are free", nullptr, {{100, 5000}, {200, 700}}, {{150, 700}}, 1024, 1024, 1, 1},
      {"two long stalls", nullptr, {{100, 5000}, {180, 20000}}, {}, 1024, 1024, 2, 2},
      {"a write stall shorter than the disk buffer", nullptr, {}, {}, 8192, 8192, 0, 0, 1, 600, 0, kWrite},
      {"a read stall shorter than the disk buffer", nullptr, {}, {}, 8192, 8192, 0, 0, 4, 600, 0, kRead},
      {"a long write stall", " of inputs 1 and 2 were not recorded\n", {}, {}, 8192, 8192, 0, 0, 1, 1200, 250, kWrite},
      {"a long read stall", " of track 1 could not be read in time\n", {}, {}, 8192, 8192, 0, 0, 4, 1200, 250, kRead},
  };
  // clang-format on
  static Case stalled;  // the disk worker's (not the test's) nth read or write of a run sleeps, as on slow flash
  static std::atomic<int> countdown;
  static const std::thread::id owner = std::this_thread::get_id();
  SetStorageDelayHook([](int, StorageCall call, std::uint64_t) {
    if (call == stalled.call && std::this_thread::get_id() != owner && countdown.fetch_sub(1) == 1)
      std::this_thread::sleep_for(std::chrono::milliseconds(stalled.pauseMs));
  });
  RunBench run;  // loop.wav hears t1.wav from 49152 on, live.wav the card's time
  Start(run, "buf\t256\nmix\t0\ni\t49152\ne\t49152\no\t97152\n", "t1.wav\n", "loop.wav\nlive.wav\n", 250000);
  for (const Case& c : cases) {
    const bool realTime = c.pauseMs > 0;
    SCOPED_TRACE(c.what);
    stalled = c, countdown = c.nth, run.buffers().diskSeconds = c.diskMs / 1000.0;
    ClockedCard card(realTime ? 1024 : 256, c.playBuffer, c.captureBuffer);
    card.realTime = realTime;
    card.lateBeforeWrite = c.lateBeforeWrite, card.lateBeforeRead = c.lateBeforeRead;
    const std::string out = run.Run(card, {.kind = RunKind::kPlayAndRecord});
    EXPECT_EQ(std::tuple(card.underruns, card.overruns, out.find("Play Underruns = ") != out.npos,
                         out.find("Record Overruns = ") != out.npos),
              std::tuple(c.underruns, c.overruns, c.underruns > 0, c.overruns > 0))
        << out;  // the card never waits on a disk
    const std::size_t at = out.find("the disk fell behind at ");
    EXPECT_TRUE(c.said == nullptr ? at == out.npos : out.find(c.said, at) != out.npos) << out;
    // Input 2's take holds the card's time where not silent, and only there does input 1's hold the track from the
    // record start (in real time at a steady offset); a long stall of either kind is silence in both takes.
    const Samples loop = Take(run, 0), live = Take(run, 1);
    ASSERT_TRUE(loop.size() == 48000 && live.size() == 48000 && live[0] != 0) << out;
    const auto heard = std::ranges::find_if(loop, [](std::int32_t v) { return v != 0; });
    const std::int64_t first =  // the track frame heard at take frame 0, give or take 30000
        realTime && heard != loop.end() ? *heard / 256 + 59999 - (heard - loop.begin()) : 49152;
    std::int64_t silent = 0, j = 0;
    for (; j < 48000; silent += live[j++] == 0) {
      if (live[j] == 0 ? loop[j] != 0 : live[j] != live[0] + j || (loop[j] != 0 && loop[j] != Track(first + j))) break;
    }
    EXPECT_EQ(j, 48000) << "loop " << loop[j] << ", live " << live[j];
    EXPECT_EQ(std::ranges::count(loop, 0) > 0, c.underruns + c.overruns > 0 || c.said != nullptr)
        << "the loop played and recorded";
    EXPECT_TRUE((c.call == kRead && c.said) || (silent > 0) == (c.overruns > 0 || c.said != nullptr)) << out;
    char said[64];  // what an overrun cost
    std::snprintf(said, sizeof said, ": %.2f s of input were not recorded", double(silent) / 48000);
    EXPECT_TRUE(c.overruns != 1 || out.find(said, out.find("record overrun at ")) != out.npos) << said << out;
  }
  SetStorageDelayHook(nullptr);
}

}  // namespace
}  // namespace tapeloom::test
