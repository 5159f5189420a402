// param.txt as any text: values kept in range, a session starts, and after one save and read the text reads back.
#include "audio/alsa_port.h"
#include "console/status_display.h"
#include "fuzz_support.h"

namespace tapeloom::fuzz {

// clang-format off
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PrepareProcess(); SessionSettings s = ReadAsAtStart(std::string_view(reinterpret_cast<const char*>(data), size));
  const auto flag = [](int value) { return value == 0 || value == 1; };
  Require(std::min({s.ch, s.inputs, s.outputs}) >= 0 && std::max({s.ch, s.inputs, s.outputs}) <= kMaxTracks &&
              static_cast<int>(s.mix) >= 0 && static_cast<int>(s.mix) <= 3 && flag(s.tmode) && s.aud >= 0.0f,
          "a channel count, mix, tmode or the audition length out of range");
  for (std::size_t bus = 0; bus < s.busActive.size(); ++bus)
    Require(flag(s.busActive[bus]) && std::all_of(s.busAssign[bus].begin(), s.busAssign[bus].end(), flag),
            "a bus flag or assignment other than 0 or 1");
  for (const TimeRange& range : s.range) Require(range.name.size() <= kPointNameMax, "a range name too long");
  for (const LocatePoint& point : s.loc) Require(point.name.size() <= kPointNameMax, "a locate name too long");
  PrintConfiguration(s);
  s.buf = ClampPeriodRequest(s.buf);  // as PLAY_REC before the first prompt, the period asked for granted
  DeriveSessionValues(s, s.buf); SetSessionBusGains(s); RoundStoredPositions(s, s.buf); ComposeFirstRunSettingsText(s);
  const std::string savedAgain = ComposeSettingsText(ReadAsAtStart(ComposeSettingsText(s)));
  Require(ComposeSettingsText(ReadAsAtStart(savedAgain)) == savedAgain, "the saved settings do not read back");
  for (const int form : {0, 1, 2, 3}) {  // the status display in both forms and both time modes
    std::tie(s.int_, s.tmode) = std::pair(form / 2, form % 2); ShowStatus(s); } return 0;
}
// clang-format on

}  // namespace tapeloom::fuzz
