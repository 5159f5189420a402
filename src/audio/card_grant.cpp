#include "audio/card_grant.h"

#include <algorithm>

namespace tapeloom {
namespace {

bool IsPlayback(const DirectionAsk& ask) { return ask.direction == PcmDirection::Playback; }

// The words the existing set-up messages use for the two directions.
std::string_view DirectionWord(const DirectionAsk& ask) { return IsPlayback(ask) ? "playback" : "recording"; }

// The param.txt key that gives this direction's channel count.
std::string_view ChannelKey(const DirectionAsk& ask) { return IsPlayback(ask) ? "outputs" : "inputs"; }

// A direction that carries no channel in the session still runs, for the timing of the other:
// the card is asked for one channel, which plays silence or whose capture is not kept.
unsigned CardChannels(const DirectionAsk& ask) { return std::max(ask.channels, 1u); }

std::string Quoted(std::string_view device) {
  // Appended piece by piece: GCC 12 at -O3 sees a false overlap in the concatenation.
  std::string text;
  text.reserve(device.size() + 2);
  text += '"';
  text += device;
  text += '"';
  return text;
}

// A hw: device gives the card's own rates, channel counts and formats only; the same card under
// plughw: converts whatever the card does not take itself.
std::string Converter(std::string_view device) {
  if (device.starts_with("hw:")) return "plughw:" + std::string(device.substr(3)) + " (the same card, converting)";
  return "a plughw: device, which converts";
}

std::string AccessName(snd_pcm_access_t access) {
  const char* name = snd_pcm_access_name(access);
  return name != nullptr ? name : "unknown (" + std::to_string(static_cast<int>(access)) + ")";
}

std::string FormatName(snd_pcm_format_t format) {
  const char* name = snd_pcm_format_name(format);
  return name != nullptr ? name : "unknown (" + std::to_string(static_cast<int>(format)) + ")";
}

// "Problem setting the playback rate on device "hw:1" (44100 Hz): Invalid argument", then what
// to change.
std::string Refused(const DirectionAsk& ask, std::string_view what, const std::string& asked, int err,
                    const std::string& advice) {
  std::string text = "Problem setting the " + std::string(DirectionWord(ask)) + " " + std::string(what) +
                     " on device " + Quoted(ask.device);
  if (!asked.empty()) text += " (" + asked + ")";
  return text + ": " + snd_strerror(err) + "\n" + advice + "\n";
}

std::string Frames(snd_pcm_uframes_t frames) { return std::to_string(frames) + " frames"; }
std::string Channels(unsigned channels) {
  return std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}

// The calls before the parameters are installed; the text of the first that fails.
std::string RefusedCall(CardParameters& card, const DirectionAsk& ask) {
  const std::string converter = Converter(ask.device);
  if (const int err = card.Any(); err < 0) {
    return Refused(ask, "parameters", "", err, "Check that dv in param.txt names a sound card.");
  }
  if (const int err = card.SetAccess(kCardAccess); err < 0) {
    return Refused(ask, "access", "non-interleaved read/write, " + AccessName(kCardAccess), err,
                   "Use " + converter + ".");
  }
  if (const int err = card.SetFormat(kCardFormat); err < 0) {
    // This text has always been the whole message.
    return std::string("Problem setting ") + std::string(DirectionWord(ask)) + " format: " + snd_strerror(err) + "\n";
  }
  const std::string key(ChannelKey(ask));
  if (const int err = card.SetChannels(CardChannels(ask)); err < 0) {
    return Refused(ask, "channel count", Channels(CardChannels(ask)), err,
                   "Set " + key + " in param.txt to a channel count the card has, or use " + converter + ".");
  }
  unsigned rate = ask.rate;
  snd_pcm_uframes_t period = ask.period;
  snd_pcm_uframes_t buffer = ask.buffer;
  if (const int err = card.SetRateNear(rate); err < 0) {
    return Refused(ask, "rate", std::to_string(ask.rate) + " Hz", err,
                   "Set sr in param.txt to a rate the card takes, or use " + converter + ".");
  }
  if (const int err = card.SetPeriodSizeNear(period); err < 0) {
    return Refused(ask, "period size", Frames(ask.period), err, "Set buf in param.txt to another period size.");
  }
  if (const int err = card.SetBufferSizeNear(buffer); err < 0) {
    return Refused(ask, "buffer size", Frames(ask.buffer), err, "Set buf in param.txt to another period size.");
  }
  return {};
}

// "Device "hw:1" granted 48000 Hz for playback, not the 44100 Hz asked for (sr in param.txt).",
// then what to change.
std::string Granted(const DirectionAsk& ask, const std::string& granted, const std::string& wanted,
                    const std::string& advice) {
  return "Device " + Quoted(ask.device) + " granted " + granted + " for " + std::string(DirectionWord(ask)) + ", not " +
         wanted + ".\n" + advice + "\n";
}

}  // namespace

DirectionSetUp SetUpDirection(CardParameters& card, const DirectionAsk& ask) {
  DirectionSetUp setUp;
  setUp.refused = RefusedCall(card, ask);
  if (!setUp.refused.empty()) return setUp;

  setUp.installResult = card.Install();
  CardGrant& granted = setUp.granted;
  if (setUp.installResult < 0) {
    // Nothing was granted; what the block holds is only shown in the report before the failure.
    card.GetPeriodSize(granted.period);
    card.GetBufferSize(granted.buffer);
    card.GetChannels(granted.channels);
    card.GetRate(granted.rate);
    return setUp;
  }

  std::string& unusable = setUp.unusable;
  const std::string converter = Converter(ask.device);
  // A read-back that fails is reported, and its value not compared.
  const auto readBack = [&](std::string_view what, int err) {
    if (err >= 0) return true;
    unusable += "Problem reading back the " + std::string(DirectionWord(ask)) + " " + std::string(what) +
                " granted by device " + Quoted(ask.device) + ": " + snd_strerror(err) + "\n";
    return false;
  };
  if (readBack("access", card.GetAccess(granted.access)) && granted.access != kCardAccess) {
    unusable += Granted(ask, AccessName(granted.access) + " access",
                        "the " + AccessName(kCardAccess) + " access that Tapeloom needs", "Use " + converter + ".");
  }
  if (readBack("format", card.GetFormat(granted.format)) && granted.format != kCardFormat) {
    unusable += Granted(ask, "the sample format " + FormatName(granted.format),
                        "the " + FormatName(kCardFormat) + " that Tapeloom needs", "Use " + converter + ".");
  }
  if (readBack("channel count", card.GetChannels(granted.channels)) && granted.channels != CardChannels(ask)) {
    const std::string key(ChannelKey(ask));
    unusable +=
        Granted(ask, Channels(granted.channels),
                "the " + std::to_string(CardChannels(ask)) + " asked for (" + key + " in param.txt)",
                "Set " + key + " in param.txt to " + std::to_string(granted.channels) + ", or use " + converter + ".");
  }
  if (readBack("rate", card.GetRate(granted.rate)) && granted.rate != ask.rate) {
    unusable += Granted(ask, std::to_string(granted.rate) + " Hz",
                        "the " + std::to_string(ask.rate) + " Hz asked for (sr in param.txt)",
                        "Set sr in param.txt to " + std::to_string(granted.rate) + ", or use " + converter + ".");
  }
  // Another period or buffer is used as granted.
  readBack("period size", card.GetPeriodSize(granted.period));
  readBack("buffer size", card.GetBufferSize(granted.buffer));
  return setUp;
}

}  // namespace tapeloom
