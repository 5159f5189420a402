#include "audio/device_setup.h"

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

// Channels, rate, period and buffer, each asked for with the "near" calls; the driver may
// grant other values, which are read back afterwards.
void RequestShape(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, int channels, unsigned rate, int period, int buffer) {
  snd_pcm_hw_params_set_channels(pcm, params, static_cast<unsigned>(channels));
  snd_pcm_hw_params_set_rate_near(pcm, params, &rate, nullptr);
  snd_pcm_uframes_t periodFrames = static_cast<snd_pcm_uframes_t>(period);
  snd_pcm_hw_params_set_period_size_near(pcm, params, &periodFrames, nullptr);
  snd_pcm_uframes_t bufferFrames = static_cast<snd_pcm_uframes_t>(buffer);
  snd_pcm_hw_params_set_buffer_size_near(pcm, params, &bufferFrames);
}

}  // namespace

int ClampPeriodRequest(int buf) {
  if (buf < kMinPeriodFrames) return kMinPeriodFrames;
  if (buf >= kMaxPeriodFrames) return kMaxPeriodFrames;
  return buf;
}

AudioDevices SetUpAudioDevices(const DeviceRequest& request) {
  AudioDevices devices;
  const int bufferRequest = 4 * request.period;

  snd_pcm_t* pcm = nullptr;
  int err = snd_pcm_open(&pcm, request.name.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
  if (err < 0) {
    std::fprintf(stderr, "Playback device could not be opened: %s\n", snd_strerror(err));
    EndProgram(kExitDeviceFailure);
  }
  devices.play.reset(pcm);

  HwParams playParams = AllocateHwParams();
  if (!playParams) {
    std::fprintf(stderr, "Problem setting playback parameters: %s\n", snd_strerror(-ENOMEM));
    EndProgram(kExitDeviceFailure);
  }
  snd_pcm_hw_params_any(devices.play.get(), playParams.get());
  snd_pcm_hw_params_set_access(devices.play.get(), playParams.get(), SND_PCM_ACCESS_RW_NONINTERLEAVED);
  err = snd_pcm_hw_params_set_format(devices.play.get(), playParams.get(), SND_PCM_FORMAT_S24_3LE);
  if (err < 0) {
    std::fprintf(stderr, "Problem setting playback format: %s\n", snd_strerror(err));
    EndProgram(kExitDeviceFailure);
  }
  RequestShape(devices.play.get(), playParams.get(), request.outputs, request.rate, request.period, bufferRequest);
  err = snd_pcm_hw_params(devices.play.get(), playParams.get());
  if (err < 0) {
    std::fprintf(stderr, "Problem setting playback parameters: %s\n", snd_strerror(err));
    EndProgram(kExitDeviceFailure);
  }

  const Granted play = ReadGranted(playParams.get());
  if (play.period != static_cast<snd_pcm_uframes_t>(request.period)) {
    std::puts("Driver did not return requested period size.");
  }
  devices.periodFrames = static_cast<int>(play.period);
  devices.playBufferFrames = static_cast<int>(play.buffer);

  err = snd_pcm_open(&pcm, request.name.c_str(), SND_PCM_STREAM_CAPTURE, 0);
  if (err < 0) {
    std::fprintf(stderr, "unable to open pcm record device: %s\n", snd_strerror(err));
    EndProgram(kExitDeviceFailure);
  }
  devices.rec.reset(pcm);

  HwParams recParams = AllocateHwParams();
  if (!recParams) {
    std::fprintf(stderr, "Problem setting recording format: %s\n", snd_strerror(-ENOMEM));
    EndProgram(kExitDeviceFailure);
  }
  snd_pcm_hw_params_any(devices.rec.get(), recParams.get());
  snd_pcm_hw_params_set_access(devices.rec.get(), recParams.get(), SND_PCM_ACCESS_RW_NONINTERLEAVED);
  err = snd_pcm_hw_params_set_format(devices.rec.get(), recParams.get(), SND_PCM_FORMAT_S24_3LE);
  if (err < 0) {
    std::fprintf(stderr, "Problem setting recording format: %s\n", snd_strerror(err));
    EndProgram(kExitDeviceFailure);
  }
  RequestShape(devices.rec.get(), recParams.get(), request.inputs, request.rate, devices.periodFrames, bufferRequest);
  const int recResult = snd_pcm_hw_params(devices.rec.get(), recParams.get());

  const Granted rec = ReadGranted(recParams.get());
  std::puts("\nReturned Driver Parameters:");
  std::puts("\tBuffer\tPeriods\tRate\tChannels");
  std::printf("Play\t%i\t%i\t%i\t%i\n", static_cast<int>(play.period), PeriodsPerBuffer(play),
              static_cast<int>(play.rate), static_cast<int>(play.channels));
  std::printf("Record\t%i\t%i\t%i\t%i\n", static_cast<int>(rec.period), PeriodsPerBuffer(rec),
              static_cast<int>(rec.rate), static_cast<int>(rec.channels));
  std::puts("-----------------------------------------\n");

  if (recResult < 0) {
    std::fprintf(stdout, "Could not set record hardware parameters: %s\n", snd_strerror(recResult));
    EndProgram(kExitDeviceFailure);
  }
  return devices;
}

void CloseAudioDevices(AudioDevices& devices) {
  if (devices.play) snd_pcm_drain(devices.play.get());
  if (devices.rec) snd_pcm_drain(devices.rec.get());
  devices.play.reset();
  devices.rec.reset();
}

}  // namespace tapeloom
