#include "tracks/list_files.h"

namespace tapeloom {

std::string GET_FILENAME(std::string_view listText, int n) {
  const std::vector<std::string> entries = SplitList(listText);
  if (n < 0 || static_cast<std::size_t>(n) >= entries.size()) return {};
  return entries[static_cast<std::size_t>(n)];
}

std::string Hybridize(std::string_view playListText, std::string_view takeListText, const TrackFlags& armed, int n) {
  const std::vector<std::string> plays = SplitList(playListText);
  const std::vector<std::string> takes = SplitList(takeListText);
  auto lineOr = [](const std::vector<std::string>& list, std::size_t k) -> std::string {
    return k < list.size() ? list[k] : std::string(1, kSkipMark);
  };
  std::string out;
  for (std::size_t k = 0; k < static_cast<std::size_t>(n) && k < armed.size(); ++k) {
    if (armed[k] == 1) {
      out += lineOr(takes, k);
    } else if (armed[k] == 0) {
      out += lineOr(plays, k);
    }
    out += '\n';
  }
  return out;
}

void VerifyChannels(const BusAssignTable& busAssign, TrackFlags& trackFlags) {
  for (std::size_t t = 0; t < trackFlags.size(); ++t) {
    bool routed = false;
    for (const auto& bus : busAssign) routed = routed || bus[t] == 1;
    if (!routed && trackFlags[t] == 1) trackFlags[t] = 0;
  }
}

}  // namespace tapeloom
