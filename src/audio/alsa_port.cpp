#include "audio/alsa_port.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "audio/card_grant.h"
#include "core/program_end.h"

namespace tapeloom {
namespace {

// The hardware-parameter calls of one direction, on its handle and parameter block.
class AlsaCardParameters final : public CardParameters {
 public:
  AlsaCardParameters(snd_pcm_t* pcm, snd_pcm_hw_params_t* params) : pcm_(pcm), params_(params) {}

  int Any() override { return snd_pcm_hw_params_any(pcm_, params_); }
  int SetAccess(snd_pcm_access_t access) override { return snd_pcm_hw_params_set_access(pcm_, params_, access); }
  int SetFormat(snd_pcm_format_t format) override { return snd_pcm_hw_params_set_format(pcm_, params_, format); }
  int SetChannels(unsigned channels) override { return snd_pcm_hw_params_set_channels(pcm_, params_, channels); }
  // The rate is asked for with no direction argument.
  int SetRateNear(unsigned& rate) override { return snd_pcm_hw_params_set_rate_near(pcm_, params_, &rate, nullptr); }
  int SetPeriodSizeNear(snd_pcm_uframes_t& frames) override {
    return snd_pcm_hw_params_set_period_size_near(pcm_, params_, &frames, nullptr);
  }
  int SetBufferSizeNear(snd_pcm_uframes_t& frames) override {
    return snd_pcm_hw_params_set_buffer_size_near(pcm_, params_, &frames);
  }
  int Install() override { return snd_pcm_hw_params(pcm_, params_); }
  int GetAccess(snd_pcm_access_t& access) override { return snd_pcm_hw_params_get_access(params_, &access); }
  int GetFormat(snd_pcm_format_t& format) override { return snd_pcm_hw_params_get_format(params_, &format); }
  int GetChannels(unsigned& channels) override { return snd_pcm_hw_params_get_channels(params_, &channels); }
  int GetRate(unsigned& rate) override { return snd_pcm_hw_params_get_rate(params_, &rate, nullptr); }
  int GetPeriodSize(snd_pcm_uframes_t& frames) override {
    return snd_pcm_hw_params_get_period_size(params_, &frames, nullptr);
  }
  int GetBufferSize(snd_pcm_uframes_t& frames) override { return snd_pcm_hw_params_get_buffer_size(params_, &frames); }

 private:
  snd_pcm_t* pcm_;
  snd_pcm_hw_params_t* params_;
};

// The "Buffer" column holds the period size and "Periods" the number of periods in the buffer.
int PeriodsPerBuffer(const CardGrant& g) { return g.period == 0 ? 0 : static_cast<int>(g.buffer / g.period); }

// Each direction words these failures in its own way; they go to standard error, followed by
// ": " and the driver's reason.
struct DirectionTexts {
  const char* openFailed;
  const char* noParameterBlock;
};

constexpr DirectionTexts kPlaybackTexts = {"Playback device could not be opened",
                                           "Problem setting playback parameters"};
constexpr DirectionTexts kCaptureTexts = {"unable to open pcm record device", "Problem setting recording format"};

[[noreturn]] void Fail(const char* text, int err) {
  std::fprintf(stderr, "%s: %s\n", text, snd_strerror(err));
  EndProgram(kExitDeviceFailure);
}

// One direction opened and its parameters asked for (SetUpDirection). A call refused before
// the parameters are installed ends the program here; the result of installing them, and what
// the card granted that the session cannot use, are left to the caller.
struct OpenedDirection {
  PcmHandle pcm;
  DirectionSetUp setUp;
};

OpenedDirection OpenDirection(const DirectionAsk& ask, const DirectionTexts& texts) {
  const std::string name(ask.device);
  const snd_pcm_stream_t stream =
      ask.direction == PcmDirection::Playback ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE;
  OpenedDirection opened;
  snd_pcm_t* pcm = nullptr;
  if (const int err = snd_pcm_open(&pcm, name.c_str(), stream, 0); err < 0) Fail(texts.openFailed, err);
  opened.pcm.reset(pcm);

  HwParams params = AllocateHwParams();
  if (!params) Fail(texts.noParameterBlock, -ENOMEM);
  AlsaCardParameters card(pcm, params.get());
  opened.setUp = SetUpDirection(card, ask);
  if (!opened.setUp.refused.empty()) {
    std::fputs(opened.setUp.refused.c_str(), stderr);
    EndProgram(kExitDeviceFailure);
  }
  return opened;
}

// Sets the playback's start threshold to the whole buffer.
int StartWhenFull(snd_pcm_t* pcm, snd_pcm_uframes_t buffer) {
  snd_pcm_sw_params_t* raw = nullptr;
  if (const int err = snd_pcm_sw_params_malloc(&raw); err < 0) return err;
  const std::unique_ptr<snd_pcm_sw_params_t, decltype(&snd_pcm_sw_params_free)> params(raw, &snd_pcm_sw_params_free);
  if (const int err = snd_pcm_sw_params_current(pcm, params.get()); err < 0) return err;
  if (const int err = snd_pcm_sw_params_set_start_threshold(pcm, params.get(), buffer); err < 0) return err;
  return snd_pcm_sw_params(pcm, params.get());
}

}  // namespace

int ClampPeriodRequest(int buf) {
  if (buf < kMinPeriodFrames) return kMinPeriodFrames;
  if (buf >= kMaxPeriodFrames) return kMaxPeriodFrames;
  return buf;
}

std::unique_ptr<AlsaPcmPort> AlsaPcmPort::Open(const DeviceRequest& request) {
  auto port = std::make_unique<AlsaPcmPort>(Key{});
  const auto bufferRequest = static_cast<snd_pcm_uframes_t>(4 * request.period);
  const auto channels = [](int count) { return static_cast<unsigned>(std::max(count, 0)); };

  OpenedDirection play = OpenDirection({.device = request.name,
                                        .direction = PcmDirection::Playback,
                                        .channels = channels(request.outputs),
                                        .rate = request.rate,
                                        .period = static_cast<snd_pcm_uframes_t>(request.period),
                                        .buffer = bufferRequest},
                                       kPlaybackTexts);
  const CardGrant& played = play.setUp.granted;
  if (play.setUp.installResult < 0) Fail("Problem setting playback parameters", play.setUp.installResult);
  if (played.period != static_cast<snd_pcm_uframes_t>(request.period)) {
    std::puts("Driver did not return requested period size.");
  }
  // After an underrun, playback starts again only with its buffer full, so that the run has
  // its whole margin back at once instead of running on the edge of the next underrun.
  if (const int err = StartWhenFull(play.pcm.get(), played.buffer); err < 0) {
    std::printf(
        "The card does not take a start threshold (%s): after an underrun, playback restarts with less "
        "than its whole buffer.\n",
        snd_strerror(err));
  }
  port->play_ = std::move(play.pcm);
  port->rate_ = request.rate;
  port->periodFrames_ = static_cast<int>(played.period);
  port->playBufferFrames_ = static_cast<int>(played.buffer);

  // Capture asks for the period that playback was granted: both run in step.
  OpenedDirection rec = OpenDirection({.device = request.name,
                                       .direction = PcmDirection::Capture,
                                       .channels = channels(request.inputs),
                                       .rate = request.rate,
                                       .period = played.period,
                                       .buffer = bufferRequest},
                                      kCaptureTexts);
  const CardGrant& recorded = rec.setUp.granted;
  port->rec_ = std::move(rec.pcm);
  port->captureBufferFrames_ = static_cast<int>(recorded.buffer);

  std::puts("\nReturned Driver Parameters:");
  std::puts("\tBuffer\tPeriods\tRate\tChannels");
  std::printf("Play\t%i\t%i\t%i\t%i\n", static_cast<int>(played.period), PeriodsPerBuffer(played),
              static_cast<int>(played.rate), static_cast<int>(played.channels));
  std::printf("Record\t%i\t%i\t%i\t%i\n", static_cast<int>(recorded.period), PeriodsPerBuffer(recorded),
              static_cast<int>(recorded.rate), static_cast<int>(recorded.channels));
  std::puts("-----------------------------------------\n");

  // Failures found once both directions were installed come after the report, which shows what
  // the card granted. The capture's failed install is reported on standard output, as always.
  const bool captureFailed = rec.setUp.installResult < 0;
  if (captureFailed) {
    std::fprintf(stdout, "Could not set record hardware parameters: %s\n", snd_strerror(rec.setUp.installResult));
  }
  const std::string unusable = play.setUp.unusable + rec.setUp.unusable;
  if (!unusable.empty()) {
    std::fflush(stdout);  // the report first, also where both streams go to one file
    std::fputs(unusable.c_str(), stderr);
  }
  if (captureFailed || !unusable.empty()) EndProgram(kExitDeviceFailure);
  return port;
}

void AlsaPcmPort::Close() {
  if (play_) Drain(PcmDirection::Playback);
  if (rec_) Drain(PcmDirection::Capture);
  play_.reset();
  rec_.reset();
}

}  // namespace tapeloom
