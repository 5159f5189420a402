#include "mix/gains.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>

namespace tapeloom {
namespace {

constexpr float kMaxVolume = 12.0f;
constexpr float kMinVolume = -144.0f;
constexpr float kPanExtreme = 100.0f;
constexpr float kCentreGain = 0.70794576f;  // -3 dB, 10^(-3/20) in single precision

struct PanFactors {
  float left;
  float right;
};

// The pan law in single precision, with the near side's power in double. A pan that is
// not a number counts as the centre.
PanFactors PanLaw(float pan) {
  const float a = std::fabs(pan);
  const float farSide = (100.0f - a) * kCentreGain / 100.0f;
  const float nearExponent = (3.0f * a / 100.0f) / 20.0f;
  const auto nearSide = static_cast<float>(std::pow(10.0, static_cast<double>(nearExponent)) * kCentreGain);
  if (pan > 0.0f) return {farSide, nearSide};
  if (pan < 0.0f) return {nearSide, farSide};
  return {kCentreGain, kCentreGain};
}

void ClampVolume(float& volume, int channel) {
  if (volume > kMaxVolume) {
    std::printf("Volume of channel %i is too high.\n", channel);
    std::puts("It has been reset to 12 dB, the maximum.");
    volume = kMaxVolume;
  } else if (volume < kMinVolume) {
    std::printf("Volume of channel %i is too low.\n", channel);
    std::puts("It has been reset to -144 dB, the minimum.");
    volume = kMinVolume;
  }
}

void ClampPan(float& pan, int channel) {
  if (pan > kPanExtreme) {
    std::printf("Pan of channel %i is too extreme.\n", channel);
    std::puts("It has been reset to 100, fully right");
    pan = kPanExtreme;
  } else if (pan < -kPanExtreme) {
    std::printf("Pan of channel %i is too extreme.\n", channel);
    std::puts("It has been reset to -100, fully left");
    pan = -kPanExtreme;
  }
}

}  // namespace

float dBtoRatio(float dB, float x) {
  return static_cast<float>(static_cast<double>(x) * std::pow(10.0, static_cast<double>(dB / 20.0f)));
}

void SetVolume(std::span<float, kMaxTracks> p, std::span<float, kMaxTracks> v, std::span<float, kMaxTracks> gainL,
               std::span<float, kMaxTracks> gainR, int n, std::span<const int, kMaxTracks> playFlags, float scale) {
  const auto count = static_cast<std::size_t>(n < 0 ? 0 : (n > kMaxTracks ? kMaxTracks : n));
  for (std::size_t k = 0; k < count; ++k) {
    const int channel = static_cast<int>(k) + 1;
    ClampVolume(v[k], channel);
    ClampPan(p[k], channel);
  }
  for (std::size_t k = 0; k < count; ++k) {
    if (playFlags[k] != 1) continue;
    const PanFactors pan = PanLaw(p[k]);
    const float level = dBtoRatio(v[k], scale);
    gainL[k] = level * pan.left;
    gainR[k] = level * pan.right;
  }
}

int SetBusVolume(std::span<float, kMaxBusses> busGain, float dB, int bus, int divisor) {
  if (bus < 0 || bus >= kMaxBusses || !(dB >= kMinBusLevel && dB <= kMaxBusLevel) || divisor < 1) return 0;
  busGain[static_cast<std::size_t>(bus)] =
      static_cast<float>(std::pow(10.0, static_cast<double>(dB / 20.0f)) / static_cast<double>(divisor));
  return 1;
}

void SetSessionBusGains(SessionSettings& settings) {
  for (int bus = 0; bus < kMaxBusses; ++bus) {
    // A stored level beyond the limits (the mixer console stores -200 as typed) gets the gain
    // of the nearest limit: the default gain of 1.0 would be 48 dB above 0 dB. A level that is
    // no number keeps the default.
    const float level = settings.busvl[static_cast<std::size_t>(bus)];
    if (std::isnan(level)) continue;
    SetBusVolume(settings.busGain, std::clamp(level, kMinBusLevel, kMaxBusLevel), bus, kBusGainDivisor);
  }
}

}  // namespace tapeloom
