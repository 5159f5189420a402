// Around a run: its printed reports, the latency probe, "disk", the recording marker and its repair.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <functional>

#include "audio/disk_buffers.h"
#include "audio/latency_probe.h"
#include "audio/metering.h"
#include "audio/peak_reports.h"
#include "audio/recording_marker.h"
#include "audio/run_commands.h"
#include "audio/run_report.h"
#include "audio/storage_check.h"
#include "support/console_harness.h"
#include "support/file_faults.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

namespace fs = std::filesystem;

// A meter line: the bar, blanks to the hold mark (the channel), blanks to 24 columns, then the top peak.
std::string Line(int bars, int gap, const char* channel, const char* top, const char* lead = "") {
  return std::string(lead) + "\t -30 dB [" + std::string(bars, '|') + std::string(gap, ' ') + channel +
         std::string(std::max(0, 23 - bars - gap), ' ') + "] " + top + "   ";
}

// The meter's bar, hold mark and overs, the clock, the peaks, channel lists and the losses of a run, as printed.
TEST(RunOutput, MeterClockPeaksAndLossesAsPrinted) {
  MixPeaks mix;  // bus 1 feeds outputs 1 and 2
  mix.busLeft[0] = 4194304, mix.busRight[0] = 9000000, mix.busLeft[2] = 1, mix.busRight[5] = 4194304;
  std::array<int, kMaxBusses> active{};
  active[0] = active[2] = active[5] = 1;
  SessionSettings s;
  s.sr = 48000;
  RunEvents events;  // the second stretch of tracks continues the first
  using enum RunEventKind;
  const auto list = [](const std::vector<int>& numbers) { return ChannelList("input", "inputs", numbers); };
  MeterState state;  // updated in turn; `reset` forgets it first
  const auto meter = [&](int peak, int channel, int reset, int clockHidden = 0) {
    const std::string line = Printed([&] { Meter(state, peak, 30, &reset, clockHidden, channel, 7.5); });
    return line + (reset ? "not reset" : "");  // after the call: it clears `reset`
  };
  // clang-format off
  const std::tuple<RunEventKind, int, int> added[] = {{kTracksLate, 96000, 4096}, {kTracksLate, 100096, 4096}, {kOverrun, 48000, 4800}, {kTakesLate, 144000, 24000}, {kUnderrun, 240000, 0}};
  for (const auto& [kind, at, frames] : added) events.Add(kind, at, frames);
  // 12 bars of 1.25 dB; the bar falls, the hold mark stays; below the scale, no bar; the over names its channel; the
  // hold mark rises to 19.2, a quieter peak leaves it; silence never raises the top peak.
  const std::pair<std::string, std::string> cases[] = {
      {meter(1491728, 2, 1), Line(12, 0, "2", "-15 dB")}, {meter(0, 2, 0), Line(6, 6, "2", "-15 dB")},
      {meter(0, 2, 0), Line(0, 12, "2", "-15 dB")}, {meter(8388608, 1, 0), Line(24, 0, "1", "OVER CH 1")},
      {meter(4194304, 2, 0), Line(18, 2, "2", "OVER CH 1")}, {meter(1491728, 3, 0), Line(12, 8, "3", "OVER CH 1")},
      {meter(265271, 1, 1), Line(0, 0, "1", "-30 dB")}, {meter(0, 1, 1, 1), Line(0, 0, "1", "-144 dB", "\r")},
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
       "3 were not recorded\nplay underrun at 5.00 s\n"}};
  // clang-format on
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

// The click train found by correlation: where and how loud (the median click) it came back, or why it was not.
TEST(LatencyProbe, FindsTheTrainItsLevelAndSignOrSaysWhyNot) {
  const ClickTrain train = MakeClickTrain(48000);
  ASSERT_TRUE(train.samples.size() == 34u * 60 + 1 && std::ranges::count(train.samples, kClickLevel) == 8);
  using enum ProbeVerdict;
  // The eight clicks' levels from frame 100 on (one: all eight); a sample at frame 4000 (1: the train again at 3000);
  // the verdict; the level said (with the position and sign) when the train is there. The median, not the first click,
  // counts: a weak click among loud ones is no train played whole.
  // clang-format off
  const std::tuple<Samples, std::int32_t, ProbeVerdict, std::int32_t> cases[] = {
      {{1000000}, 0, kFound, 1000000}, {{-1000000}, 0, kFound, 1000000}, {{8389}, 0, kFound, 8389},
      {{1}, 0, kTooLow, 1}, {{0}, 0, kSilent, 0}, {{8377999}, 0, kFound, 8377999}, {{8378000}, 0, kClipped, 0},
      {{8388}, 0, kTooLow, 8388}, {{1000}, -8378000, kClipped, 0}, {{1000000}, 1, kUnclear, 1000000},
      {{1000000, 1000000, 1000000, 1000000, 100000, 2000000, 2000000, 2000000}, 0, kUnclear, 1000000},
      {{900000, 1000000, 1000000, 1100000, 1000000, 1200000, 800000, 1000000}, 0, kFound, 1000000}};
  // clang-format on
  for (const auto& [levels, extra, verdict, median] : cases) {
    SCOPED_TRACE(testing::Message() << levels[0] << " " << extra);
    Samples captured(6000, 0);
    for (std::size_t k = 0; k < train.clicks.size(); ++k)
      for (const int at : {100, extra == 1 ? 3000 : 100})
        captured[static_cast<std::size_t>(at + train.clicks[k])] = levels[levels.size() == 1 ? 0 : k];
    if (extra != 1) captured[4000] = extra;
    const ProbeResult found = FindClickTrain(captured, train);
    EXPECT_EQ(found.verdict, verdict);
    if (verdict == kFound || verdict == kTooLow) {
      EXPECT_EQ(std::tuple(found.position, found.inverted), std::tuple(100, levels[0] < 0));
      EXPECT_NEAR(found.levelDb, 20 * std::log10(median / 8388607.0), 1e-9);
    }
  }
  EXPECT_EQ(FindClickTrain(Samples(2040, 1000), train).verdict, kSilent) << "shorter than the train";
}

// Ten seconds each way, fewer within half the free memory or the 256 MiB bound, never under 4 slots; none for a
// direction without rows or a rate. Rows: rate, rows each way, memory free, seconds wanted, slots each way, MiB of
// both.
TEST(DiskBuffers, TenSecondsEachWayWithinABoundOfMemory) {
  constexpr std::uint64_t kPlenty = std::uint64_t{4} << 30;
  // clang-format off
  const std::tuple<std::uint32_t, int, int, std::uint64_t, double, std::size_t, double> cases[] = {
      {48000, 8, 8, kPlenty, 0, 118, 22.1}, {48000, 64, 8, kPlenty, 0, 118, 99.6}, {48000, 0, 8, kPlenty, 0, 118, 11.1},
      {48000, 256, 8, kPlenty, 0, 83, 256.8}, {48000, 64, 0, kPlenty, 0, 118, 88.5}, {44100, 8, 8, 0, 0, 108, 20.25},
      {48000, 64, 8, 150'000'000, 0, 85, 71.7}, {48000, 2, 2, kPlenty, 0.25, 4, 0.2}, {0, 8, 8, kPlenty, 0, 0, 0}};
  // clang-format on
  for (const auto& [sr, play, capture, available, wanted, slots, mebibytes] : cases) {
    const DiskBufferSize size = SizeDiskBuffers(sr, play, capture, available, wanted);
    EXPECT_EQ(std::tuple(size.playSlots, size.captureSlots, size.seconds),
              std::tuple(play > 0 ? slots : 0u, capture > 0 ? slots : 0u, sr ? slots * 4096.0 / sr : 0))
        << play;
    EXPECT_NEAR(double(size.playSlots * play + size.captureSlots * capture) * 12288 / 1048576, mebibytes, 0.05);
  }
}

// The verdict at its limits: a stall as long as the buffer or half of it, busy 90 or 50 % of the time, frames lost.
TEST(StorageVerdict, AtEachOfItsLimits) {
  // clang-format off
  const std::tuple<double, double, std::int64_t, const char*> cases[] = {{4.99, 0.49, 0, "holds this session: its"},
      {5, 0.1, 0, "little margin: its longest stall (5.00 s) is 50 %"}, {0.1, 0.5, 0, "little margin"},
      {10, 0.1, 0, "hold this session: its longest stall (10.00 s) is as long as the disk buffer (10.0 s)."},
      {9.99, 0.9, 0, "hold this session: it was busy 90 % of the time and barely"}, {0, 0, 4800, "have lost 0.10 s."}};
  // clang-format on
  for (const auto& [worst, busy, lost, says] : cases) {
    const StorageFigures f{
        .bufferSeconds = 10, .worstSeconds = worst, .busyFraction = busy, .lostFrames = lost, .sr = 48000};
    EXPECT_NE(VerdictText(f).find(says), std::string::npos) << VerdictText(f);
  }
}

// An audition's stop is not rounded to periods: near the end of 32 bits it is the last frame there is.
TEST(Audition, EndsOnTheLastFrameThereIs) {
  SessionSettings s{.i = 2147483547};
  AuditionCommand(s, 1000, "ai");
  EXPECT_EQ(s.o, 2147483647);
}

// "disk" ended by its time, by Ctrl-C after 1.5 s, or by a disk that refuses its files: said, and no file left.
TEST_F(ConsoleTest, StorageCheckReportsWhatItMeasuredAndLeavesNothingBehind) {
  const Bytes track = WaveBuilder().Samples(PositionCoded(192000)).Build();  // 4 s
  for (const char* name : {"t1.wav", "t2.wav"}) WriteBytes(session / name, track);
  session.Write("play.txt", "t1.wav\nt2.wav\n");
  session.Write("record.txt", "a.wav\n-\nc.wav\n");
  session.Write("param.txt", SimCardParams(3, 2, 3, 1024));
  session.Write("card-out.raw", "");
  const std::vector<std::string> before = session.Files();
  // clang-format off
  const std::tuple<const char*, std::optional<long>, bool, std::vector<std::string>> cases[] = {
      {"disk\n1\n", std::nullopt, false, {"Writing 2 streams and reading 2 tracks at 48000 Hz for 1 s; Ctrl-C stops.\n",
       "This session moves 0.58 MB/s: 2 streams written and 2 tracks read at 48000 Hz.\n", "\nVerdict: this storage "
       "holds this session"}},
      {"disk\n20\n", std::nullopt, true, {"The storage check was stopped; its files are removed.\n"}},
      {"disk\n1\n", 10, false, {"Can't write to ./tapeloom_disk_check.wav: File too large\nThe storage check could not "
       "write into this folder: a recording could not either.\n"}}};
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

// The marker's text reads back as written; cut, padded, out-of-range or misspelt texts are no marker.
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
           first + "take 1  2 44 48000 a.wav\n", first + "tape 1 2 44 48000 a.wav\n", first + "take 1 2 44 48000 a.wav\n\n"})
    EXPECT_EQ(ParseRecordingMarker(bad), std::nullopt) << bad;
  // clang-format on
}

// A take as a recording leaves it: a header announcing `announced` frames, `frames` frames, `trailing` bytes.
Bytes Take(std::int64_t frames, std::int64_t announced, std::string_view trailing = "") {
  const auto data = static_cast<std::uint32_t>(announced * 3);
  return WaveBuilder().Samples(PositionCoded(frames)).DataSize(data).RiffSize(data + 36).Trailing(trailing).Build();
}

class TakeRepairTest : public testing::Test {
 protected:
  static MarkedTake Mark() {  // as a recording marks in2_take.wav
    MarkedTake take{.name = "in2_take.wav", .dataOffset = 44, .sampleRate = 48000};
    FileStatus status;
    EXPECT_TRUE(IdentifyTake(OpenForReading(take.name, status), take).ok());
    return take;
  }
  TempDir dir;
  WorkingDirectory inDir{dir.path()};
};

// Only the sizes change, to the whole frames on disk; a take gone, linked, a FIFO or rewritten since is left as it is.
TEST_F(TakeRepairTest, SetsTheHeaderToTheWholeFramesOnDiskOrLeavesAChangedFileAsItIs) {
  const auto rewrite = [](const Bytes& bytes) { return [bytes] { WriteBytes("in2_take.wav", bytes); }; };
  using enum TakeRepair;
  // The frames on disk and announced, the bytes after them, and what happened to the file since.
  // clang-format off
  const std::tuple<std::int64_t, std::int64_t, std::string_view, std::function<void()>, TakeRepair> cases[] = {
      {81600, 48000, "", [] {}, kRepaired}, {4097, 4096, "", [] {}, kRepaired}, {1000, 0, "\x01\x02", [] {}, kRepaired},
      {1000, 2000, "", [] {}, kRepaired}, {0, 0, "", [] {}, kWhole}, {10, 10, "\x05", [] {}, kWhole},
      {9, 0, "", [] { fs::remove("in2_take.wav"); }, kChangedSince},
      {9, 0, "", [] { fs::rename("in2_take.wav", "keep.wav"), fs::create_symlink("keep.wav", "in2_take.wav"); }, kChangedSince},
      {9, 0, "", [] { fs::remove("in2_take.wav"), ::mkfifo("in2_take.wav", 0600); }, kChangedSince},
      {9, 0, "", rewrite(WaveBuilder().Channels(2).Samples(PositionCoded(9, 2)).Build()), kChangedSince},
      {9, 0, "", rewrite(WaveBuilder().SampleRate(44100).Samples(PositionCoded(9)).Build()), kChangedSince},
      {9, 0, "", rewrite(Bytes(30, 0)), kChangedSince}};  // cut inside the header
  // clang-format on
  const auto seen = [] { return fs::is_regular_file("in2_take.wav") ? ReadBytes("in2_take.wav") : Bytes(); };
  for (const auto& [frames, announced, trailing, change, result] : cases) {
    for (const char* name : {"in2_take.wav", "keep.wav"}) fs::remove_all(name);
    WriteBytes("in2_take.wav", Take(frames, announced, trailing));
    const MarkedTake marked = Mark();
    change();
    const Bytes after = result == kChangedSince ? seen() : Take(frames, frames, trailing);
    std::int64_t found = -1;
    FileStatus status;
    EXPECT_EQ(RepairTake(marked, found, status), result) << frames << " frames, " << announced << " announced";
    EXPECT_TRUE(status.ok() && seen() == after && found == (result == kChangedSince ? 0 : frames)) << status.Message();
  }
}

// A live run's marker is left alone; each write and flush failing in turn (the header, its flush, the folder's once the
// marker went) is said, and the next start-up does what was left undone, saying so only if it repairs.
TEST_F(TakeRepairTest, ALiveRunsMarkerIsLeftAloneOneThatCannotBeSettledKeptForTheNextStart) {
  WriteBytes("in2_take.wav", Take(81600, 48000));
  FileStatus status;
  RecordingMarker alive = RecordingMarker::Write({Mark()}, status);
  EXPECT_EQ(Printed(RepairInterruptedRecording),
            "A recording is in progress in this folder: its takes are left as they are.\n");
  RecordingMarker::Write({Mark()}, status);  // a killed run's in its place is not the live one's to remove
  alive.Remove();
  EXPECT_TRUE(fs::exists(kRecordingMarkerName));
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
