// Setting up one direction of the sound card: the hardware-parameter calls in their order, the
// result of each checked, and what the card granted read back and held against what the session
// needs. A card may answer a "near" call with another rate; takes labelled with `sr` would then
// hold audio at that other rate and play at the wrong speed and pitch everywhere, so a rate,
// channel count, access or format other than asked for ends the set-up. Only the period and the
// buffer may differ: the session works in whatever period the card grants.
//
// The calls go through CardParameters: the port implements it over libasound (alsa_port.cpp),
// tests over a card model in memory.
#pragma once

#include <alsa/asoundlib.h>

#include <string>
#include <string_view>

#include "audio/pcm_port.h"

namespace tapeloom {

// Both directions, always.
inline constexpr snd_pcm_access_t kCardAccess = SND_PCM_ACCESS_RW_NONINTERLEAVED;
inline constexpr snd_pcm_format_t kCardFormat = SND_PCM_FORMAT_S24_3LE;

// The hardware-parameter calls on one direction's handle and parameter block. Each returns 0 or
// a negative error code, as libasound's calls do; the "near" calls may change what they are given.
class CardParameters {
 public:
  CardParameters() = default;
  CardParameters(const CardParameters&) = delete;
  CardParameters& operator=(const CardParameters&) = delete;
  virtual ~CardParameters() = default;

  virtual int Any() = 0;
  virtual int SetAccess(snd_pcm_access_t access) = 0;
  virtual int SetFormat(snd_pcm_format_t format) = 0;
  virtual int SetChannels(unsigned channels) = 0;
  virtual int SetRateNear(unsigned& rate) = 0;
  virtual int SetPeriodSizeNear(snd_pcm_uframes_t& frames) = 0;
  virtual int SetBufferSizeNear(snd_pcm_uframes_t& frames) = 0;
  virtual int Install() = 0;  // snd_pcm_hw_params
  virtual int GetAccess(snd_pcm_access_t& access) = 0;
  virtual int GetFormat(snd_pcm_format_t& format) = 0;
  virtual int GetChannels(unsigned& channels) = 0;
  virtual int GetRate(unsigned& rate) = 0;
  virtual int GetPeriodSize(snd_pcm_uframes_t& frames) = 0;
  virtual int GetBufferSize(snd_pcm_uframes_t& frames) = 0;
};

// What one direction asks the card for.
struct DirectionAsk {
  std::string_view device;  // `dv`
  PcmDirection direction = PcmDirection::Playback;
  // `outputs` for playback, `inputs` for capture. For none the card is asked for one channel:
  // the transport run gives the channel after its own a null buffer, which libasound plays as
  // silence and captures into nothing.
  unsigned channels = 0;
  unsigned rate = 0;  // `sr`
  snd_pcm_uframes_t period = 0;
  snd_pcm_uframes_t buffer = 0;
};

// What the card granted, as far as it could be read back.
struct CardGrant {
  snd_pcm_access_t access = kCardAccess;
  snd_pcm_format_t format = kCardFormat;
  unsigned channels = 0;
  unsigned rate = 0;
  snd_pcm_uframes_t period = 0;
  snd_pcm_uframes_t buffer = 0;
};

struct DirectionSetUp {
  // A call refused before the parameters were installed: the whole message (lines ending in a
  // line feed), for standard error. The set-up of this direction stopped there.
  std::string refused;
  // The result of installing the parameters (snd_pcm_hw_params); its message is the caller's,
  // as each direction reports it at its own place.
  int installResult = 0;
  // Read back for the driver report, also after a failed install.
  CardGrant granted;
  // Once installed: what the card granted that the session cannot work with, and read-backs
  // that failed, one message per fault, for standard error. Empty when all is as asked.
  std::string unusable;
};

// Makes the calls for one direction in order: any, access, format, channels, rate near, period
// near, buffer near, install; then reads back access, format, channels, rate, period and buffer.
DirectionSetUp SetUpDirection(CardParameters& card, const DirectionAsk& ask);

}  // namespace tapeloom
