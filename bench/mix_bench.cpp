// Throughput of the mix engine on full blocks: mode 1 (Mix) and the bus modes 2 and 3
// (MixMultiple) with 16, 64 and 256 playing tracks. The figure that matters is
// items_per_second: track samples mixed per second (tracks × 4096 per block). Divided by
// the sample rate it is the number of tracks one core could mix in real time with nothing
// else to do.
//
// Two references run beside the engine on the same block: the plain loop a first version
// would be (each sample decoded byte by byte, multiplied by its integer gains and summed in 64
// bits, each output scaled, limited and packed; compiled at -O2 without vectorisation, as a
// packager's build of such code runs), and memcpy of the block's bytes (the cost of touching
// the input at all).
//
// The mix overwrites its output regions, which then feed the next iteration as track
// input. They still hold valid samples and the mixer has no data-dependent branches, so
// the timing is the same as for fresh audio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "mix/busses.h"
#include "mix/gains.h"
#include "mix/mix_block.h"
#include "mix/mix_engine.h"

namespace tapeloom {
namespace {

// A session of `tracks` tracks with spread volumes and pans, every track playing, and a
// block of random samples over the whole 24-bit range.
struct BenchSession {
  explicit BenchSession(int tracks) : block(static_cast<std::size_t>(tracks) * kMixRegionBytes) {
    std::mt19937 random(20240611u);
    std::uniform_int_distribution<int> byte(0, 255);
    for (unsigned char& b : block) b = static_cast<unsigned char>(byte(random));
    for (std::size_t t = 0; t < static_cast<std::size_t>(tracks); ++t) {
      play[t] = 1;
      v[t] = -static_cast<float>(t % 13);
      p[t] = static_cast<float>(static_cast<int>(t % 9) * 25 - 100);
    }
    SetVolume(p, v, gainL, gainR, tracks, play, kTrackGainScale);
    for (int b = 0; b < kMaxBusses; ++b) SetBusVolume(busGain, -static_cast<float>(b % 7), b, kBusGainDivisor);
  }

  // Busses 0..busses-1 in use; track t feeds bus t % busses, and every fourth track also
  // the next bus, so that some tracks are mixed into two busses.
  void RouteToBusses(int tracks, int busses) {
    for (int t = 0; t < tracks; ++t) {
      const auto track = static_cast<std::size_t>(t);
      busAssign[static_cast<std::size_t>(t % busses)][track] = 1;
      if (t % 4 == 0) busAssign[static_cast<std::size_t>((t + 1) % busses)][track] = 1;
    }
    for (int b = 0; b < busses; ++b) busActive[static_cast<std::size_t>(b)] = 1;
  }

  std::vector<unsigned char> block;
  std::array<int, kMaxTracks> play{};
  std::array<float, kMaxTracks> v{};
  std::array<float, kMaxTracks> p{};
  std::array<float, kMaxTracks> gainL{};
  std::array<float, kMaxTracks> gainR{};
  std::array<float, kMaxBusses> busGain{};
  std::array<int, kMaxBusses> busActive{};
  BusAssignTable busAssign{};
};

void SetTrackSamples(benchmark::State& state, int tracks) {
  state.SetItemsProcessed(state.iterations() * tracks * kMixBlockFrames);
}

void BM_Mix(benchmark::State& state) {
  const auto tracks = static_cast<int>(state.range(0));
  BenchSession session(tracks);
  MixEngine engine;
  MixPeaks peaks;
  for (auto _ : state) {
    engine.Mix(session.block, tracks, session.play, session.gainL, session.gainR, peaks, session.busGain[0]);
    benchmark::DoNotOptimize(session.block.data());
    benchmark::ClobberMemory();
  }
  SetTrackSamples(state, tracks);
}

// Mode 2: busCount busses, one per output pair; here half as many pairs as tracks, at
// most 16 (32 outputs).
void BM_MixMultipleBusses(benchmark::State& state) {
  const auto tracks = static_cast<int>(state.range(0));
  const int busses = std::min(16, tracks / 2);
  BenchSession session(tracks);
  session.RouteToBusses(tracks, busses);
  MixEngine engine;
  MixPeaks peaks;
  for (auto _ : state) {
    engine.MixMultiple(session.block, tracks, session.play, session.gainL, session.gainR, peaks, session.busActive,
                       session.busAssign, busses, session.busGain, MixMode::kBusPairs);
    benchmark::DoNotOptimize(session.block.data());
    benchmark::ClobberMemory();
  }
  SetTrackSamples(state, tracks);
}

// Mode 3: the bus count is tracks / 2, as a run uses; busses 2 to 16 (at most) feed bus 1,
// which also takes tracks of its own.
void BM_MixMultipleMaster(benchmark::State& state) {
  const auto tracks = static_cast<int>(state.range(0));
  BenchSession session(tracks);
  session.RouteToBusses(tracks, std::min(16, tracks / 2));
  MixEngine engine;
  MixPeaks peaks;
  for (auto _ : state) {
    engine.MixMultiple(session.block, tracks, session.play, session.gainL, session.gainR, peaks, session.busActive,
                       session.busAssign, tracks / 2, session.busGain, MixMode::kMaster);
    benchmark::DoNotOptimize(session.block.data());
    benchmark::ClobberMemory();
  }
  SetTrackSamples(state, tracks);
}

// Mode 1 as plain code: 64-bit sums of sample × integer gain per frame over the tracks,
// then each side scaled by the master gain, limited and packed.
[[gnu::optimize("O2", "no-tree-vectorize")]] void PlainMix(std::vector<unsigned char>& block, int tracks,
                                                           const std::array<float, kMaxTracks>& gainL,
                                                           const std::array<float, kMaxTracks>& gainR, float master,
                                                           std::array<std::int64_t, 2>& peaks) {
  std::array<std::array<std::int64_t, kMixBlockFrames>, 2> sums{};
  for (int t = 0; t < tracks; ++t) {
    const unsigned char* row = block.data() + static_cast<std::size_t>(t) * kMixRegionBytes;
    const auto l = static_cast<std::int64_t>(gainL[static_cast<std::size_t>(t)]);
    const auto r = static_cast<std::int64_t>(gainR[static_cast<std::size_t>(t)]);
    for (std::size_t i = 0; i < kMixBlockFrames; ++i) {
      const std::int32_t sample =
          row[3 * i] | row[3 * i + 1] << 8 | static_cast<std::int32_t>(static_cast<std::int8_t>(row[3 * i + 2])) << 16;
      sums[0][i] += sample * l;
      sums[1][i] += sample * r;
    }
  }
  for (std::size_t side = 0; side < 2; ++side) {
    unsigned char* out = block.data() + side * kMixRegionBytes;
    for (std::size_t i = 0; i < kMixBlockFrames; ++i) {
      const float scaled = static_cast<float>(sums[side][i]) * master;
      const auto v = static_cast<std::int64_t>(scaled);
      peaks[side] = std::max(peaks[side], v < 0 ? -v : v);
      const auto packed = static_cast<std::int32_t>(std::clamp<std::int64_t>(v, -8388608, 8388607));
      out[3 * i] = static_cast<unsigned char>(packed);
      out[3 * i + 1] = static_cast<unsigned char>(packed >> 8);
      out[3 * i + 2] = static_cast<unsigned char>(packed >> 16);
    }
  }
}

void BM_PlainLoopMix(benchmark::State& state) {
  const auto tracks = static_cast<int>(state.range(0));
  BenchSession session(tracks);
  std::array<std::int64_t, 2> peaks{};
  for (auto _ : state) {
    PlainMix(session.block, tracks, session.gainL, session.gainR, session.busGain[0], peaks);
    benchmark::DoNotOptimize(session.block.data());
    benchmark::ClobberMemory();
  }
  SetTrackSamples(state, tracks);
}

void BM_MemcpyOfTheBlock(benchmark::State& state) {
  const auto tracks = static_cast<int>(state.range(0));
  BenchSession session(tracks);
  std::vector<unsigned char> copy(session.block.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), session.block.data(), copy.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  SetTrackSamples(state, tracks);
}

BENCHMARK(BM_Mix)->Arg(16)->Arg(64)->Arg(256);
BENCHMARK(BM_PlainLoopMix)->Arg(16)->Arg(64)->Arg(256);
BENCHMARK(BM_MemcpyOfTheBlock)->Arg(16)->Arg(64)->Arg(256);
BENCHMARK(BM_MixMultipleBusses)->Arg(16)->Arg(64)->Arg(256);
BENCHMARK(BM_MixMultipleMaster)->Arg(16)->Arg(64)->Arg(256);

}  // namespace
}  // namespace tapeloom
