// param.txt as any text: the reader, what a session makes of the settings at its start, and the
// save. After one save and read every value is in its written form, so saving what was read back
// must give the same text again.
#include "app/play_rec.h"
#include "app/settings_file.h"
#include "app/startup.h"
#include "audio/alsa_port.h"
#include "console/status_display.h"
#include "core/derived_values.h"
#include "fuzz_support.h"
#include "mix/gains.h"

namespace tapeloom::fuzz {

SessionSettings ReadAsAtStart(std::string_view text) {
  SessionSettings s;
  GET_PARAMS(text, s);
  ResolveChannelCounts(s);
  return s;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PrepareProcess();
  SessionSettings s = ReadAsAtStart(std::string_view(reinterpret_cast<const char*>(data), size));
  const auto count = [](int n) { return n >= 0 && n <= kMaxTracks; };
  Require(count(s.ch) && count(s.inputs) && count(s.outputs), "a channel count outside 0..256");
  Require(static_cast<int>(s.mix) >= 0 && static_cast<int>(s.mix) <= 3 && IsFlag(s.tmode) && s.aud >= 0.0f,
          "mix, tmode or the audition length out of range");
  for (std::size_t bus = 0; bus < s.busActive.size(); ++bus)
    Require(IsFlag(s.busActive[bus]) && std::all_of(s.busAssign[bus].begin(), s.busAssign[bus].end(), IsFlag),
            "a bus flag or assignment other than 0 or 1");
  for (const TimeRange& range : s.range) Require(range.name.size() <= kPointNameMax, "a range name too long");
  for (const LocatePoint& point : s.loc) Require(point.name.size() <= kPointNameMax, "a locate name too long");
  PrintConfiguration(s);
  // What PLAY_REC does before the first prompt, the device granting the period asked for.
  s.buf = ClampPeriodRequest(s.buf);
  DeriveSessionValues(s, s.buf);
  SetSessionBusGains(s);
  RoundStoredPositions(s, s.buf);
  SessionSettings shown = s;  // the status display in both forms and both time modes
  for (const int form : {0, 1, 2, 3}) {
    shown.int_ = form / 2;
    shown.tmode = form % 2;
    ShowStatus(shown);
  }
  ComposeFirstRunSettingsText(s);

  const std::string savedAgain = ComposeSettingsText(ReadAsAtStart(ComposeSettingsText(s)));
  Require(ComposeSettingsText(ReadAsAtStart(savedAgain)) == savedAgain, "the saved settings do not read back");
  return 0;
}

}  // namespace tapeloom::fuzz
