// The transport run inside the process, with ports that model a real card: the capture timing
// against what is heard, xruns at chosen moments, and takes that hold exactly the frames
// captured, in order, whatever the period.
#include <gtest/gtest.h>

#include <pthread.h>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>

#include <cerrno>

#include "audio/test_ports.h"
#include "core/session_signals.h"
#include "support/file_faults.h"
#include "support/run_bench.h"
#include "support/wave_builder.h"
#include "wave/text_file.h"

namespace tapeloom::test {
namespace {

// Track k's sample at position f: never 0, different for every frame of a track.
std::int32_t TrackSample(std::int64_t f, int k) { return static_cast<std::int32_t>((f % 30000 + 1) * 256 + k + 1); }

void WriteTrack(const std::filesystem::path& path, std::int64_t frames, int k) {
  std::vector<std::int32_t> samples;
  for (std::int64_t f = 0; f < frames; ++f) samples.push_back(TrackSample(f, k));
  WriteBytes(path, WaveBuilder().Samples(samples).Build());
}

// The samples of a take (a canonical header: they start at byte 44).
std::vector<std::int32_t> TakeSamples(const std::filesystem::path& path) {
  const Bytes bytes = ReadBytes(path);
  EXPECT_GE(bytes.size(), 44u);
  return Unpack24(std::span<const unsigned char>(bytes).subspan(44));
}

std::string FirstTake(const TakeState& takes) { return takes.takeList.substr(0, takes.takeList.find('\n')); }

// Quiet runs: no point lines, no clock, no meter.
std::string Settings(const std::string& extra) {
  return "dv\ttapeloom_sim\nsr\t48000\ninputs\t2\noutputs\t2\nch\t2\nbuf\t1024\nint\t0\nclock\thc\nmeter\t0\n" + extra;
}

class TransportRunTest : public testing::Test {
 protected:
  RunBench run;
  std::string lastOut;
};

TEST_F(TransportRunTest, TakeLinesUpWithWhatWasHeardAtTheRecordStart) {
  WriteTrack(run / "t1.wav", 200000, 0);
  run.dir().Write("play.txt", "t1.wav\n");
  run.dir().Write("record.txt", "new.wav\n-\n");
  run.Start(Settings("i\t49152\ne\t49152\no\t69632\n"));
  LoopbackPort card(2, 2, run.period(), run.playBuffer());
  run.Run(card, {.kind = RunKind::kPlayAndRecord});

  const std::vector<std::int32_t> take = TakeSamples(run / FirstTake(run.takes()));
  ASSERT_EQ(take.size(), 20480u);
  for (std::size_t j = 0; j < take.size(); ++j) {
    ASSERT_EQ(take[j], TrackSample(49152 + static_cast<std::int64_t>(j), 0)) << "take frame " << j;
  }
}

TEST_F(TransportRunTest, PunchInAfterThePlayStartIsAlignedByTheOutputDelayCompensation) {
  // Playback starts three blocks before the punch-in. The capture delay counts odcomp periods
  // on top of the buffer; on a card whose loop adds nothing beyond its buffer, five periods of
  // 1024 frames put the take exactly on the record start, and the default of four one period
  // before it.
  WriteTrack(run / "t1.wav", 200000, 0);
  run.dir().Write("play.txt", "t1.wav\n");
  run.dir().Write("record.txt", "new.wav\n-\n");
  run.Start(Settings("i\t4096\ne\t16384\no\t36864\nodcomp\t5\n"));
  for (const int odcomp : {5, 4}) {
    SCOPED_TRACE(odcomp);
    run.settings().odcomp = odcomp;
    LoopbackPort card(2, 2, run.period(), run.playBuffer());
    run.Run(card, {.kind = RunKind::kPlayAndRecord});
    // The capture starts right after the write that fills the playback buffer, before any
    // write waits for the device: there its first frame is the stream's first.
    EXPECT_EQ(card.FirstCapturedFrame(), 0);
    const std::vector<std::int32_t> take = TakeSamples(run / FirstTake(run.takes()));
    ASSERT_EQ(take.size(), 20480u);
    const std::int64_t first = 16384 - (5 - odcomp) * 1024;
    for (std::size_t j = 0; j < take.size(); ++j) {
      ASSERT_EQ(take[j], TrackSample(first + static_cast<std::int64_t>(j), 0));
    }
  }
}

TEST_F(TransportRunTest, ReplacedTrackIsHeardUpToTheRecordStartOnly) {
  WriteTrack(run / "keep.wav", 100000, 0);
  WriteTrack(run / "redo.wav", 100000, 1);
  run.dir().Write("play.txt", "keep.wav\nredo.wav\n");
  run.dir().Write("record.txt", "-\nredo.wav\n");
  run.Start(Settings("i\t0\ne\t10240\no\t20480\n"));
  LoopbackPort card(2, 2, run.period(), run.playBuffer());
  run.Run(card, {.kind = RunKind::kPlayAndRecord});
  // Played frame f is position f - 4096: the first block of every run is silence.
  const auto& kept = card.Played(0);
  const auto& replaced = card.Played(1);
  ASSERT_GT(replaced.size(), 24576u);
  for (std::size_t f = 4096; f < replaced.size(); ++f) {
    const std::int64_t position = static_cast<std::int64_t>(f) - 4096;
    ASSERT_EQ(kept[f], TrackSample(position, 0));
    ASSERT_EQ(replaced[f], position < 10240 ? TrackSample(position, 1) : 0) << "position " << position;
  }
}

TEST_F(TransportRunTest, ATrackShorterThanItsHeaderSaysIsSilentWhereItEnds) {
  // The header announces 20000 frames; the file holds 10000. What its rows held two blocks
  // earlier must never be heard in their place.
  WriteTrack(run / "cut.wav", 20000, 0);
  std::filesystem::resize_file(run / "cut.wav", 44 + 10000 * 3);
  run.dir().Write("play.txt", "cut.wav\n");
  run.dir().Write("record.txt", "");
  run.Start(Settings("i\t0\no\t28672\n"));
  LoopbackPort card(2, 2, run.period(), run.playBuffer());
  run.Run(card, {.kind = RunKind::kPlay});
  const auto& played = card.Played(0);
  ASSERT_GT(played.size(), 4096u + 20000u) << "the run must go on past the end the header gives";
  for (std::size_t f = 4096; f < played.size(); ++f) {
    const std::int64_t position = static_cast<std::int64_t>(f) - 4096;
    ASSERT_EQ(played[f], position < 10000 ? TrackSample(position, 0) : 0) << "position " << position;
  }
}

TEST_F(TransportRunTest, UnderrunIsCountedAndPlaybackGoesOn) {
  WriteTrack(run / "t1.wav", 50000, 0);
  run.dir().Write("play.txt", "t1.wav\n");
  run.dir().Write("record.txt", "");
  run.Start(Settings("o\t20480\n"));
  LoopbackPort card(2, 2, run.period(), run.playBuffer());
  FaultPort port(card, {{3, -EPIPE}, {9, -EPIPE}}, {});
  const std::string out = run.Run(port, {.kind = RunKind::kPlay});
  // After the counts, where each was: the first in the silent block every run begins with.
  EXPECT_EQ(out,
            "Playing...\n\nPX\nPX\n\nOutput Channel Peaks:\n\n\nPlay Underruns = 2\n\nplay underrun at 0.00 s\n"
            "play underrun at 0.13 s\n");
  EXPECT_EQ(port.prepares[0], 3) << "once before the run and once after each underrun";
  // The frames of a failed write are not written again: the fourth write (the last period of the
  // silent first block) is lost, so track frame 2048 comes out as the 5121st frame played.
  const auto& out1 = card.Played(0);
  EXPECT_EQ(out1[3071], 0);
  EXPECT_EQ(out1[3072], TrackSample(0, 0));
  EXPECT_EQ(out1[5120], TrackSample(2048, 0));
}

TEST_F(TransportRunTest, OverrunLeavesSilenceInItsPlaceAndTheTakeKeepsItsTiming) {
  run.dir().Write("play.txt", "");
  run.dir().Write("record.txt", "a.wav\nb.wav\n");
  run.Start(Settings("e\t0\no\t13312\n"));
  PositionPort capture(2, run.period());
  FaultPort port(capture, {}, {{2, -EPIPE}}, &capture);
  // The previous content of the record block must not come back in the lost period.
  run.buffers().RecordSet(0).assign(run.buffers().RecordSet(0).size(), 0x55);
  const std::string out = run.Run(port, {.kind = RunKind::kRecord});
  // 13312 frames take four blocks, and a fifth is captured after them: the loudest code is that
  // of frame 20479.
  char peaks[128];
  std::snprintf(peaks, sizeof peaks, "\tchannel 1: %.2f dBFS\n\tchannel 2: %.2f dBFS\n",
                -20.0 * std::log10(8388607.0 / PositionPort::Code(20479, 0)),
                -20.0 * std::log10(8388607.0 / PositionPort::Code(20479, 1)));
  // The card went on for the period the failed read would have taken: that period is silence.
  EXPECT_EQ(out, "Recording...\n\nRX\n\n\nInput Channel Peaks:\n" + std::string(peaks) +
                     "\nRecord Overruns = 1\n\nrecord overrun at 0.04 s: 0.02 s of input were not recorded (silence in "
                     "the takes)\n");
  EXPECT_EQ(port.prepares[1], 2);
  const std::string takeList = run.takes().takeList;
  const std::string second = takeList.substr(takeList.find('\n') + 1, takeList.rfind('\n') - takeList.find('\n') - 1);
  for (int k = 0; k < 2; ++k) {
    const std::vector<std::int32_t> take = TakeSamples(run / (k == 0 ? FirstTake(run.takes()) : second));
    ASSERT_EQ(take.size(), 13312u);
    for (std::size_t j = 0; j < take.size(); ++j) {
      const bool lost = j >= 2048 && j < 3072;
      ASSERT_EQ(take[j], lost ? 0 : PositionPort::Code(static_cast<std::int64_t>(j), k))
          << "input " << k << " frame " << j;
    }
  }
}

TEST_F(TransportRunTest, AnyPeriodRecordsEveryFrameOnce) {
  run.dir().Write("play.txt", "");
  run.dir().Write("record.txt", "a.wav\n");
  run.Start(Settings("buf\t1000\ne\t0\no\t10000\n"));
  PositionPort card(2, run.period());
  ASSERT_EQ(card.PeriodFrames(), 1000);
  run.Run(card, {.kind = RunKind::kRecord});
  const std::vector<std::int32_t> take = TakeSamples(run / FirstTake(run.takes()));
  ASSERT_EQ(take.size(), 10000u);
  for (std::size_t j = 0; j < take.size(); ++j) ASSERT_EQ(take[j], PositionPort::Code(static_cast<std::int64_t>(j), 0));
  // Reads are split where a record block ends: 1000, 1000, 1000, 1000, then 96 and 904.
  ASSERT_GE(card.readSizes.size(), 6u);
  EXPECT_EQ(card.readSizes[4], 96);
  EXPECT_EQ(card.readSizes[5], 904);
}

TEST_F(TransportRunTest, OneMoreBlockIsCapturedAfterTheTake) {
  run.dir().Write("play.txt", "");
  run.dir().Write("record.txt", "a.wav\n");
  run.Start(Settings("e\t1024\no\t6144\n"));
  PositionPort card(2, run.period());
  run.Run(card, {.kind = RunKind::kRecord});
  // 5120 frames: a block of 4096, one of 1024, and a third whose write finds nothing left.
  int captured = 0;
  for (int size : card.readSizes) captured += size;
  EXPECT_EQ(captured, 3 * 4096);
  EXPECT_EQ(TakeSamples(run / FirstTake(run.takes())).size(), 5120u);
}

TEST_F(TransportRunTest, ShortCaptureReadsAreContinued) {
  run.dir().Write("play.txt", "");
  run.dir().Write("record.txt", "a.wav\n");
  run.Start(Settings("e\t0\no\t8192\n"));
  PositionPort capture(2, run.period());
  FaultPort port(capture, {}, {{1, 300}, {5, 1}});
  const std::string out = run.Run(port, {.kind = RunKind::kRecord});
  EXPECT_EQ(out.find("RX"), std::string::npos);
  const std::vector<std::int32_t> take = TakeSamples(run / FirstTake(run.takes()));
  ASSERT_EQ(take.size(), 8192u);
  for (std::size_t j = 0; j < take.size(); ++j) ASSERT_EQ(take[j], PositionPort::Code(static_cast<std::int64_t>(j), 0));
}

TEST_F(TransportRunTest, AFailedWriteOrFlushOfATakeIsReportedOnceAndTheTakeStaysAValidWaveFile) {
  // Three seconds of one input: the take's first header, block writes, a header update each
  // second, and the final header and flush. Whichever of them fails, the failure is said once,
  // the take is not handed on as recorded, and what is on disk is a wave file whose header
  // announces no more than it holds.
  run.dir().Write("play.txt", "");
  run.dir().Write("record.txt", "a.wav\n");
  run.Start(Settings("e\t0\no\t144384\n"));
  const int points = SweepWriteFailures(
      [&] {
        PositionPort card(2, run.period());
        lastOut = run.Run(card, {.kind = RunKind::kRecord});
      },
      [&](int n) {
        SCOPED_TRACE(testing::Message() << "write " << n << " failed");
        if (n == 1) {
          // The take's first header: no take, and no recording to nowhere.
          EXPECT_NE(lastOut.find("the recording is cancelled."), std::string::npos) << lastOut;
          return;
        }
        const std::string take = FirstTake(run.takes());
        if (lastOut.find("(recording all the same;") != std::string::npos ||
            lastOut.find("Input/output error") == std::string::npos) {
          // The failure met the recording's marker (its writing, or the flush of its removal,
          // which needs no word): the take is whole all the same.
          EXPECT_EQ(run.takes().recorded[0], 1);
          const std::vector<std::int32_t> samples = TakeSamples(run / take);
          ASSERT_EQ(samples.size(), 144384u);
          for (std::size_t j = 0; j < samples.size(); ++j) {
            // 24 bits of the code: frame 32767 and on wrap round.
            ASSERT_EQ(samples[j] & 0xFFFFFF, PositionPort::Code(static_cast<std::int64_t>(j), 0) & 0xFFFFFF) << j;
          }
          return;
        }
        EXPECT_NE(lastOut.find("Can't write to " + take + ": Input/output error\n"), std::string::npos) << lastOut;
        EXPECT_EQ(lastOut.find("Input/output error"), lastOut.rfind("Input/output error")) << "once";
        EXPECT_EQ(run.takes().recorded[0], 0);
        const Bytes bytes = ReadBytes(run / take);
        ASSERT_GE(bytes.size(), 44u);
        EXPECT_LE(Field32(bytes, 40), bytes.size() - 44);
        EXPECT_EQ(Field32(bytes, 4), Field32(bytes, 40) + 36);
      });
  // The disk worker writes several blocks at once: the first header, the writes, a header
  // update each second, the final header and the flush.
  EXPECT_GT(points, 5);
  EXPECT_EQ(run.takes().recorded[0], 1);
  EXPECT_EQ(TakeSamples(run / FirstTake(run.takes())).size(), 144384u);
}

TEST_F(TransportRunTest, DeviceFailuresAreCountedAndReportedAndAGoneDeviceEndsTheRun) {
  // Transfers that fail with something other than an xrun: no xrun is reported for them; each
  // is counted, its reason said once after the run, and the device made ready again (resumed
  // after a suspend, prepared otherwise). A device that cannot be prepared again is gone: the
  // run ends at once and the takes keep every frame captured, their headers saying so.
  struct Case {
    const char* what;
    RunKind kind;
    std::map<int, snd_pcm_sframes_t> writes;
    std::map<int, snd_pcm_sframes_t> reads;
    int resumesNotYet;
    int resumeResult;
    int prepareFailure;
    std::vector<std::string> said;  // in this order
    int playPrepares;               // the one before the run included
    int capturePrepares;
    int resumes;
    std::int64_t takeFrames;  // frames of the take, all of them captured; -1: no take
  };
  const std::string io = "Input/output error";
  const std::string gone = "No such device";
  // clang-format off
  const std::vector<Case> cases = {
      {"an I/O error each way", RunKind::kPlayAndRecord, {{2, -EIO}}, {{4, -EIO}}, 0, -ENOSYS, 0,
       {"\nPlayback errors = 1 (" + io + ")\n", "\nRecording errors = 1 (" + io + ")\n"}, 2, 2, 0, 8192},
      {"two errors: both counted, the last one said", RunKind::kRecord, {}, {{1, -EIO}, {4, -EBADFD}}, 0, -ENOSYS, 0,
       {"\nRecording errors = 2 (File descriptor in bad state)\n"}, 0, 3, 0, 8192},
      {"a suspend the card resumes from", RunKind::kRecord, {}, {{2, -ESTRPIPE}}, 2, 0, 0,
       {"\nRecording errors = 1 (Streams pipe error)\n"}, 0, 1, 3, 8192},
      {"a suspend the card cannot resume from", RunKind::kRecord, {}, {{2, -ESTRPIPE}}, 0, -ENOSYS, 0,
       {"\nRecording errors = 1 (Streams pipe error)\n"}, 0, 2, 1, 8192},
      {"an interrupted call loses its period, but the device needs nothing", RunKind::kPlayAndRecord,
       {{3, -EINTR}}, {{1, -EINTR}}, 0, -ENOSYS, 0,
       {"\nPlayback errors = 1 (Interrupted system call)\n", "\nRecording errors = 1 (Interrupted system call)\n"},
       1, 1, 0, 8192},
      {"the capture device is gone", RunKind::kRecord, {}, {{3, -ENODEV}}, 0, -ENOSYS, -ENODEV,
       {"\nRecording on tapeloom_sim stopped working: " + gone + "\n", "\nRecording errors = 1 (" + gone + ")\n"},
       0, 2, 0, 3072},
      {"the capture device is gone after a suspend", RunKind::kRecord, {}, {{5, -ESTRPIPE}}, 0, -ENODEV, -ENODEV,
       {"\nRecording on tapeloom_sim stopped working: " + gone + "\n", "\nRecording errors = 1 (Streams pipe error)\n"},
       0, 2, 1, 5120},
      {"the playback device is gone", RunKind::kPlay, {{6, -EIO}}, {}, 0, -ENOSYS, -EIO,
       {"\nPlayback on tapeloom_sim stopped working: " + io + "\n", "\nPlayback errors = 1 (" + io + ")\n"},
       2, 0, 0, -1},
      {"the device is gone while monitoring", RunKind::kMonitorAll, {}, {{2, -ENODEV}}, 0, -ENOSYS, -ENODEV,
       {"\nRecording on tapeloom_sim stopped working: " + gone + "\n"}, 0, 2, 0, -1},
  };
  // clang-format on
  WriteTrack(run / "t1.wav", 50000, 0);
  run.dir().Write("play.txt", "t1.wav\n");
  run.dir().Write("record.txt", "a.wav\n");
  run.Start(Settings("i\t0\ne\t0\no\t8192\n"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    run.takes() = TakeState{};
    const bool loopback = c.kind == RunKind::kPlayAndRecord || c.kind == RunKind::kPlay;
    LoopbackPort card(2, 2, run.period(), run.playBuffer());
    PositionPort capture(2, run.period());
    FaultPort port(loopback ? static_cast<PcmPort&>(card) : capture, c.writes, c.reads);
    port.resumesNotYet = c.resumesNotYet;
    port.resumeResult = c.resumeResult;
    port.prepareFailure = c.prepareFailure;
    run.buffers().RecordSet(0).assign(run.buffers().RecordSet(0).size(), 0x55);
    const std::string out = run.Run(port, {.kind = c.kind, .monitorFrames = 48000});
    EXPECT_EQ(out.find("PX"), std::string::npos) << out;
    EXPECT_EQ(out.find("RX"), std::string::npos) << out;
    EXPECT_EQ(out.find("runs ="), std::string::npos) << out;
    std::size_t at = 0;
    for (const std::string& line : c.said) {
      at = out.find(line, at);
      ASSERT_NE(at, std::string::npos) << "missing " << line << " in " << out;
    }
    EXPECT_EQ(port.prepares[0], c.playPrepares);
    EXPECT_EQ(port.prepares[1], c.capturePrepares);
    EXPECT_EQ(port.resumes, c.resumes);
    if (c.takeFrames < 0) continue;
    const std::string take = FirstTake(run.takes());
    const Bytes bytes = ReadBytes(run / take);
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(Field32(bytes, 40), static_cast<std::uint32_t>(c.takeFrames * 3)) << "the header says what it holds";
    EXPECT_EQ(run.takes().recordLength, c.takeFrames) << "take handling works on what was recorded";
    EXPECT_EQ(run.takes().recorded[0], 1);
    const std::vector<std::int32_t> samples = TakeSamples(run / take);
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(c.takeFrames));
    if (loopback) {
      // The capture starts when the playback buffer is full, four periods before the take
      // begins; the take's first period is the fifth read. Where it failed, the take is silent,
      // never what the block held before.
      for (std::size_t j = 0; j < 1024; ++j) ASSERT_EQ(samples[j], c.reads.contains(4) ? 0 : samples[j]);
      continue;
    }
    // Each failed read leaves its period silent; the other periods hold the frames captured, in
    // order.
    std::int64_t captured = 0;
    for (std::size_t j = 0; j < samples.size(); ++j) {
      const bool failed = c.reads.contains(static_cast<int>(j / 1024));
      ASSERT_EQ(samples[j], failed ? 0 : PositionPort::Code(captured++, 0)) << "frame " << j;
    }
  }
}

TEST_F(TransportRunTest, CtrlCStopsTheRunThereAndTheTakesHoldWhatWasCaptured) {
  // Ctrl-C comes while the run waits for a period: that period is still captured, and the run
  // stops as if its stop were there, the part of a block captured included.
  CatchSessionSignals();
  run.dir().Write("play.txt", "");
  run.dir().Write("record.txt", "a.wav\nb.wav\n");
  run.Start(Settings("e\t2048\no\t100000\n"));
  for (const int interruptAt : {0, 3, 4, 9}) {
    SCOPED_TRACE(testing::Message() << "Ctrl-C at read " << interruptAt);
    run.takes() = TakeState{};
    PositionPort capture(2, run.period());
    FaultPort port(capture, {}, {});
    port.interruptAtRead = interruptAt;
    run.Run(port, {.kind = RunKind::kRecord});
    const std::int64_t frames = (interruptAt + 1) * 1024;
    EXPECT_EQ(run.takes().recordLength, frames);
    EXPECT_TRUE(run.takes().pending) << "take handling follows";
    const std::vector<std::string> takes = SplitList(run.takes().takeList);
    ASSERT_EQ(takes.size(), 2u);
    for (int k = 0; k < 2; ++k) {
      const Bytes bytes = ReadBytes(run / takes[static_cast<std::size_t>(k)]);
      EXPECT_EQ(Field32(bytes, 40), static_cast<std::uint32_t>(frames * 3));
      const std::vector<std::int32_t> samples = TakeSamples(run / takes[static_cast<std::size_t>(k)]);
      ASSERT_EQ(samples.size(), static_cast<std::size_t>(frames));
      for (std::size_t j = 0; j < samples.size(); ++j) {
        ASSERT_EQ(samples[j], PositionPort::Code(static_cast<std::int64_t>(j), k)) << "frame " << j;
      }
    }
    EXPECT_EQ(PendingSignal(), 0) << "the run took the signal";
    EXPECT_EQ(SessionEndSignal(), 0) << "Ctrl-C in a run does not end the session";
  }
}

TEST_F(TransportRunTest, ARunOnACardThatStopsAnsweringEndsAtCtrlCOrAfterFiveSilentSeconds) {
  // A card that delivers or takes nothing holds the run in a wait: Ctrl-C ends it at once,
  // whether the card's wait sees signals or its read restarts after one; a card silent for five
  // seconds is gone. Either way the takes hold exactly what was captured before.
  CatchSessionSignals();
  using Stall = StallingPort::Stall;
  struct Case {
    const char* what;
    RunKind kind;
    PcmDirection direction;
    Stall stall;
    bool ctrlC;
    std::string said;  // "" when no card message
  };
  const std::string gone = "\nRecording errors = 1 (No such device)\n";
  const std::vector<Case> cases = {
      {"a capture wait without end", RunKind::kRecord, PcmDirection::Capture, Stall::kWaitsForSignal, true, ""},
      {"a capture read that restarts", RunKind::kRecord, PcmDirection::Capture, Stall::kReadBlocks, true, ""},
      {"a playback wait without end", RunKind::kPlayAndRecord, PcmDirection::Playback, Stall::kWaitsForSignal, true,
       ""},
      {"a silent capture", RunKind::kRecord, PcmDirection::Capture, Stall::kSilent, false,
       "\nRecording on tapeloom_sim stopped working: nothing came from the card for 5 seconds\n"},
      {"a playback that takes nothing", RunKind::kPlay, PcmDirection::Playback, Stall::kSilent, false,
       "\nPlayback on tapeloom_sim stopped working: the card took nothing for 5 seconds\n"},
  };
  WriteTrack(run / "t1.wav", 500000, 0);
  run.dir().Write("play.txt", "t1.wav\n");
  run.dir().Write("record.txt", "a.wav\n");
  run.Start(Settings("i\t0\ne\t2048\no\t400000\n"));
  constexpr int kTransfersBefore = 12;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    run.takes() = TakeState{};
    LoopbackPort loop(2, 2, run.period(), run.playBuffer());
    PositionPort position(2, run.period());
    StallingPort port(c.kind == RunKind::kRecord ? static_cast<PcmPort&>(position) : loop, c.direction,
                      kTransfersBefore, c.stall);
    std::atomic<std::int64_t> sentAt{0};
    std::thread signaller;
    if (c.ctrlC) {
      signaller = std::thread([&port, &sentAt] {
        // Blocked here, so that the signal reaches the thread that runs the card.
        sigset_t all;
        sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
        while (port.waits == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        sentAt = std::chrono::steady_clock::now().time_since_epoch().count();
        ::kill(::getpid(), SIGINT);
      });
    }
    const std::string out = run.Run(port, {.kind = c.kind});
    const auto endedAt = std::chrono::steady_clock::now().time_since_epoch().count();
    if (signaller.joinable()) signaller.join();
    if (c.ctrlC) {
      EXPECT_LT(std::chrono::steady_clock::duration(endedAt - sentAt), std::chrono::seconds(1));
      EXPECT_EQ(out.find("stopped working"), std::string::npos) << out;
      EXPECT_EQ(PendingSignal(), 0) << "the run took the signal";
    } else {
      EXPECT_NE(out.find(c.said + "\n"), std::string::npos) << out;
      // Gone only after five seconds of the card's clock without a frame, a second a wait.
      EXPECT_EQ(port.waits, 5);
      EXPECT_NE(out.find(c.kind == RunKind::kPlay ? "\nPlayback errors = 1 (No such device)\n" : gone),
                std::string::npos)
          << out;
    }
    EXPECT_EQ(SessionEndSignal(), 0);
    if (c.kind == RunKind::kPlay) continue;
    const std::vector<std::int32_t> samples = TakeSamples(run / FirstTake(run.takes()));
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(run.takes().recordLength));
    if (c.kind != RunKind::kRecord) {
      EXPECT_GT(samples.size(), 0u);
      continue;
    }
    // Every period read before the card stopped answering, and nothing of the read it cut short.
    ASSERT_EQ(samples.size(), std::size_t{kTransfersBefore} * 1024);
    for (std::size_t j = 0; j < samples.size(); ++j) {
      ASSERT_EQ(samples[j], PositionPort::Code(static_cast<std::int64_t>(j), 0)) << "frame " << j;
    }
  }
}

TEST_F(TransportRunTest, PlaybackAndCaptureAreLinkedForTheirStartWhereTheCardCan) {
  // A run that plays and records links the two directions before they start, so that the card
  // starts them together, and unlinks them once the capture runs, so that each recovers from an
  // xrun on its own. Runs of one direction, and cards that cannot link, are left as they are.
  class LinkingPort : public LoopbackPort {
   public:
    LinkingPort(int period, int buffer, int linkResult) : LoopbackPort(2, 2, period, buffer), result_(linkResult) {}
    int Link() override {
      ++links;
      linkedAtWrite = writes;
      return result_;
    }
    void Unlink() override {
      ++unlinks;
      unlinkedAtRead = reads;
    }
    snd_pcm_sframes_t WriteN(void** channels, snd_pcm_uframes_t frames) override {
      ++writes;
      return LoopbackPort::WriteN(channels, frames);
    }
    snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) override {
      ++reads;
      return LoopbackPort::ReadN(channels, frames);
    }
    int links = 0, unlinks = 0, writes = 0, reads = 0, linkedAtWrite = -1, unlinkedAtRead = -1;

   private:
    int result_;
  };
  struct Case {
    RunKind kind;
    int linkResult;
    int links;
    int unlinks;
  };
  const Case cases[] = {{RunKind::kPlayAndRecord, 0, 1, 1},
                        {RunKind::kPlayAndRecord, -ENOSYS, 1, 0},
                        {RunKind::kPlay, 0, 0, 0},
                        {RunKind::kRecord, 0, 0, 0}};
  WriteTrack(run / "t1.wav", 100000, 0);
  run.dir().Write("play.txt", "t1.wav\n");
  run.dir().Write("record.txt", "a.wav\n");
  run.Start(Settings("i\t0\ne\t0\no\t20480\n"));
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.kind) << " link " << c.linkResult);
    run.takes() = TakeState{};
    LinkingPort port(run.period(), run.playBuffer(), c.linkResult);
    run.Run(port, {.kind = c.kind});
    EXPECT_EQ(port.links, c.links);
    EXPECT_EQ(port.unlinks, c.unlinks);
    if (c.links > 0) {
      EXPECT_EQ(port.linkedAtWrite, 0) << "linked before anything was played";
    }
    if (c.unlinks > 0) {
      EXPECT_EQ(port.unlinkedAtRead, 1) << "unlinked once the capture ran";
    }
  }
}

}  // namespace
}  // namespace tapeloom::test
