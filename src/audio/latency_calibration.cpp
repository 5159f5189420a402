#include "audio/latency_calibration.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <memory>
#include <string>

#include "audio/latency_probe.h"
#include "core/time_base.h"

namespace tapeloom {
namespace {

double Milliseconds(std::int64_t frames, std::uint32_t sr) {
  return static_cast<double>(frames) * 1000.0 / static_cast<double>(sr);
}

// Asks for an output or an input; a word that is no number takes the first one. Nullopt for a
// channel the card does not have.
std::optional<int> AskChannel(ConsoleInput& input, const char* prompt, const char* what, int count) {
  std::printf("%s (1 to %i; a word that is no number: 1): ", prompt, count);
  const int channel = input.ReadInt().value_or(1);
  if (channel < 1 || channel > count) {
    std::printf("There is no %s %i: the card has %i.\nNothing was changed.\n", what, channel, count);
    return std::nullopt;
  }
  return channel;
}

void ReportNotFound(const ProbeResult& found, int output, int input) {
  switch (found.verdict) {
    case ProbeVerdict::kSilent:
      std::printf(
          "No test signal came back on input %i: check the cable from output %i to input %i, and that "
          "both are turned up.\n",
          input, output, input);
      break;
    case ProbeVerdict::kTooLow:
      std::printf(
          "The test signal came back on input %i at %.1f dBFS, too quiet to be measured: turn the output "
          "or the input up.\n",
          input, found.levelDb);
      break;
    case ProbeVerdict::kClipped:
      std::printf("Input %i clipped: the test signal came back too loud to be measured. Turn the input down.\n", input);
      break;
    case ProbeVerdict::kUnclear:
      std::printf(
          "What came back on input %i is not the test signal as it was played (noise, hum, or more than "
          "one path): check the cable from output %i and the levels.\n",
          input, output);
      break;
    case ProbeVerdict::kFound: break;
  }
  std::puts("Nothing was changed.");
}

std::string Landing(std::int64_t late, std::uint32_t sr) {
  if (late == 0) return "on its exact frame";
  char text[96];
  const std::int64_t frames = late < 0 ? -late : late;
  std::snprintf(text, sizeof text, "%" PRId64 " frames %s (%.2f ms)", frames, late < 0 ? "early" : "late",
                Milliseconds(frames, sr));
  return text;
}

// One calibration run: the points set for the case, the signal played and the input kept.
// Returns false (and says why) when the run did not capture all it should have.
bool MeasureOnce(const RunContext& context, CalibrationLoop& loop, SamplePosition playStart, SamplePosition recordStart,
                 SamplePosition stop) {
  // The run works on a copy, so that the session's points stay as they are.
  auto settings = std::make_unique<SessionSettings>(context.settings);
  settings->i = playStart;
  settings->e = recordStart;
  settings->o = stop;
  const RunContext run{.settings = *settings,
                       .input = context.input,
                       .port = context.port,
                       .buffers = context.buffers,
                       .mixer = context.mixer,
                       .gains = context.gains,
                       .meterState = context.meterState,
                       .meterScale = context.meterScale,
                       .takes = context.takes};
  RunTransport(run, {.kind = RunKind::kCalibrate, .calibration = &loop});
  if (loop.captured.size() < static_cast<std::size_t>(stop - recordStart)) {
    std::puts("The calibration was stopped before its end.\nNothing was changed.");
    return false;
  }
  if (loop.xruns != 0) {
    std::printf(
        "The measurement was disturbed: %i xruns or device errors. Try again, with a longer period if it "
        "happens again.\nNothing was changed.\n",
        loop.xruns);
    return false;
  }
  return true;
}

}  // namespace

std::optional<LatencyCorrection> CorrectionFor(const LatencyMeasurement& measured, int odcomp, int latcomp, int period,
                                               int playBufferFrames) {
  if (period <= 0) return std::nullopt;
  // Every run that plays captures `latcomp` frames later, so the first case is put right by
  // it alone; what then remains of the second is made up in whole periods of `odcomp`.
  const std::int64_t newLatcomp = std::int64_t{latcomp} + measured.atRecordStart;
  const std::int64_t remaining = measured.beforeRecordStart - measured.atRecordStart;
  const std::int64_t periods = (remaining >= 0 ? remaining + period / 2 : remaining - period / 2) / period;
  const std::int64_t newOdcomp = std::int64_t{odcomp} + periods;
  if (newLatcomp < INT_MIN || newLatcomp > INT_MAX || newOdcomp < INT_MIN || newOdcomp > INT_MAX) return std::nullopt;
  return LatencyCorrection{.odcomp = static_cast<int>(newOdcomp),
                           .latcomp = static_cast<int>(newLatcomp),
                           .residual = remaining - periods * period,
                           .roundTrip = std::int64_t{playBufferFrames} / period * period + newLatcomp};
}

void CalibrateCommand(const RunContext& context) {
  SessionSettings& s = context.settings;
  const int period = context.port.PeriodFrames();
  std::puts(
      "\nLatency calibration: connect an output of the card to an input with a cable, and turn off any "
      "monitoring of that input.");
  if (s.outputs < 1 || s.inputs < 1 || s.sr == 0 || period <= 0) {
    std::printf("The session has %i outputs and %i inputs: calibration needs one of each.\nNothing was changed.\n",
                s.outputs, s.inputs);
    return;
  }
  const std::optional<int> output = AskChannel(context.input, "Output", "output", s.outputs);
  if (!output) return;
  const std::optional<int> input = AskChannel(context.input, "Input", "input", s.inputs);
  if (!input) return;

  // The take is long enough to find the signal however far off it lands: early by as much as
  // the settings in force can make it, late by up to half a second of the card's own.
  const ClickTrain train = MakeClickTrain(s.sr);
  const std::int64_t sr = s.sr;
  const std::int64_t blockPeriods = (4096 + period - 1) / period * period;
  const std::int64_t early =
      std::min<std::int64_t>(std::max(0, s.latcomp) + std::int64_t{std::max(0, s.odcomp)} * period, 10 * sr);
  const std::int64_t late =
      std::min<std::int64_t>(sr / 2 + std::max(0, -s.latcomp) + blockPeriods + period, 10 * sr + sr / 2);
  const std::int64_t lead = early + sr / 20;
  const std::int64_t length = lead + static_cast<std::int64_t>(train.samples.size()) + late;
  const SamplePosition recordStart = QUANTIZE_SAMPLES(period, sr / 2);
  const auto stop = static_cast<SamplePosition>(recordStart + length);

  std::printf(
      "Playing clicks at -20 dBFS on output %i and recording input %i: with the play start at the record "
      "start, then half a second before it.\n",
      *output, *input);
  LatencyMeasurement measured;
  bool inverted = false;
  for (const bool before : {false, true}) {
    CalibrationLoop loop{.output = *output - 1,
                         .input = *input - 1,
                         .signal = train.samples,
                         .signalStart = static_cast<SamplePosition>(recordStart + lead)};
    if (!MeasureOnce(context, loop, before ? 0 : recordStart, recordStart, stop)) return;
    const ProbeResult found = FindClickTrain(loop.captured, train);
    if (found.verdict != ProbeVerdict::kFound) {
      ReportNotFound(found, *output, *input);
      return;
    }
    inverted = found.inverted;
    (before ? measured.beforeRecordStart : measured.atRecordStart) = found.position - lead;
  }
  const std::optional<LatencyCorrection> correction =
      CorrectionFor(measured, s.odcomp, s.latcomp, period, context.port.PlayBufferFrames());
  if (!correction) {
    std::puts("The measured latency is beyond what the settings can hold.\nNothing was changed.");
    return;
  }
  std::printf("Round-trip latency: %" PRId64 " frames (%.2f ms at %u Hz)\n", correction->roundTrip,
              Milliseconds(correction->roundTrip, s.sr), s.sr);
  if (inverted) std::puts("The loop turns the signal upside down (its polarity is inverted).");
  std::printf("With odcomp %i and latcomp %i a take lands:\n", s.odcomp, s.latcomp);
  std::printf("  play start at the record start:      %s\n", Landing(measured.atRecordStart, s.sr).c_str());
  std::printf("  play start before the record start:  %s\n", Landing(measured.beforeRecordStart, s.sr).c_str());
  if (correction->residual != 0) {
    std::printf("The two differ by %" PRId64
                " frames more than whole periods: the card's latency does not seem "
                "steady, and a take with the play start before the record start will still land %s.\n",
                correction->residual < 0 ? -correction->residual : correction->residual,
                Landing(correction->residual, s.sr).c_str());
  }
  if (correction->odcomp == s.odcomp && correction->latcomp == s.latcomp) {
    std::puts("Nothing to correct.");
    return;
  }
  std::printf("Correction: odcomp %i, latcomp %i. Store it for this session? (y,n) ", correction->odcomp,
              correction->latcomp);
  if (context.input.ReadWord() != "y") {
    std::puts("Nothing was changed.");
    return;
  }
  s.odcomp = correction->odcomp;
  s.latcomp = correction->latcomp;
  std::printf("odcomp is now %i and latcomp %i; \"s\" saves them in param.txt.\n", s.odcomp, s.latcomp);
}

}  // namespace tapeloom
