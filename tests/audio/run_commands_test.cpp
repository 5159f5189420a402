// Around a run: what it shows, character for character; "cal" on a card looped through a delay; the
// rings; "disk"; the marker of a recording in progress and the start-up's repair of the takes it lists.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <thread>

#include "audio/disk_buffers.h"
#include "audio/latency_calibration.h"
#include "audio/latency_probe.h"
#include "audio/metering.h"
#include "audio/peak_reports.h"
#include "audio/recording_marker.h"
#include "audio/run_report.h"
#include "audio/test_ports.h"
#include "core/session_signals.h"
#include "support/console_harness.h"
#include "support/file_faults.h"
#include "support/run_bench.h"
#include "support/temp_dir.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

namespace fs = std::filesystem;

std::string Printed(const std::function<void()>& print) {
  testing::internal::CaptureStdout();
  print();
  return testing::internal::GetCapturedStdout();
}

// A meter line's middle: the bar, blanks to the hold mark (the channel), blanks to 24 columns.
std::string Bar(int bars, int gap, const char* channel) {
  return std::string(bars, '|') + std::string(gap, ' ') + channel + std::string(std::max(0, 23 - bars - gap), ' ');
}

TEST(RunOutput, MeterClockPeaksAndLossesAsPrinted) {
  MixPeaks mix;  // bus 1 feeds outputs 1 and 2
  mix.busLeft[0] = 4194304, mix.busRight[0] = 9000000, mix.busLeft[2] = 1, mix.busRight[5] = 4194304;
  std::array<int, kMaxBusses> active{};
  active[0] = active[2] = active[5] = 1;
  SessionSettings s;
  s.sr = 48000;
  RunEvents events;  // the second stretch of tracks continues the first
  using enum RunEventKind;
  const std::tuple<RunEventKind, int, int> added[] = {{kTracksLate, 96000, 4096},
                                                      {kTracksLate, 100096, 4096},
                                                      {kOverrun, 48000, 4800},
                                                      {kTakesLate, 144000, 24000},
                                                      {kUnderrun, 240000, 0}};
  for (const auto& [kind, at, frames] : added) events.Add(kind, at, frames);
  const auto list = [](const std::vector<int>& numbers) { return ChannelList("input", "inputs", numbers); };
  MeterState state;  // updated in turn; `reset` forgets it first
  const auto meter = [&](int peak, int channel, int reset, int clockHidden = 0, float range = 30, float fall = 7.5) {
    const std::string line = Printed([&] { Meter(state, peak, range, &reset, clockHidden, channel, fall); });
    return line + (reset ? "not reset" : "");
  };
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {meter(1491728, 2, 1), "\t -30 dB [" + Bar(12, 0, "2") + "] -15 dB   "},  // 12 bars of 1.25 dB
      {meter(0, 2, 0), "\t -30 dB [" + Bar(6, 6, "2") + "] -15 dB   "},         // the bar falls, the hold mark stays
      {meter(0, 2, 0), "\t -30 dB [" + Bar(0, 12, "2") + "] -15 dB   "},        // below the scale: no bar
      {meter(8388608, 1, 0), "\t -30 dB [" + Bar(24, 0, "1") + "] OVER CH 1   "},  // the over names its channel
      {meter(4194304, 2, 0), "\t -30 dB [" + Bar(18, 2, "2") + "] OVER CH 1   "},  // the hold mark rises to 19.2
      {meter(1491728, 3, 0), "\t -30 dB [" + Bar(12, 8, "3") + "] OVER CH 1   "},  // a quieter peak leaves it
      {meter(265271, 1, 1), "\t -30 dB [" + Bar(0, 0, "1") + "] -30 dB   "},
      {meter(0, 1, 1, 1), "\r\t -30 dB [" + Bar(0, 0, "1") + "] -144 dB   "},  // silence never raises the top peak
      {Printed([] { UpdateClock(1, 96000, 0, 48000, 0, 120, 4); }), "\rclock = 2.00 sec"},
      {Printed([] { UpdateClock(2, 23000, 1000, 48000, 1, 120, 4), UpdateClock(1, 0, 0, 48000, 3, 120, 4); }),
       "\nmeasure.beat = 1.2.00 "},
      {Printed([&] { PrintOutputPeaks(MixMode::kBusPairs, mix, active); }), "\nBus Peaks:\nBus 3 L: -138.47 dBFS\nBus "
       "3 R: -144 dBFS\nBus 6 L: -144 dBFS\nBus 6 R: -6.02 dBFS\n\n\nOutput Channel Peaks:\nchannel 1: -6.02 dBFS\n"
       "channel 2: 0.61 dBFS OVER!! \n\n"},
      {list({3}) + ", " + list({1, 2}) + ", " + list({1, 2, 3, 4, 5, 6, 7, 8}) + ", " + list({1, 3, 4, 5, 7}) + ", " +
       list({2, 4}), "input 3, inputs 1 and 2, inputs 1 to 8, inputs 1, 3 to 5 and 7, inputs 2 and 4"},
      {ClockText(592320, s) + ", " + ClockText(-100, s), "12.34 s, 0.00 s"},  // before the play start: its start
      {Printed([&] { PrintRunEvents(events, {.tracks = {1, 2}, .inputs = {3}}, s), PrintRunEvents(RunEvents(), {}, s);
       }), "\nrecord overrun at 1.00 s: 0.10 s of input were not recorded (silence in the takes)\nthe disk fell behind "
       "at 2.00 s: 0.17 s of tracks 1 and 2 could not be read in time\nthe disk fell behind at 3.00 s: 0.50 s of input "
       "3 were not recorded\nplay underrun at 5.00 s\n"},
  };
  // clang-format on
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

TEST(LatencyCalibration, MakesUpForTheCardsOwnDelayOrChangesNothing) {
  CatchSessionSignals();
  // The loop's gain, the capture read that overruns or during which Ctrl-C comes, the answers, what is said.
  const std::tuple<int, int, int, const char*, const char*> failures[] = {
      {0, -1, -1, "1 1 y\n", "No test signal came back on input 1: check the cable from output 1 to input 1"},
      {1, 40, -1, "1 1 y\n", "1 xruns or device errors. Try again, with a longer period if it happens again.\n"},
      {1, -1, 60, "1 1 y\n", "The calibration was stopped before its end.\n"},
      {1, -1, -1, "1 0\n", "There is no input 0: the card has 2.\n"},
      {1, -1, -1, "3\n", "There is no output 3: the card has 2.\n"}};
  for (const int period : {16, 64, 1000, 1024, 4096}) {
    for (const int delay : {0, 1, 37, 1500, period + 1}) {
      SCOPED_TRACE("period " + std::to_string(period) + ", delay " + std::to_string(delay));
      RunBench run;
      run.Start("dv\ttapeloom_sim\nsr\t48000\ninputs\t2\noutputs\t2\nint\t0\nmeter\t0\nbuf\t" + std::to_string(period) +
                "\n");
      ASSERT_EQ(run.period(), period);
      LoopbackPort card(2, 2, period, run.playBuffer(), delay);
      for (const auto& [gain, xrunAt, interruptAt, answers, says] :
           std::span(failures).first(period == 1024 && delay == 37 ? 5 : 0)) {
        card.gain = gain;
        FaultPort port(card, {}, {{xrunAt, -EPIPE}});
        port.interruptAtRead = interruptAt;
        const std::string out = run.Calibrate(port, answers);
        EXPECT_TRUE(out.find(says) != std::string::npos && out.ends_with("Nothing was changed.\n") &&
                    run.settings().odcomp == 4 && run.settings().latcomp == 0)
            << out;
      }
      card.gain = 1;
      const std::string out = run.Calibrate(card, "2 2 y\n");
      EXPECT_TRUE(out.find("on output 2 and recording input 2") != out.npos &&
                  out.find("Round-trip latency: " + std::to_string(4 * period + delay) + " frames") != out.npos)
          << out;
      // latcomp: the delay the playback buffer does not explain; odcomp: whole periods for the silent first block.
      EXPECT_EQ(std::pair(run.settings().odcomp, run.settings().latcomp),
                std::pair(1 + (4095 + period) / period, delay));
      EXPECT_NE(run.Calibrate(card, "1 1\n").find("on its exact frame\nNothing to correct.\n"), std::string::npos);
    }
  }
}

// The correction from what was measured: latcomp takes the first case, whole periods of odcomp (rounded to the
// nearest, half away from zero) the rest; a setting that would pass the range of an int changes nothing.
TEST(LatencyCalibration, CorrectionsRoundToWholePeriodsAndStayWithinTheSettingsRange) {
  constexpr std::int64_t kMax = INT_MAX, kMin = INT_MIN;
  // measured (at, before), odcomp, latcomp, period; then odcomp, latcomp, residual (-1: no correction)
  const std::array<std::int64_t, 8> cases[] = {{37, 37, 4, 0, 1024, 4, 37, 0},
                                               {0, 512, 4, 0, 1024, 5, 0, -512},
                                               {0, 511, 4, 0, 1024, 4, 0, 511},
                                               {0, -512, 4, 0, 1024, 3, 0, 512},
                                               {0, -511, 4, 0, 1024, 4, 0, -511},
                                               {5, 2053, 1, 7, 1024, 3, 12, 0},
                                               {kMax - 7, kMax - 7, 0, 7, 64, 0, kMax, 0},
                                               {kMax - 6, kMax - 6, 0, 7, 64, 0, 0, -1},
                                               {kMin + 7, kMin + 7, 0, -7, 64, 0, kMin, 0},
                                               {kMin + 6, kMin + 6, 0, -7, 64, 0, 0, -1},
                                               {0, 640, kMax - 10, 0, 64, kMax, 0, 0},
                                               {0, 704, kMax - 10, 0, 64, 0, 0, -1},
                                               {0, -640, kMin + 10, 0, 64, kMin, 0, 0},
                                               {0, 0, 0, 0, 0, 0, 0, -1}};
  for (const auto& [at, before, odcomp, latcomp, period, wantOd, wantLat, residual] : cases) {
    SCOPED_TRACE(testing::Message() << at << " " << before << " " << odcomp << " " << latcomp << " " << period);
    const auto c = CorrectionFor({.atRecordStart = at, .beforeRecordStart = before}, int(odcomp), int(latcomp),
                                 int(period), 4 * int(period));
    using Result = std::tuple<std::int64_t, std::int64_t, std::int64_t>;
    EXPECT_EQ(c ? Result(c->odcomp, c->latcomp, c->residual) : Result(0, 0, -1), Result(wantOd, wantLat, residual));
  }
}

// The click train found by correlation: where and how loud (the median click) it came back, or why it was not.
TEST(LatencyProbe, FindsTheTrainItsLevelAndSignOrSaysWhyNot) {
  const ClickTrain train = MakeClickTrain(48000);
  ASSERT_EQ(train.samples.size(), 34u * 60 + 1);
  ASSERT_EQ(std::count(train.samples.begin(), train.samples.end(), kClickLevel), 8);
  using enum ProbeVerdict;
  struct Case {
    std::vector<std::int32_t> levels;  // of the eight clicks, placed from frame 100 on; one level: all eight
    std::int32_t extra;                // a sample at frame 4000 (a second train when it is 1: the same train again)
    ProbeVerdict verdict;
    std::int32_t median;  // the level said (with the position and sign) when the train is there
  };
  const Case cases[] = {{{1000000}, 0, kFound, 1000000},
                        {{-1000000}, 0, kFound, 1000000},
                        {{8389}, 0, kFound, 8389},
                        {{8388}, 0, kTooLow, 8388},
                        {{1}, 0, kTooLow, 1},
                        {{0}, 0, kSilent, 0},
                        {{8377999}, 0, kFound, 8377999},
                        {{8378000}, 0, kClipped, 0},
                        {{1000}, -8378000, kClipped, 0},
                        {{1000000}, 1, kUnclear, 1000000},
                        // The median, not the first click: a weak click among loud ones is no train played whole.
                        {{1000000, 1000000, 1000000, 1000000, 100000, 2000000, 2000000, 2000000}, 0, kUnclear, 1000000},
                        {{900000, 1000000, 1000000, 1100000, 1000000, 1200000, 800000, 1000000}, 0, kFound, 1000000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.levels[0] << " " << c.extra);
    std::vector<std::int32_t> captured(6000, 0);
    for (std::size_t k = 0; k < train.clicks.size(); ++k) {
      const std::int32_t level = c.levels[c.levels.size() == 1 ? 0 : k];
      captured[static_cast<std::size_t>(100 + train.clicks[k])] = level;
      if (c.extra == 1) captured[static_cast<std::size_t>(3000 + train.clicks[k])] = level;
    }
    if (c.extra != 1) captured[4000] = c.extra;
    const ProbeResult found = FindClickTrain(captured, train);
    EXPECT_EQ(found.verdict, c.verdict);
    if (c.verdict == kFound || c.verdict == kTooLow) {
      EXPECT_EQ(std::tuple(found.position, found.inverted), std::tuple(100, c.levels[0] < 0));
      EXPECT_NEAR(found.levelDb, 20 * std::log10(c.median / 8388607.0), 1e-9);
    }
  }
  EXPECT_EQ(FindClickTrain(std::vector<std::int32_t>(2040, 1000), train).verdict, kSilent) << "shorter than the train";
}

// Three slots and many blocks: the counters wrap the ring thousands of times and each side keeps
// finding it full or empty. A side that finds nothing to do yields, so that one core does too.
TEST(BlockRing, TwoThreadsPassEveryBlockOnceAndInOrder) {
  BlockRing ring;
  ring.Allocate(3, 16);
  constexpr std::int64_t kBlocks = 200000;
  std::thread producer([&] {
    for (std::int64_t n = 0; n < kBlocks; ++n) {
      while (ring.Free() == 0) std::this_thread::yield();
      std::memcpy(ring.ProducerSlot(0), &n, sizeof n);
      ring.ProducerNote(0) = SlotNote{.position = n, .frames = static_cast<int>(n % 4096)};
      ring.Publish(1);
    }
  });
  std::int64_t expected = 0, mismatches = 0;
  while (expected < kBlocks) {
    const std::size_t ready = ring.Ready();
    if (ready == 0) std::this_thread::yield();
    for (std::size_t s = 0; s < ready; ++s, ++expected) {
      std::int64_t n = -1;
      std::memcpy(&n, ring.ConsumerSlot(s), sizeof n);
      const SlotNote& note = ring.ConsumerNote(s);
      mismatches += n != expected || note.position != expected || note.frames != static_cast<int>(expected % 4096);
    }
    ring.Release(ready);
  }
  producer.join();
  EXPECT_EQ(std::tuple(mismatches, ring.Ready(), ring.Free()),
            std::tuple(std::int64_t{0}, std::size_t{0}, std::size_t{3}));
}

TEST(DiskBuffers, TenSecondsEachWayWithinABoundOfMemory) {
  constexpr std::uint64_t kPlenty = std::uint64_t{4} << 30;
  // The rate, rows each way, memory free, seconds wanted; slots each way, MiB of both (12288 bytes a row).
  // clang-format off
  const std::tuple<std::uint32_t, int, int, std::uint64_t, double, std::size_t, double> cases[] = {
      {48000, 8, 8, kPlenty, 0, 118, 22.1},   {48000, 64, 8, kPlenty, 0, 118, 99.6},      {48000, 256, 8, kPlenty, 0,
       83, 256.8},
      {48000, 64, 0, kPlenty, 0, 118, 88.5},  {48000, 64, 8, 150'000'000, 0, 85, 71.7},   {48000, 0, 8, kPlenty, 0, 118,
       11.1},
      {48000, 2, 2, kPlenty, 0.25, 4, 0.2},   {44100, 8, 8, 0, 0, 108, 20.25},            {0, 8, 8, kPlenty, 0, 0, 0}};
  // clang-format on
  for (const auto& [sr, play, capture, available, wanted, slots, mebibytes] : cases) {
    const DiskBufferSize size = SizeDiskBuffers(sr, play, capture, available, wanted);
    EXPECT_EQ(std::tuple(size.playSlots, size.captureSlots, size.seconds),
              std::tuple(play > 0 ? slots : 0u, capture > 0 ? slots : 0u, sr ? slots * 4096.0 / sr : 0));
    EXPECT_NEAR(static_cast<double>(size.playSlots * play + size.captureSlots * capture) * 12288 / 1048576, mebibytes,
                0.05);
  }
}

TEST_F(ConsoleTest, StorageCheckReportsWhatItMeasuredAndLeavesNothingBehind) {
  const Bytes track = WaveBuilder().Samples(PositionCoded(192000)).Build();  // 4 s
  for (const char* name : {"t1.wav", "t2.wav"}) WriteBytes(session / name, track);
  session.Write("play.txt", "t1.wav\nt2.wav\n");
  session.Write("record.txt", "a.wav\n-\nc.wav\n");
  session.Write("param.txt", SimCardParams(3, 2, 3, 1024));
  session.Write("card-out.raw", "");
  const std::vector<std::string> before = session.Files();
  // Ended by its time, by Ctrl-C after 1.5 s, or by a disk that refuses its files.
  // clang-format off
  const std::tuple<const char*, std::optional<long>, bool, std::vector<std::string>> cases[] = {
      {"disk\n1\n", std::nullopt, false, {"Writing 2 streams and reading 2 tracks at 48000 Hz for 1 s; Ctrl-C stops.\n",
       "This session moves 0.58 MB/s: 2 streams written and 2 tracks read at 48000 Hz.\n", "\nVerdict: this storage "
       "holds this session"}},
      {"disk\n20\n", std::nullopt, true, {"The storage check was stopped; its files are removed.\n"}},
      {"disk\n1\n", 10, false, {"Can't write to ./tapeloom_disk_check.wav: File too large\nThe storage check could not "
       "write into this folder: a recording could not either.\n"}},
  };
  // clang-format on
  for (const auto& [typed, fileSizeLimit, interrupt, says] : cases) {
    const auto stop = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    bool sent = !interrupt;
    const RunResult run = session.Run(typed, std::chrono::seconds(60), fileSizeLimit, [&](pid_t pid) {
      if (!sent && std::chrono::steady_clock::now() > stop) sent = ::kill(pid, SIGINT) == 0;
    });
    for (const std::string& line : says) EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
    EXPECT_TRUE(run.status == 0 && session.Files() == before) << run.err;
  }
}

TEST(RecordingMarkerText, ReadsBackWhatItWritesAndNothingElse) {
  const std::vector<MarkedTake> takes = {{"in2_take.wav", 2049, 1234567, 44, 48000},
                                         {"a take named with blanks.wav", UINT64_MAX, UINT64_MAX, 44, 96000}};
  const std::string text = FormatRecordingMarker(takes), first = FormatRecordingMarker({});
  EXPECT_EQ(ParseRecordingMarker(text), takes);
  EXPECT_EQ(ParseRecordingMarker(first), std::vector<MarkedTake>{});
  // clang-format off
  for (const std::string& bad : {text.substr(0, text.size() - 1), text.substr(first.size()), std::string(),
           first + "take 1 2 44 48000\n", first + "take 1 2 44 48000 \n", first + "take 1 2 44 0 a.wav\n",
           first + "take -1 2 44 48000 a.wav\n", first + "take 1 2 44 4294967296 a.wav\n",
           first + "take 1  2 44 48000 a.wav\n", first + "tape 1 2 44 48000 a.wav\n",
           first + "take 1 2 44 48000 a.wav\n\n"}) {
    EXPECT_EQ(ParseRecordingMarker(bad), std::nullopt) << bad;
  }
  // clang-format on
}

// A take as a recording leaves it: a header announcing `announced` frames, `frames` frames, `trailing` bytes.
Bytes Take(std::int64_t frames, std::int64_t announced, std::string_view trailing = "") {
  const auto data = static_cast<std::uint32_t>(announced * 3);
  return WaveBuilder().Samples(PositionCoded(frames)).DataSize(data).RiffSize(data + 36).Trailing(trailing).Build();
}

class TakeRepairTest : public testing::Test {
 protected:
  static MarkedTake Mark(std::uint32_t rate = 48000) {  // as a recording marks in2_take.wav
    MarkedTake take{.name = "in2_take.wav", .dataOffset = 44, .sampleRate = rate};
    FileStatus status;
    EXPECT_TRUE(IdentifyTake(OpenForReading(take.name, status), take).ok());
    return take;
  }
  TempDir dir;
  WorkingDirectory inDir{dir.path()};
};

TEST_F(TakeRepairTest, SetsTheHeaderToTheWholeFramesOnDiskOrLeavesAChangedFileAsItIs) {
  const auto rewrite = [](const Bytes& bytes) { return [bytes] { WriteBytes("in2_take.wav", bytes); }; };
  using enum TakeRepair;
  // The frames on disk and announced, the bytes after them, and what happened to the file since.
  // clang-format off
  const std::tuple<std::int64_t, std::int64_t, std::string_view, std::function<void()>, TakeRepair> cases[] = {
      {81600, 48000, "", [] {}, kRepaired}, {4097, 4096, "", [] {}, kRepaired}, {1000, 0, "\x01\x02", [] {}, kRepaired},
      {1000, 2000, "", [] {}, kRepaired}, {0, 0, "", [] {}, kWhole}, {10, 10, "\x05", [] {}, kWhole},
      {9, 0, "", [] { fs::remove("in2_take.wav"); }, kChangedSince},
      {9, 0, "", [] { fs::rename("in2_take.wav", "keep.wav"), fs::create_symlink("keep.wav", "in2_take.wav"); },
       kChangedSince},
      {9, 0, "", [] { fs::remove("in2_take.wav"), ::mkfifo("in2_take.wav", 0600); }, kChangedSince},
      {9, 0, "", rewrite(WaveBuilder().Channels(2).Samples(PositionCoded(9, 2)).Build()), kChangedSince},
      {9, 0, "", rewrite(WaveBuilder().SampleRate(44100).Samples(PositionCoded(9)).Build()), kChangedSince},
      {9, 0, "", rewrite(Bytes(30, 0)), kChangedSince},  // cut inside the header
  };
  // clang-format on
  const auto seen = [] {
    return fs::is_regular_file("in2_take.wav") ? ReadBytes("in2_take.wav") : Bytes();
  };  // through a link
  for (const auto& [frames, announced, trailing, change, result] : cases) {
    for (const char* name : {"in2_take.wav", "keep.wav"}) fs::remove_all(name);
    WriteBytes("in2_take.wav", Take(frames, announced, trailing));
    const MarkedTake marked = Mark();
    change();
    const Bytes after = result == kChangedSince ? seen() : Take(frames, frames, trailing);  // only the sizes change
    std::int64_t found = -1;
    FileStatus status;
    EXPECT_EQ(RepairTake(marked, found, status), result) << frames << " frames, " << announced << " announced";
    EXPECT_TRUE(status.ok() && seen() == after && found == (result == kChangedSince ? 0 : frames)) << status.Message();
  }
}

TEST_F(TakeRepairTest, ALiveRunsMarkerIsLeftAloneOneThatCannotBeSettledKeptForTheNextStart) {
  WriteBytes("in2_take.wav", Take(81600, 48000));
  FileStatus status;
  RecordingMarker alive = RecordingMarker::Write({Mark()}, status);
  EXPECT_EQ(Printed(RepairInterruptedRecording),
            "A recording is in progress in this folder: its takes are left as they are.\n");
  RecordingMarker::Write({Mark()}, status);  // a killed run's in its place is not the live one's to remove
  alive.Remove();
  EXPECT_TRUE(fs::exists(kRecordingMarkerName));
  // Each write and flush fails in turn (the take's header, its flush, the folder's once the marker
  // went): said, and the next start-up does what was left undone, and says so only if it repairs.
  const std::string repaired = "in2_take.wav was not finished: repaired, 81600 frames (1.70 s)\n",
                    failed = "in2_take.wav was not finished, and could not be repaired: Can't write to in2_take.wav: ";
  for (int n = 1; n <= 4; ++n) {
    WriteBytes("in2_take.wav", Take(81600, 48000));
    RecordingMarker::Write({Mark()}, status);
    auto failing = std::make_unique<FailingWrite>(n);
    const std::string said = Printed(RepairInterruptedRecording);
    EXPECT_EQ(std::exchange(failing, nullptr)->fired(), n < 4);
    EXPECT_TRUE(said.starts_with(n <= 2 ? failed : repaired) &&
                said.ends_with(n < 4 ? "Input/output error\n" : repaired))
        << n << said;
    EXPECT_EQ(fs::exists(kRecordingMarkerName), n <= 2);
    EXPECT_EQ(Printed(RepairInterruptedRecording), n == 1 ? repaired : "") << n;
    EXPECT_TRUE(ReadBytes("in2_take.wav") == Take(81600, 81600) && !fs::exists(kRecordingMarkerName)) << n;
  }
}

}  // namespace
}  // namespace tapeloom::test
