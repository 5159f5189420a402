// Track gains from volume and pan, their clamps and messages, bus gains and bus activity.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "mix/busses.h"
#include "mix/gains.h"

namespace tapeloom {
namespace {

constexpr float kCentre = 256.0f * 0.70794576f;  // -3 dB at 256, 181.23

struct Tracks {
  std::array<float, kMaxTracks> v{}, p{}, gainL{}, gainR{};
  std::array<int, kMaxTracks> play{};

  // Sets volume and pan of track 1 and computes its gains.
  void Gains(float volume, float pan) {
    v[0] = volume;
    p[0] = pan;
    play[0] = 1;
    SetVolume(p, v, gainL, gainR, 1, play, kTrackGainScale);
  }
};

TEST(PanLaw, NearSideRisesLinearInDecibelsFarSideFallsLinearInAmplitude) {
  Tracks t;
  t.Gains(0, 0);
  EXPECT_FLOAT_EQ(t.gainL[0], kCentre);
  EXPECT_FLOAT_EQ(t.gainR[0], kCentre);
  for (const float pan : {1.0f, 25.0f, 50.0f, 99.0f, 100.0f}) {
    Tracks right;
    right.Gains(0, pan);
    EXPECT_NEAR(20.0 * std::log10(right.gainR[0] / kCentre), 3.0 * pan / 100.0, 1e-5) << pan;
    EXPECT_NEAR(right.gainL[0], kCentre * (100.0f - pan) / 100.0f, 1e-4f) << pan;
    Tracks left;
    left.Gains(0, -pan);
    EXPECT_EQ(left.gainL[0], right.gainR[0]) << "mirror image at " << pan;
    EXPECT_EQ(left.gainR[0], right.gainL[0]) << pan;
  }
  t.Gains(0, 100);  // fully right: 0 dB, 256 × 1.0, on the right and silence on the left
  EXPECT_EQ(t.gainL[0], 0.0f);
  EXPECT_NEAR(t.gainR[0], 256.0f, 1e-3f);
}

TEST(TrackGains, VolumeScalesBothSides) {
  Tracks t;
  t.Gains(6, 0);
  EXPECT_NEAR(t.gainL[0], 361.61f, 0.01f);
  t.Gains(12, 0);
  EXPECT_NEAR(t.gainR[0], 721.51f, 0.01f);
  t.Gains(-144, 0);  // 181.23 × 10^-7.2: a track at the minimum is silent once truncated
  EXPECT_NEAR(t.gainL[0], 1.1435e-5f, 1e-8f);
}

TEST(TrackGains, ClampsPrintWhatWasReset) {
  Tracks t;
  t.v[0] = -200;
  t.p[0] = 150;
  t.v[1] = 12;  // the limits themselves are kept without a message
  t.p[1] = -100;
  t.v[2] = 20;
  t.p[2] = -150;
  t.v[3] = 50;  // beyond n: not looked at
  testing::internal::CaptureStdout();
  SetVolume(t.p, t.v, t.gainL, t.gainR, 3, t.play, kTrackGainScale);  // clamps tracks that do not play, too
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Volume of channel 1 is too low.\nIt has been reset to -144 dB, the minimum.\n"
            "Pan of channel 1 is too extreme.\nIt has been reset to 100, fully right\n"
            "Volume of channel 3 is too high.\nIt has been reset to 12 dB, the maximum.\n"
            "Pan of channel 3 is too extreme.\nIt has been reset to -100, fully left\n");
  EXPECT_EQ(t.v[0], -144.0f);
  EXPECT_EQ(t.p[0], 100.0f);
  EXPECT_EQ(t.v[2], 12.0f);
  EXPECT_EQ(t.p[2], -100.0f);
  EXPECT_EQ(t.v[3], 50.0f);
}

TEST(TrackGains, OnlyPlayingTracksGetNewGains) {
  Tracks t;
  t.gainL.fill(42.0f);
  t.gainR.fill(42.0f);
  t.play = {2, 1, 1};  // only 1 means playing; track 3 is beyond n
  SetVolume(t.p, t.v, t.gainL, t.gainR, 2, t.play, kTrackGainScale);
  EXPECT_EQ(t.gainL[0], 42.0f);
  EXPECT_FLOAT_EQ(t.gainL[1], kCentre);
  EXPECT_FLOAT_EQ(t.gainR[1], kCentre);
  EXPECT_EQ(t.gainR[2], 42.0f);
}

TEST(BusGains, SetOnlyForValidBusAndLevel) {
  std::array<float, kMaxBusses> gains{};
  gains.fill(1.0f);
  EXPECT_EQ(SetBusVolume(gains, 0.0f, 0, kBusGainDivisor), 1);
  EXPECT_EQ(gains[0], 1.0f / 256.0f);
  EXPECT_EQ(SetBusVolume(gains, 15.0f, 63, kBusGainDivisor), 1);
  EXPECT_NEAR(gains[63], std::pow(10.0f, 0.75f) / 256.0f, 1e-8f);
  EXPECT_EQ(SetBusVolume(gains, -144.0f, 5, kBusGainDivisor), 1);
  EXPECT_GT(gains[5], 0.0f);
  const std::pair<float, int> invalid[] = {
      {0.0f, 64}, {0.0f, -1}, {16.0f, 1}, {-144.5f, 1}, {std::numeric_limits<float>::quiet_NaN(), 1}};
  for (const auto& [level, bus] : invalid) {
    EXPECT_EQ(SetBusVolume(gains, level, bus, kBusGainDivisor), 0) << level << " dB on bus index " << bus;
  }
  EXPECT_EQ(gains[1], 1.0f);

  // At session start a level beyond a limit gets that limit's gain, never the start-up gain of
  // 1.0 (48 dB above 0 dB); a level that is no number keeps it.
  SessionSettings s;
  s.busvl[1] = -6.0f;
  s.busvl[2] = 20.0f;
  s.busvl[3] = -200.0f;
  s.busvl[4] = std::numeric_limits<float>::quiet_NaN();
  SetSessionBusGains(s);
  EXPECT_EQ(s.busGain[0], 1.0f / 256.0f);
  EXPECT_NEAR(s.busGain[1], dBtoRatio(-6.0f, 1.0f) / 256.0f, 1e-9f);
  EXPECT_NEAR(s.busGain[2], dBtoRatio(15.0f, 1.0f) / 256.0f, 1e-9f);
  EXPECT_NEAR(s.busGain[3], dBtoRatio(-144.0f, 1.0f) / 256.0f, 1e-15f);
  EXPECT_EQ(s.busGain[4], 1.0f);
}

TEST(Busses, ActivityFollowsRoutingExceptForBusOne) {
  BusAssignTable assign{};
  std::array<int, kMaxBusses> active{};
  active[0] = 1;  // bus 1 with no track stays active
  active[5] = 1;  // bus 6 lost its tracks
  assign[3][255] = 1;
  UpdateBusses(assign, active);
  EXPECT_EQ(active, (std::array<int, kMaxBusses>{1, 0, 0, 1}));
  active[0] = 0;
  assign[0][0] = 1;  // nor does a track on bus 1 make it active
  UpdateBusses(assign, active);
  EXPECT_EQ(active[0], 0);
}

}  // namespace
}  // namespace tapeloom
