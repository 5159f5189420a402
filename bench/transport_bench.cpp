// A recording run as the transport runs it, on a card in memory, writing real takes into a
// temporary folder: how long one second of audio takes to record with 2 and 8 inputs
// (items_per_second is seconds of audio recorded per second), and what the header update
// after every record block costs on its own, so that its share of a run can be read off.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "audio/transport_run.h"
#include "core/console_input.h"
#include "core/derived_values.h"
#include "wave/file_creation.h"
#include "wave/wave_header.h"

namespace tapeloom {
namespace {

constexpr int kPeriod = 1024;
constexpr std::uint32_t kRate = 48000;

// Capture that always has frames (a steady tone level), playback that takes everything.
class MemoryCard final : public PcmPort {
 public:
  explicit MemoryCard(int inputs) : inputs_(inputs) {}
  int PeriodFrames() const override { return kPeriod; }
  int PlayBufferFrames() const override { return 4 * kPeriod; }
  int Drain(PcmDirection) override { return 0; }
  int Prepare(PcmDirection) override { return 0; }
  snd_pcm_sframes_t AvailUpdate(PcmDirection) override { return kPeriod; }
  int Wait(PcmDirection, int) override { return 1; }
  snd_pcm_sframes_t WriteN(void**, snd_pcm_uframes_t frames) override { return static_cast<snd_pcm_sframes_t>(frames); }
  snd_pcm_sframes_t ReadN(void** channels, snd_pcm_uframes_t frames) override {
    for (int k = 0; k < inputs_; ++k) {
      auto* bytes = static_cast<unsigned char*>(channels[k]);
      for (snd_pcm_uframes_t f = 0; f < 3 * frames; ++f) bytes[f] = static_cast<unsigned char>(f * 7 + k);
    }
    return static_cast<snd_pcm_sframes_t>(frames);
  }

 private:
  int inputs_;
};

// A working folder of its own, removed afterwards.
class Folder {
 public:
  Folder() : path_(std::filesystem::temp_directory_path() / ("tapeloom-bench-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(path_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder() {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(path_);
  }

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
};

void BM_RecordRun(benchmark::State& state) {
  const int inputs = static_cast<int>(state.range(0));
  const int seconds = 10;
  Folder folder;
  std::string records;
  for (int k = 1; k <= inputs; ++k) records += "in" + std::to_string(k) + ".wav\n";
  std::FILE* list = std::fopen("record.txt", "w");
  std::fputs(records.c_str(), list);
  std::fclose(list);
  std::fclose(std::fopen("play.txt", "w"));

  auto settings = std::make_unique<SessionSettings>();
  settings->sr = kRate;
  settings->inputs = settings->ch = inputs;
  settings->outputs = 2;
  settings->clock = 0;
  settings->meter = 0;
  settings->int_ = 0;
  settings->o = seconds * static_cast<SamplePosition>(kRate);
  std::FILE* noInput = std::fopen("/dev/null", "r");
  ConsoleInput input(noInput);
  MemoryCard card(inputs);
  TransportBuffers buffers(settings->ch, settings->inputs, settings->outputs);
  MixEngine mixer;
  TrackGains gains;
  MeterState meterState;
  const MeterScale meterScale = MeterScaleAtStart(0);
  TakeState takes;
  const RunContext context{*settings, input, card, buffers, mixer, gains, meterState, meterScale, takes};

  // The run prints its titles and peaks; they go nowhere while it runs.
  std::fflush(stdout);
  const int console = ::dup(1);
  const int nowhere = ::open("/dev/null", O_WRONLY);
  ::dup2(nowhere, 1);
  for (auto _ : state) {
    RunTransport(context, {.kind = RunKind::kRecord});
    state.PauseTiming();
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
      if (entry.path().filename().string().starts_with("audio_ch_")) std::filesystem::remove(entry.path());
    }
    state.ResumeTiming();
  }
  std::fflush(stdout);
  ::dup2(console, 1);
  ::close(console);
  ::close(nowhere);
  std::fclose(noInput);
  state.SetItemsProcessed(state.iterations() * seconds);
}
BENCHMARK(BM_RecordRun)->Arg(2)->Arg(8)->Unit(benchmark::kMillisecond);

// One header update of one take: its 44 bytes written anew.
void BM_TakeHeaderUpdate(benchmark::State& state) {
  Folder folder;
  FileStatus status;
  TemporaryFile take = TemporaryFile::Create({}, "take.wav", status);
  std::int64_t frames = 0;
  for (auto _ : state) {
    frames += 4096;
    benchmark::DoNotOptimize(WriteWaveHeader(take.file(), kRate, 24, frames, 1).ok());
  }
}
BENCHMARK(BM_TakeHeaderUpdate);

}  // namespace
}  // namespace tapeloom
