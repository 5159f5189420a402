// Track gains (volume and pan) and bus gains: the linear factors the mixer applies, derived
// from the levels in dB that the user sets.
#pragma once

#include <array>
#include <span>

#include "core/session_settings.h"

namespace tapeloom {

// Track gains are linear gains × 256, so that their integer part keeps eight bits below
// unity; bus gains divide by 256 again.
inline constexpr float kTrackGainScale = 256.0f;
inline constexpr int kBusGainDivisor = 256;

// The bus levels a gain is made from, dB.
inline constexpr float kMaxBusLevel = 15.0f;
inline constexpr float kMinBusLevel = -144.0f;

// The left and right gain of every track. A session keeps them between runs: a track that does
// not play in a run keeps the gains it had.
struct TrackGains {
  std::array<float, kMaxTracks> left{};
  std::array<float, kMaxTracks> right{};
};

// x × 10^(dB / 20): the power in double precision, the result rounded to single.
float dBtoRatio(float dB, float x);

// Clamps v[k] to -144..12 dB and p[k] to -100..100 for tracks k = 0..n-1, printing what was
// reset, then sets gainL[k] and gainR[k] for every track whose play flag is 1 (the others
// keep their gains): scale × 10^(v / 20) times the pan law's left and right factors. The
// pan law keeps both sides at -3 dB at the centre; towards a side the near side rises to
// 0 dB, linear in dB, and the far side falls linearly in amplitude to silence.
void SetVolume(std::span<float, kMaxTracks> p, std::span<float, kMaxTracks> v, std::span<float, kMaxTracks> gainL,
               std::span<float, kMaxTracks> gainR, int n, std::span<const int, kMaxTracks> playFlags, float scale);

// Sets busGain[bus] = 10^(dB / 20) / divisor and returns 1 when bus is 0..63, dB lies in
// -144..15 and the divisor is positive; otherwise returns 0 and changes nothing.
int SetBusVolume(std::span<float, kMaxBusses> busGain, float dB, int bus, int divisor);

// At session start: every bus gets its gain from its stored level busvl, limited to -144..15
// dB (a level beyond a limit gets the limit's gain).
void SetSessionBusGains(SessionSettings& settings);

}  // namespace tapeloom
