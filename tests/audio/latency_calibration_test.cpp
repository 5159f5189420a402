// "cal" on an in-process card whose outputs are wired to its inputs and whose converters add a
// delay of their own: after the calibration, a take holds what was played at its exact
// position, whatever the period, the delay and the play start; a signal that does not come
// back as it was played changes nothing.
#include "audio/latency_calibration.h"

#include <gtest/gtest.h>

#include "audio/latency_probe.h"
#include "audio/test_ports.h"
#include "core/session_signals.h"
#include "core/time_base.h"
#include "support/run_bench.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

std::int32_t TrackSample(std::int64_t f) { return static_cast<std::int32_t>((f % 30000 + 1) * 256 + 1); }

std::string Settings(int period) {
  return "dv\ttapeloom_sim\nsr\t48000\ninputs\t2\noutputs\t2\nch\t1\nint\t0\nclock\thc\nmeter\t0\nbuf\t" +
         std::to_string(period) + "\n";
}

// A session with one track of position-coded audio, and input 1 armed.
void StartSession(RunBench& run, int period) {
  std::vector<std::int32_t> samples;
  for (std::int64_t f = 0; f < 120000; ++f) samples.push_back(TrackSample(f));
  WriteBytes(run / "t1.wav", WaveBuilder().Samples(samples).Build());
  run.dir().Write("play.txt", "t1.wav\n");
  run.dir().Write("record.txt", "new.wav\n-\n");
  run.Start(Settings(period));
}

// Records from the play start to the stop and returns how far the take is off: the smallest
// shift (within 20000 frames either way) at which it holds the track's audio frame for frame,
// and silence where that audio would come from before the play start.
std::optional<std::int64_t> TakeOffset(RunBench& run, PcmPort& port, SamplePosition playStart,
                                       SamplePosition recordStart, SamplePosition stop) {
  run.settings().i = playStart;
  run.settings().e = recordStart;
  run.settings().o = stop;
  run.Run(port, {.kind = RunKind::kPlayAndRecord});
  const std::string name = run.takes().takeList.substr(0, run.takes().takeList.find('\n'));
  const Bytes bytes = ReadBytes(run / name);
  const std::vector<std::int32_t> take = Unpack24(std::span<const unsigned char>(bytes).subspan(44));
  EXPECT_EQ(take.size(), static_cast<std::size_t>(stop - recordStart)) << "a take keeps its length";
  std::filesystem::remove(run / name);
  for (std::int64_t distance = 0; distance <= 20000; ++distance) {
    for (const std::int64_t shift : {distance, -distance}) {
      bool all = true;
      for (std::size_t j = 0; j < take.size() && all; ++j) {
        const std::int64_t position = recordStart + static_cast<std::int64_t>(j) - shift;
        all = take[j] == (position < playStart ? 0 : TrackSample(position));
      }
      if (all) return shift;
    }
  }
  return std::nullopt;
}

TEST(LatencyCalibration, AfterCalibrationEveryTakeLandsOnItsExactFrame) {
  for (const int period : {16, 64, 1000, 1024, 4096}) {
    for (const int delay : {0, 1, 37, 1500, period + 1}) {
      SCOPED_TRACE("period " + std::to_string(period) + ", delay " + std::to_string(delay));
      RunBench run;
      StartSession(run, period);
      ASSERT_EQ(run.period(), period);
      LoopbackPort card(2, 2, period, run.playBuffer(), delay);
      const std::string out = run.Calibrate(card, "1 1 y\n");
      ASSERT_NE(out.find("odcomp is now"), std::string::npos) << out;
      // The card's own delay is what the playback buffer does not explain; the whole periods
      // make up for the silent block that playback starts with.
      EXPECT_EQ(run.settings().latcomp, delay);
      EXPECT_EQ(run.settings().odcomp, 1 + (4096 + period - 1) / period);
      EXPECT_NE(out.find("Round-trip latency: " + std::to_string(4 * period + delay) + " frames"), std::string::npos);

      // Every play start: at the record start, a period before it, three blocks before it,
      // and from the start of the files.
      const SamplePosition recordStart = QUANTIZE_SAMPLES(period, 40960);
      const SamplePosition stop = recordStart + 10000;
      for (const SamplePosition preroll : {0, period, QUANTIZE_SAMPLES(period, 3 * 4096), recordStart}) {
        SCOPED_TRACE("preroll " + std::to_string(preroll));
        EXPECT_EQ(TakeOffset(run, card, recordStart - preroll, recordStart, stop), std::optional<std::int64_t>(0));
      }
      // Measured again, nothing is left to correct.
      const std::string again = run.Calibrate(card, "1 1\n");
      EXPECT_NE(again.find("  play start at the record start:      on its exact frame\n"
                           "  play start before the record start:  on its exact frame\nNothing to correct.\n"),
                std::string::npos)
          << again;
    }
  }
}

TEST(LatencyCalibration, ReportsHowFarOffTakesLandAndAsksBeforeChangingAnything) {
  RunBench run;
  StartSession(run, 1024);
  LoopbackPort card(2, 2, 1024, run.playBuffer(), 37);
  const std::string out = run.Calibrate(card, "2 2 n\n");
  EXPECT_NE(out.find("Playing clicks at -20 dBFS on output 2 and recording input 2"), std::string::npos) << out;
  EXPECT_NE(out.find("Round-trip latency: 4133 frames (86.10 ms at 48000 Hz)\n"
                     "With odcomp 4 and latcomp 0 a take lands:\n"
                     "  play start at the record start:      37 frames late (0.77 ms)\n"
                     "  play start before the record start:  1061 frames late (22.10 ms)\n"
                     "Correction: odcomp 5, latcomp 37. Store it for this session? (y,n) Nothing was changed.\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(run.settings().odcomp, 4);
  EXPECT_EQ(run.settings().latcomp, 0);
  // Before the calibration a take lands where the report said.
  EXPECT_EQ(TakeOffset(run, card, 40960, 40960, 50000), std::optional<std::int64_t>(37));
  EXPECT_EQ(TakeOffset(run, card, 0, 40960, 50000), std::optional<std::int64_t>(1061));
}

TEST(LatencyCalibration, ASignalThatDoesNotComeBackAsPlayedChangesNothing) {
  struct Case {
    const char* name;
    int gain;
    int wiredOutput;  // the output every input hears
    int xrunAtRead;   // the capture read that overruns (-1: none)
    const char* answers;
    const char* says;
    int interruptAtRead = -1;  // the capture read during which Ctrl-C comes
  };
  CatchSessionSignals();
  const Case cases[] = {
      {"no cable", 0, -1, -1, "1 1 y\n",
       "No test signal came back on input 1: check the cable from output 1 to input 1"},
      {"the cable on the other output", 1, 1, -1, "1 1 y\n", "No test signal came back on input 1"},
      {"clipped", 20, -1, -1, "1 1 y\n", "Input 1 clipped: the test signal came back too loud to be measured."},
      {"an overrun", 1, -1, 40, "1 1 y\n", "The measurement was disturbed: 1 xruns or device errors."},
      {"Ctrl-C", 1, -1, -1, "1 1 y\n", "The calibration was stopped before its end.", 60},
      {"an output the card lacks", 1, -1, -1, "3\n", "There is no output 3: the card has 2.\nNothing was changed.\n"},
      {"an input the card lacks", 1, -1, -1, "1 0\n", "There is no input 0: the card has 2.\nNothing was changed.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunBench run;
    StartSession(run, 256);
    LoopbackPort card(2, 2, 256, run.playBuffer(), 5, c.wiredOutput);
    card.gain = c.gain;
    FaultPort port(card, {},
                   c.xrunAtRead < 0 ? std::map<int, snd_pcm_sframes_t>{}
                                    : std::map<int, snd_pcm_sframes_t>{{c.xrunAtRead, -EPIPE}});
    port.interruptAtRead = c.interruptAtRead;
    const std::string out = run.Calibrate(port, c.answers);
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    EXPECT_NE(out.find("Nothing was changed.\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("Correction"), std::string::npos) << out;
    EXPECT_EQ(run.settings().odcomp, 4);
    EXPECT_EQ(run.settings().latcomp, 0);
  }
}

// The search on its own: what comes back through a loop that filters, inverts, adds noise or
// loses most of the level.
TEST(LatencyProbe, FindsTheTrainOrSaysWhyNot) {
  const ClickTrain train = MakeClickTrain(48000);
  struct Case {
    const char* name;
    double gain;
    bool smear;     // each click spread over three frames, as a card's filters do
    int noise;      // peak of a pseudo-random noise added
    int otherPath;  // a second copy of the train this many frames later (0: none)
    ProbeVerdict verdict;
  };
  const Case cases[] = {
      {"straight", 1.0, false, 0, 0, ProbeVerdict::kFound},
      {"filtered and noisy", 0.5, true, 20000, 0, ProbeVerdict::kFound},
      {"inverted", -0.8, false, 1000, 0, ProbeVerdict::kFound},
      {"50 dB down", 0.003, false, 0, 0, ProbeVerdict::kTooLow},
      {"noise only", 0.0, false, 200000, 0, ProbeVerdict::kUnclear},
      {"two paths", 1.0, false, 0, 5000, ProbeVerdict::kUnclear},
      {"silence", 0.0, false, 0, 0, ProbeVerdict::kSilent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::int32_t> captured(20000, 0);
    const std::size_t at = 7777;
    std::uint32_t seed = 12345;
    for (std::int32_t& sample : captured) {
      seed = seed * 1664525u + 1013904223u;
      sample =
          c.noise == 0 ? 0 : static_cast<std::int32_t>(seed % (2u * static_cast<std::uint32_t>(c.noise))) - c.noise;
    }
    for (const std::size_t start : {at, at + static_cast<std::size_t>(c.otherPath)}) {
      for (std::size_t f = 0; f < train.samples.size(); ++f) {
        const double click = c.gain * train.samples[f];
        captured[start + f] += static_cast<std::int32_t>(c.smear ? click * 0.8 : click);
        if (c.smear) {
          captured[start + f + 1] += static_cast<std::int32_t>(click * 0.3);
          captured[start + f - 1] += static_cast<std::int32_t>(click * 0.1);
        }
      }
      if (c.otherPath == 0) break;
    }
    const ProbeResult found = FindClickTrain(captured, train);
    EXPECT_EQ(found.verdict, c.verdict);
    if (c.verdict == ProbeVerdict::kFound) {
      EXPECT_EQ(found.position, static_cast<std::int64_t>(at));
      EXPECT_EQ(found.inverted, c.gain < 0);
    }
  }
}

}  // namespace
}  // namespace tapeloom::test
