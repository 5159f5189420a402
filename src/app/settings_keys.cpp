#include "app/settings_keys.h"

#include <charconv>
#include <cstdio>
#include <type_traits>

#include "core/number_words.h"
#include "wave/text_file.h"

namespace tapeloom {
namespace {

// `sr`: a whole number of Hz in range, with nothing after it but white space (a line written on
// another system may end in a carriage return). Anything else keeps the rate as it is, and says so.
void ReadSampleRate(std::string_view field, SessionSettings& s) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  std::string_view digits = field;
  while (!digits.empty() && isSpace(digits.front())) digits.remove_prefix(1);
  while (!digits.empty() && isSpace(digits.back())) digits.remove_suffix(1);
  std::uint32_t rate = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), rate);
  const bool whole = !digits.empty() && error == std::errc() && end == digits.data() + digits.size();
  if (whole && rate >= kMinSampleRate && rate <= kMaxSampleRate) {
    s.sr = rate;
    return;
  }
  // The value as it stands, up to a NUL and not past 40 characters.
  const std::string_view shown = UpToNul(field).substr(0, 40);
  std::printf("sr \"%.*s\" in param.txt is not a whole number from %u to %u.\n", static_cast<int>(shown.size()),
              shown.data(), static_cast<unsigned>(kMinSampleRate), static_cast<unsigned>(kMaxSampleRate));
  std::printf("The sample rate stays at %u Hz.\n", static_cast<unsigned>(s.sr));
}

// A whole number; a word that is none reads as 0.
template <auto Field>
void ReadWhole(std::string_view value, SessionSettings& s) {
  s.*Field = DecimalOrZero(value);
}

template <auto Field>
void WriteWhole(std::string& text, const SessionSettings& s) {
  AppendFormat(text, "%i", static_cast<int>(s.*Field));
}

// A mode: a whole number from Low to High, anything else 0.
template <auto Field, int Low, int High>
void ReadMode(std::string_view value, SessionSettings& s) {
  using Mode = std::remove_reference_t<decltype(s.*Field)>;
  const int mode = DecimalOrZero(value);
  s.*Field = static_cast<Mode>(mode >= Low && mode <= High ? mode : 0);
}

// A number with a fraction; one that cannot be read leaves the setting as it is.
template <auto Field>
void ReadReal(std::string_view value, SessionSettings& s) {
  s.*Field = FloatField(value, s.*Field);
}

template <auto Field, int Digits>
void WriteReal(std::string& text, const SessionSettings& s) {
  AppendFormat(text, "%.*f", Digits, static_cast<double>(s.*Field));
}

const char* ClockWord(int clock) {
  switch (clock) {
    case 0: return "hc";
    case 2: return "sc";
    default: return "uc";
  }
}

using S = SessionSettings;

constexpr SettingKey kSettingKeys[] = {
    {"dv",
     [](std::string_view value, S& s) {
       if (!HoldsNul(value)) s.dv = std::string(value);
     },
     [](std::string& text, const S& s) { AppendFormat(text, "%s", s.dv.c_str()); }},
    {"sr", &ReadSampleRate,
     [](std::string& text, const S& s) { AppendFormat(text, "%u", static_cast<unsigned>(s.sr)); }},
    {"inputs", &ReadWhole<&S::inputs>, &WriteWhole<&S::inputs>},
    {"outputs", &ReadWhole<&S::outputs>, &WriteWhole<&S::outputs>},
    {"ch", &ReadWhole<&S::ch>, &WriteWhole<&S::ch>},
    {"buf", &ReadWhole<&S::buf>, &WriteWhole<&S::buf>},
    // Only a 0 changes it: the full status display is the default.
    {"int",
     [](std::string_view value, S& s) {
       if (DecimalOrZero(value) == 0) s.int_ = 0;
     },
     &WriteWhole<&S::int_>},
    {"clock",
     [](std::string_view value, S& s) {
       if (value == "hc") s.clock = 0;
       if (value == "sc") s.clock = 2;
     },
     [](std::string& text, const S& s) { text += ClockWord(s.clock); }},
    {"peak",
     [](std::string_view value, S& s) {
       if (value == "np") s.peak = 0;
     },
     [](std::string& text, const S& s) { text += s.peak == 0 ? "np" : "cp"; }},
    {"i", &ReadWhole<&S::i>, &WriteWhole<&S::i>},
    {"o", &ReadWhole<&S::o>, &WriteWhole<&S::o>},
    {"e", &ReadWhole<&S::e>, &WriteWhole<&S::e>},
    {"nudge", &ReadReal<&S::nudge>, &WriteReal<&S::nudge, 4>},
    {"proll", &ReadReal<&S::proll>, &WriteReal<&S::proll, 3>},
    // An audition never lasts less than nothing.
    {"aud",
     [](std::string_view value, S& s) {
       const float seconds = FloatField(value, s.aud);
       s.aud = seconds < 0.0f ? 0.0f : seconds;
     },
     &WriteReal<&S::aud, 2>},
    {"xfade", &ReadReal<&S::xfade>, &WriteReal<&S::xfade, 1>},
    {"mem", &ReadWhole<&S::mem>, &WriteWhole<&S::mem>},
    {"odcomp", &ReadWhole<&S::odcomp>, &WriteWhole<&S::odcomp>},
    {"mix", &ReadMode<&S::mix, 1, 3>, &WriteWhole<&S::mix>},
    {"meter", &ReadWhole<&S::meter>, &WriteWhole<&S::meter>},
    {"tmode", &ReadMode<&S::tmode, 0, 1>, &WriteWhole<&S::tmode>},
    {"tempo", &ReadReal<&S::tempo>, &WriteReal<&S::tempo, 2>},
    {"sig", &ReadWhole<&S::sig>, &WriteWhole<&S::sig>},
    {"safe", &ReadWhole<&S::safe>, &WriteWhole<&S::safe>},
    {"latcomp", &ReadWhole<&S::latcomp>, &WriteWhole<&S::latcomp>},
};

}  // namespace

std::span<const SettingKey> SettingKeys() { return kSettingKeys; }

const SettingKey* FindSettingKey(std::string_view key) {
  for (const SettingKey& row : kSettingKeys) {
    if (row.key == key) return &row;
  }
  return nullptr;
}

bool HoldsNul(std::string_view name) { return name.find('\0') != std::string_view::npos; }

std::string_view UpToNul(std::string_view name) { return name.substr(0, name.find('\0')); }

}  // namespace tapeloom
