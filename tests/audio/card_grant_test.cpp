// One direction set up on a card model that grants what is asked, or other values, or refuses a call.
#include "audio/card_grant.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <vector>

namespace tapeloom {
namespace {

// clang-format off
enum Call { kAny, kAccess, kFormat, kChannels, kRate, kPeriod, kBuffer, kInstall, kGetAccess, kGetFormat,
            kGetChannels, kGetRate, kGetPeriod, kGetBuffer, kNone };  // in the order of the set-up
// clang-format on
using Grants = std::map<Call, unsigned long>;  // by the call that asks: what the card grants instead

// As libasound: a refused call returns its error, and a read-back refused leaves its value alone.
class CardModel final : public CardParameters {
 public:
  CardModel(Grants grants, Call failing) : grants_(std::move(grants)), failing_(failing) {}
  int Any() override { return Answer(kAny); }
  int SetAccess(snd_pcm_access_t v) override { return Pass(kAccess, v); }
  int SetFormat(snd_pcm_format_t v) override { return Pass(kFormat, v); }
  int SetChannels(unsigned v) override { return Pass(kChannels, v); }
  int SetRateNear(unsigned& v) override { return Pass(kRate, v); }
  int SetPeriodSizeNear(snd_pcm_uframes_t& v) override { return Pass(kPeriod, v); }
  int SetBufferSizeNear(snd_pcm_uframes_t& v) override { return Pass(kBuffer, v); }
  int Install() override { return Answer(kInstall); }
  int GetAccess(snd_pcm_access_t& v) override { return Pass(kGetAccess, v); }
  int GetFormat(snd_pcm_format_t& v) override { return Pass(kGetFormat, v); }
  int GetChannels(unsigned& v) override { return Pass(kGetChannels, v); }
  int GetRate(unsigned& v) override { return Pass(kGetRate, v); }
  int GetPeriodSize(snd_pcm_uframes_t& v) override { return Pass(kGetPeriod, v); }
  int GetBufferSize(snd_pcm_uframes_t& v) override { return Pass(kGetBuffer, v); }
  std::vector<Call> calls;

 private:
  int Answer(Call call) {
    calls.push_back(call);
    return call != failing_ ? 0 : call == kInstall ? -EBUSY : -EINVAL;
  }
  template <typename T>  // a set is granted the row's value, else what it asks for; a get reads that back
  int Pass(Call call, T& value) {
    if (call < kInstall) value = T(grants_.try_emplace(call, value).first->second);
    const int result = Answer(call);
    if (call > kInstall && result == 0) value = T(grants_[Call(call - kGetAccess + kAccess)]);
    return result;
  }
  Grants grants_;
  Call failing_;
};

TEST(CardGrant, WhatTheCardGrantsOrRefusesIsUsedOrNamedWithWhatToChange) {
  struct Case {
    PcmDirection direction;
    const char* device;
    unsigned channels;
    Grants grants;
    Call failing;
    std::string said;  // the part of the refusal, or of what is unusable, that carries the case
  };
  const auto play = PcmDirection::Playback, rec = PcmDirection::Capture;
  // clang-format off
  const Case cases[] = {
      {rec, "hw:1", 8, {}, kNone}, {play, "hw:1", 0, {}, kNone},  // none in the session: the card is asked for one
      {rec, "hw:1", 2, {{kPeriod, 940}, {kBuffer, 3760}}, kNone},  // used as granted
      {play, "hw:1", 2, {{kRate, 48000}}, kNone, "Device \"hw:1\" granted 48000 Hz for playback, not the 44100 Hz "
       "asked for (sr in param.txt).\nSet sr in param.txt to 48000, or use plughw:1 (the same card, converting).\n"},
      {rec, "default", 2, {{kChannels, 1}}, kNone, "granted 1 channel for recording, not the 2 asked for (inputs in "
       "param.txt).\nSet inputs in param.txt to 1, or use a plughw: device, which converts.\n"},
      {play, "hw:0,0", 2, {{kAccess, SND_PCM_ACCESS_RW_INTERLEAVED}}, kNone, "granted RW_INTERLEAVED access for "
       "playback, not the RW_NONINTERLEAVED access that Tapeloom needs.\nUse plughw:0,0 (the same"},
      {rec, "hw:0", 2, {{kFormat, SND_PCM_FORMAT_S32_LE}}, kNone, "granted the sample format S32_LE for recording, "
       "not"},
      {play, "card", 2, {{kChannels, 4}, {kRate, 22050}}, kNone, "4 channels for playback, not the 2 asked for "
       "(outputs in param.txt).\nSet outputs in param.txt to 4, or use a plughw: device, which converts.\n"
       "Device \"card\" granted 22050 Hz for playback"},  // every fault, in the order they are read back
      {play, "hw:1", 2, {}, kAny, "the playback parameters on device \"hw:1\": Invalid argument\nCheck that dv"},
      {play, "a", 2, {}, kRate, "the playback rate on device \"a\" (44100 Hz): Invalid argument\nSet sr in param.txt "
       "to a rate the card takes, or use a plughw: device, which converts.\n"},  // a name of one character, whole
      {rec, "", 2, {{kRate, 48000}}, kNone, "Device \"\" granted 48000 Hz for recording, not the 44100 Hz asked for"},
      {rec, "hw:1", 2, {}, kAccess, "the recording access on device \"hw:1\" (non-interleaved read/write, "
       "RW_NONINTERLEAVED): Invalid argument\nUse plughw:1 (the same card, converting).\n"},
      {rec, "hw:1", 2, {}, kFormat, "Problem setting recording format: Invalid argument\n"},  // its words of old
      {rec, "hw:1", 2, {}, kChannels, "recording channel count on device \"hw:1\" (2 channels): Invalid argument\n"
       "Set inputs in param.txt to a channel count the card has, or use plughw:1"},
      {play, "hw:1", 2, {}, kPeriod, "playback period size on device \"hw:1\" (1024 frames): Invalid "
       "argument\nSet buf in"},
      {rec, "hw:1", 2, {}, kBuffer, "the recording buffer size on device \"hw:1\" (4096 frames): Invalid argument\n"},
      {play, "hw:1", 2, {}, kGetAccess, "reading back the playback access granted by device \"hw:1\": Invalid"},
      {rec, "hw:1", 2, {}, kGetFormat, "reading back the recording format granted by device \"hw:1\": Invalid"},
      {rec, "hw:1", 2, {{kRate, 48000}}, kInstall},  // the caller's to report, with what the block holds
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    CardModel card(c.grants, c.failing);
    const DirectionSetUp setUp = SetUpDirection(card, {c.device, c.direction, c.channels, 44100, 1024, 4096});
    const bool refused = c.failing < kInstall;
    const std::string& said = refused ? setUp.refused : setUp.unusable;
    EXPECT_TRUE(said.find(c.said) != said.npos && said.empty() == c.said.empty()) << said;
    EXPECT_EQ(refused ? setUp.unusable : setUp.refused, "");
    EXPECT_EQ(setUp.installResult, c.failing == kInstall ? -EBUSY : 0);
    // Every call in order, none after a refused one; after a failed install only sizes and rate.
    std::vector<Call> order;
    for (int k = 0; k <= (c.failing <= kInstall ? c.failing : kGetBuffer); ++k) order.push_back(Call(k));
    if (c.failing == kInstall) order.insert(order.end(), {kGetPeriod, kGetBuffer, kGetChannels, kGetRate});
    EXPECT_EQ(card.calls, order);
    if (refused) continue;
    const auto want = [&](Call ask, unsigned long asked) { return c.grants.contains(ask) ? c.grants.at(ask) : asked; };
    const CardGrant& got = setUp.granted;
    EXPECT_EQ((std::vector<unsigned long>{got.channels, got.rate, got.period, got.buffer}),
              (std::vector{want(kChannels, std::max(c.channels, 1u)), want(kRate, 44100), want(kPeriod, 1024),
                           want(kBuffer, 4096)}));
  }
}

}  // namespace
}  // namespace tapeloom
