// Setting up one direction against card models in memory: a card that grants what it is asked
// for, cards that grant another rate, channel count, access or format, and cards that refuse one
// call. What the session cannot use ends the set-up with a message naming the device, the
// direction, what was asked for and granted, and what to change.
#include "audio/card_grant.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <vector>

namespace tapeloom {
namespace {

enum class Call {
  None,
  Any,
  Access,
  Format,
  Channels,
  Rate,
  Period,
  Buffer,
  Install,
  GetAccess,
  GetFormat,
  GetChannels,
  GetRate,
  GetPeriod,
  GetBuffer
};

// What a card grants in place of what it is asked for; nothing set grants the request.
struct Grants {
  std::optional<snd_pcm_access_t> access;
  std::optional<snd_pcm_format_t> format;
  std::optional<unsigned> channels;
  std::optional<unsigned> rate;
  std::optional<snd_pcm_uframes_t> period;
  std::optional<snd_pcm_uframes_t> buffer;
};

// A card that answers as libasound does: a refused call returns its error and, for a read-back,
// leaves the value alone.
class CardModel final : public CardParameters {
 public:
  CardModel(Grants grants, Call failing = Call::None, int error = -EINVAL)
      : grants_(grants), failing_(failing), error_(error) {}

  int Any() override { return Answer(Call::Any); }
  int SetAccess(snd_pcm_access_t access) override {
    asked.access = access;
    return Answer(Call::Access);
  }
  int SetFormat(snd_pcm_format_t format) override {
    asked.format = format;
    return Answer(Call::Format);
  }
  int SetChannels(unsigned channels) override {
    asked.channels = channels;
    return Answer(Call::Channels);
  }
  int SetRateNear(unsigned& rate) override {
    asked.rate = rate;
    rate = grants_.rate.value_or(rate);
    return Answer(Call::Rate);
  }
  int SetPeriodSizeNear(snd_pcm_uframes_t& frames) override {
    asked.period = frames;
    frames = grants_.period.value_or(frames);
    return Answer(Call::Period);
  }
  int SetBufferSizeNear(snd_pcm_uframes_t& frames) override {
    asked.buffer = frames;
    frames = grants_.buffer.value_or(frames);
    return Answer(Call::Buffer);
  }
  int Install() override { return Answer(Call::Install); }
  int GetAccess(snd_pcm_access_t& v) override {
    return Read(Call::GetAccess, v, grants_.access.value_or(asked.access));
  }
  int GetFormat(snd_pcm_format_t& v) override {
    return Read(Call::GetFormat, v, grants_.format.value_or(asked.format));
  }
  int GetChannels(unsigned& v) override {
    return Read(Call::GetChannels, v, grants_.channels.value_or(asked.channels));
  }
  int GetRate(unsigned& v) override { return Read(Call::GetRate, v, grants_.rate.value_or(asked.rate)); }
  int GetPeriodSize(snd_pcm_uframes_t& v) override {
    return Read(Call::GetPeriod, v, grants_.period.value_or(asked.period));
  }
  int GetBufferSize(snd_pcm_uframes_t& v) override {
    return Read(Call::GetBuffer, v, grants_.buffer.value_or(asked.buffer));
  }

  CardGrant asked;  // what each call was given
  std::vector<Call> calls;

 private:
  int Answer(Call call) {
    calls.push_back(call);
    return call == failing_ ? error_ : 0;
  }
  template <typename Value>
  int Read(Call call, Value& value, Value granted) {
    const int result = Answer(call);
    if (result == 0) value = granted;
    return result;
  }

  Grants grants_;
  Call failing_;
  int error_;
};

DirectionAsk Ask(PcmDirection direction, std::string_view device = "hw:1", unsigned channels = 2) {
  return {
      .device = device, .direction = direction, .channels = channels, .rate = 44100, .period = 1024, .buffer = 4096};
}

TEST(CardGrant, ACardThatGrantsTheRequestIsAskedInOrderAndUsedAsItIs) {
  CardModel card({});
  const DirectionSetUp setUp = SetUpDirection(card, Ask(PcmDirection::Capture, "hw:1", 8));
  EXPECT_EQ(setUp.refused, "");
  EXPECT_EQ(setUp.installResult, 0);
  EXPECT_EQ(setUp.unusable, "");
  const std::vector<Call> order = {Call::Any,         Call::Access,  Call::Format,    Call::Channels,  Call::Rate,
                                   Call::Period,      Call::Buffer,  Call::Install,   Call::GetAccess, Call::GetFormat,
                                   Call::GetChannels, Call::GetRate, Call::GetPeriod, Call::GetBuffer};
  EXPECT_EQ(card.calls, order);
  EXPECT_EQ(card.asked.access, SND_PCM_ACCESS_RW_NONINTERLEAVED);
  EXPECT_EQ(card.asked.format, SND_PCM_FORMAT_S24_3LE);
  const CardGrant& g = setUp.granted;
  EXPECT_EQ(g.access, SND_PCM_ACCESS_RW_NONINTERLEAVED);
  EXPECT_EQ(g.format, SND_PCM_FORMAT_S24_3LE);
  EXPECT_EQ((std::vector<unsigned long>{g.channels, g.rate, g.period, g.buffer}),
            (std::vector<unsigned long>{8, 44100, 1024, 4096}));
}

TEST(CardGrant, ADirectionWithoutChannelsAsksTheCardForOne) {
  CardModel card({});
  const DirectionSetUp setUp = SetUpDirection(card, Ask(PcmDirection::Playback, "hw:1", 0));
  EXPECT_EQ(card.asked.channels, 1u);
  EXPECT_EQ(setUp.granted.channels, 1u);
  EXPECT_EQ(setUp.unusable, "");
}

TEST(CardGrant, WhatTheSessionCannotUseIsNamedWithWhatToChange) {
  struct Case {
    PcmDirection direction;
    std::string_view device;
    Grants grants;
    std::string unusable;
  };
  const Case cases[] = {
      {PcmDirection::Playback,
       "hw:1",
       {.rate = 48000},
       "Device \"hw:1\" granted 48000 Hz for playback, not the 44100 Hz asked for (sr in param.txt).\n"
       "Set sr in param.txt to 48000, or use plughw:1 (the same card, converting).\n"},
      {PcmDirection::Capture,
       "default",
       {.channels = 1},
       "Device \"default\" granted 1 channel for recording, not the 2 asked for (inputs in param.txt).\n"
       "Set inputs in param.txt to 1, or use a plughw: device, which converts.\n"},
      {PcmDirection::Playback,
       "hw:0,0",
       {.access = SND_PCM_ACCESS_RW_INTERLEAVED},
       "Device \"hw:0,0\" granted RW_INTERLEAVED access for playback, not the RW_NONINTERLEAVED access that "
       "Tapeloom needs.\nUse plughw:0,0 (the same card, converting).\n"},
      {PcmDirection::Capture,
       "hw:0,0",
       {.format = SND_PCM_FORMAT_S32_LE},
       "Device \"hw:0,0\" granted the sample format S32_LE for recording, not the S24_3LE that Tapeloom needs.\n"
       "Use plughw:0,0 (the same card, converting).\n"},
      // Every fault is named, in the order the values are read back.
      {PcmDirection::Playback,
       "card",
       {.channels = 4, .rate = 22050},
       "Device \"card\" granted 4 channels for playback, not the 2 asked for (outputs in param.txt).\n"
       "Set outputs in param.txt to 4, or use a plughw: device, which converts.\n"
       "Device \"card\" granted 22050 Hz for playback, not the 44100 Hz asked for (sr in param.txt).\n"
       "Set sr in param.txt to 22050, or use a plughw: device, which converts.\n"},
      // Another period and buffer are used as granted.
      {PcmDirection::Capture, "hw:1", {.period = 940, .buffer = 3760}, ""},
  };
  for (const Case& c : cases) {
    CardModel card(c.grants);
    const DirectionSetUp setUp = SetUpDirection(card, Ask(c.direction, c.device));
    EXPECT_EQ(setUp.refused, "");
    EXPECT_EQ(setUp.installResult, 0);
    EXPECT_EQ(setUp.unusable, c.unusable);
    EXPECT_EQ(setUp.granted.rate, c.grants.rate.value_or(44100));
    EXPECT_EQ(setUp.granted.period, c.grants.period.value_or(1024));
    EXPECT_EQ(setUp.granted.buffer, c.grants.buffer.value_or(4096));
  }
}

TEST(CardGrant, ARefusedCallEndsTheSetUpWithItsMessage) {
  struct Case {
    Call failing;
    PcmDirection direction;
    std::string refused;   // a call before the install
    std::string unusable;  // a read-back
  };
  const Case cases[] = {
      {Call::Any, PcmDirection::Playback,
       "Problem setting the playback parameters on device \"hw:1\": Invalid argument\n"
       "Check that dv in param.txt names a sound card.\n",
       ""},
      {Call::Access, PcmDirection::Capture,
       "Problem setting the recording access on device \"hw:1\" (non-interleaved read/write, RW_NONINTERLEAVED): "
       "Invalid argument\nUse plughw:1 (the same card, converting).\n",
       ""},
      // The format's refusal keeps the words it has always had.
      {Call::Format, PcmDirection::Playback, "Problem setting playback format: Invalid argument\n", ""},
      {Call::Format, PcmDirection::Capture, "Problem setting recording format: Invalid argument\n", ""},
      {Call::Channels, PcmDirection::Capture,
       "Problem setting the recording channel count on device \"hw:1\" (2 channels): Invalid argument\n"
       "Set inputs in param.txt to a channel count the card has, or use plughw:1 (the same card, converting).\n",
       ""},
      {Call::Rate, PcmDirection::Playback,
       "Problem setting the playback rate on device \"hw:1\" (44100 Hz): Invalid argument\n"
       "Set sr in param.txt to a rate the card takes, or use plughw:1 (the same card, converting).\n",
       ""},
      {Call::Period, PcmDirection::Playback,
       "Problem setting the playback period size on device \"hw:1\" (1024 frames): Invalid argument\n"
       "Set buf in param.txt to another period size.\n",
       ""},
      {Call::Buffer, PcmDirection::Capture,
       "Problem setting the recording buffer size on device \"hw:1\" (4096 frames): Invalid argument\n"
       "Set buf in param.txt to another period size.\n",
       ""},
      {Call::GetAccess, PcmDirection::Playback, "",
       "Problem reading back the playback access granted by device \"hw:1\": Invalid argument\n"},
      {Call::GetFormat, PcmDirection::Capture, "",
       "Problem reading back the recording format granted by device \"hw:1\": Invalid argument\n"},
      {Call::GetChannels, PcmDirection::Playback, "",
       "Problem reading back the playback channel count granted by device \"hw:1\": Invalid argument\n"},
      {Call::GetRate, PcmDirection::Capture, "",
       "Problem reading back the recording rate granted by device \"hw:1\": Invalid argument\n"},
      {Call::GetPeriod, PcmDirection::Playback, "",
       "Problem reading back the playback period size granted by device \"hw:1\": Invalid argument\n"},
      {Call::GetBuffer, PcmDirection::Playback, "",
       "Problem reading back the playback buffer size granted by device \"hw:1\": Invalid argument\n"},
  };
  for (const Case& c : cases) {
    CardModel card({}, c.failing);
    const DirectionSetUp setUp = SetUpDirection(card, Ask(c.direction));
    EXPECT_EQ(setUp.refused, c.refused);
    EXPECT_EQ(setUp.unusable, c.unusable);
    if (!c.refused.empty()) {
      EXPECT_EQ(card.calls.back(), c.failing) << "no call after the refused one";
    }
  }
}

TEST(CardGrant, AFailedInstallIsLeftToTheCallerWithWhatTheBlockHoldsForTheReport) {
  CardModel card({.rate = 48000}, Call::Install, -EBUSY);
  const DirectionSetUp setUp = SetUpDirection(card, Ask(PcmDirection::Capture));
  EXPECT_EQ(setUp.installResult, -EBUSY);
  EXPECT_EQ(setUp.refused, "");
  EXPECT_EQ(setUp.unusable, "") << "nothing was granted that could be held against the request";
  EXPECT_EQ(setUp.granted.rate, 48000u);
  EXPECT_EQ(setUp.granted.period, 1024u);
}

}  // namespace
}  // namespace tapeloom
