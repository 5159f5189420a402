#include "audio/alsa_port.h"

#include <cerrno>
#include <cstdio>

#include "app/program_end.h"

namespace tapeloom {
namespace {

// What the driver granted for one direction; only shown in the report.
struct Granted {
  snd_pcm_uframes_t period = 0;
  snd_pcm_uframes_t buffer = 0;
  unsigned channels = 0;
  unsigned rate = 0;
};

Granted ReadGranted(const snd_pcm_hw_params_t* params) {
  Granted granted;
  snd_pcm_hw_params_get_period_size(params, &granted.period, nullptr);
  snd_pcm_hw_params_get_buffer_size(params, &granted.buffer);
  snd_pcm_hw_params_get_channels(params, &granted.channels);
  snd_pcm_hw_params_get_rate(params, &granted.rate, nullptr);
  return granted;
}

// The "Buffer" column holds the period size and "Periods" the number of periods in the buffer.
int PeriodsPerBuffer(const Granted& g) { return g.period == 0 ? 0 : static_cast<int>(g.buffer / g.period); }

// Each direction words its failures in its own way; all go to standard error, followed by ": "
// and the driver's reason.
struct DirectionTexts {
  const char* openFailed;
  const char* noParameterBlock;
  const char* formatRefused;
};

constexpr DirectionTexts kPlaybackTexts = {"Playback device could not be opened", "Problem setting playback parameters",
                                           "Problem setting playback format"};
constexpr DirectionTexts kCaptureTexts = {"unable to open pcm record device", "Problem setting recording format",
                                          "Problem setting recording format"};

[[noreturn]] void Fail(const char* text, int err) {
  std::fprintf(stderr, "%s: %s\n", text, snd_strerror(err));
  EndProgram(kExitDeviceFailure);
}

// One direction opened and its parameters asked for: access, format, then channels, rate,
// period and buffer with the "near" calls. The driver may grant other values, which are read
// back afterwards; the result of installing the parameters is left to the caller.
struct OpenedDirection {
  PcmHandle pcm;
  int paramsResult = 0;
  Granted granted;
};

OpenedDirection OpenDirection(const std::string& name, snd_pcm_stream_t stream, const DirectionTexts& texts,
                              int channels, unsigned rate, int period, int buffer) {
  OpenedDirection opened;
  snd_pcm_t* pcm = nullptr;
  if (const int err = snd_pcm_open(&pcm, name.c_str(), stream, 0); err < 0) Fail(texts.openFailed, err);
  opened.pcm.reset(pcm);

  HwParams params = AllocateHwParams();
  if (!params) Fail(texts.noParameterBlock, -ENOMEM);
  snd_pcm_hw_params_any(pcm, params.get());
  snd_pcm_hw_params_set_access(pcm, params.get(), SND_PCM_ACCESS_RW_NONINTERLEAVED);
  if (const int err = snd_pcm_hw_params_set_format(pcm, params.get(), SND_PCM_FORMAT_S24_3LE); err < 0) {
    Fail(texts.formatRefused, err);
  }
  snd_pcm_hw_params_set_channels(pcm, params.get(), static_cast<unsigned>(channels));
  snd_pcm_hw_params_set_rate_near(pcm, params.get(), &rate, nullptr);
  auto periodFrames = static_cast<snd_pcm_uframes_t>(period);
  snd_pcm_hw_params_set_period_size_near(pcm, params.get(), &periodFrames, nullptr);
  auto bufferFrames = static_cast<snd_pcm_uframes_t>(buffer);
  snd_pcm_hw_params_set_buffer_size_near(pcm, params.get(), &bufferFrames);
  opened.paramsResult = snd_pcm_hw_params(pcm, params.get());
  opened.granted = ReadGranted(params.get());
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
  const int bufferRequest = 4 * request.period;

  OpenedDirection play = OpenDirection(request.name, SND_PCM_STREAM_PLAYBACK, kPlaybackTexts, request.outputs,
                                       request.rate, request.period, bufferRequest);
  if (play.paramsResult < 0) Fail("Problem setting playback parameters", play.paramsResult);
  if (play.granted.period != static_cast<snd_pcm_uframes_t>(request.period)) {
    std::puts("Driver did not return requested period size.");
  }
  // After an underrun, playback starts again only with its buffer full, so that the run has
  // its whole margin back at once instead of running on the edge of the next underrun.
  if (const int err = StartWhenFull(play.pcm.get(), play.granted.buffer); err < 0) {
    std::printf(
        "The card does not take a start threshold (%s): after an underrun, playback restarts with less "
        "than its whole buffer.\n",
        snd_strerror(err));
  }
  port->play_ = std::move(play.pcm);
  port->periodFrames_ = static_cast<int>(play.granted.period);
  port->playBufferFrames_ = static_cast<int>(play.granted.buffer);

  // Capture asks for the period that playback was granted: both run in step.
  OpenedDirection rec = OpenDirection(request.name, SND_PCM_STREAM_CAPTURE, kCaptureTexts, request.inputs, request.rate,
                                      port->periodFrames_, bufferRequest);
  port->rec_ = std::move(rec.pcm);
  port->captureBufferFrames_ = static_cast<int>(rec.granted.buffer);

  std::puts("\nReturned Driver Parameters:");
  std::puts("\tBuffer\tPeriods\tRate\tChannels");
  std::printf("Play\t%i\t%i\t%i\t%i\n", static_cast<int>(play.granted.period), PeriodsPerBuffer(play.granted),
              static_cast<int>(play.granted.rate), static_cast<int>(play.granted.channels));
  std::printf("Record\t%i\t%i\t%i\t%i\n", static_cast<int>(rec.granted.period), PeriodsPerBuffer(rec.granted),
              static_cast<int>(rec.granted.rate), static_cast<int>(rec.granted.channels));
  std::puts("-----------------------------------------\n");

  // The one set-up failure that is reported after the report, on standard output.
  if (rec.paramsResult < 0) {
    std::fprintf(stdout, "Could not set record hardware parameters: %s\n", snd_strerror(rec.paramsResult));
    EndProgram(kExitDeviceFailure);
  }
  return port;
}

void AlsaPcmPort::Close() {
  if (play_) snd_pcm_drain(play_.get());
  if (rec_) snd_pcm_drain(rec_.get());
  play_.reset();
  rec_.reset();
}

}  // namespace tapeloom
