// param.txt as any text: the reader (with the bus lists it applies), then what a session makes
// of the settings at its start (the channel counts, the period, the derived frame counts, the
// bus gains, the positions rounded to periods, the status display in both forms and both time
// modes), and the save. What the save writes must read back into settings that write the same
// text again: after one pass every value is in the form it is written in.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/play_rec.h"
#include "app/settings_file.h"
#include "app/startup.h"
#include "audio/alsa_port.h"
#include "console/status_display.h"
#include "core/derived_values.h"
#include "fuzz_support.h"
#include "mix/gains.h"

namespace tapeloom::fuzz {
namespace {

SessionSettings ReadAsAtStart(std::string_view text) {
  SessionSettings s;
  GET_PARAMS(text, s);
  ResolveChannelCounts(s);
  return s;
}

void CheckLimits(const SessionSettings& s) {
  Require(s.ch >= 0 && s.ch <= kMaxTracks, "ch outside 0..256");
  Require(s.inputs >= 0 && s.inputs <= kMaxTracks, "inputs outside 0..256");
  Require(s.outputs >= 0 && s.outputs <= kMaxTracks, "outputs outside 0..256");
  Require(static_cast<int>(s.mix) >= 0 && static_cast<int>(s.mix) <= 3, "mix outside 0..3");
  Require(s.tmode == 0 || s.tmode == 1, "tmode neither 0 nor 1");
  Require(s.aud >= 0.0f, "a negative audition length");
  for (std::size_t bus = 0; bus < s.busActive.size(); ++bus) {
    Require(s.busActive[bus] == 0 || s.busActive[bus] == 1, "a bus flag other than 0 or 1");
    for (const int assigned : s.busAssign[bus]) Require(assigned == 0 || assigned == 1, "an assignment not 0 or 1");
  }
  for (const TimeRange& range : s.range) Require(range.name.size() <= kPointNameMax, "a range name too long");
  for (const LocatePoint& point : s.loc) Require(point.name.size() <= kPointNameMax, "a locate name too long");
}

// What PLAY_REC does with the settings before the first prompt, the device granting the
// period asked for.
void StartAsASession(SessionSettings& s) {
  s.buf = ClampPeriodRequest(s.buf);
  DeriveSessionValues(s, s.buf);
  SetSessionBusGains(s);
  RoundStoredPositions(s, s.buf);
  const int display = s.int_;
  const int mode = s.tmode;
  for (const int shownDisplay : {0, 1}) {
    for (const int shownMode : {0, 1}) {
      s.int_ = shownDisplay;
      s.tmode = shownMode;
      ShowStatus(s);
    }
  }
  s.int_ = display;
  s.tmode = mode;
}

}  // namespace
}  // namespace tapeloom::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tapeloom;
  using namespace tapeloom::fuzz;
  static const bool prepared = (PrepareProcess(), true);
  (void)prepared;

  SessionSettings s = ReadAsAtStart(std::string_view(reinterpret_cast<const char*>(data), size));
  CheckLimits(s);
  PrintConfiguration(s);
  StartAsASession(s);
  ComposeFirstRunSettingsText(s);

  const std::string saved = ComposeSettingsText(s);
  const std::string savedAgain = ComposeSettingsText(ReadAsAtStart(saved));
  Require(ComposeSettingsText(ReadAsAtStart(savedAgain)) == savedAgain, "the saved settings do not read back");
  return 0;
}
