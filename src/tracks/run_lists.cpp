#include "tracks/run_lists.h"

#include <cstdio>

#include "tracks/list_files.h"
#include "wave/text_file.h"
#include "wave/wave_readers.h"

namespace tapeloom {
namespace {

// The list in use, read whole; while it cannot be read the user names another, which then
// stays the list in use.
std::string ReadListInUse(std::string& path, ConsoleInput& input, bool playlist) {
  for (;;) {
    if (std::string text; ReadWholeFile(path, text).ok()) return text;
    if (playlist) {
      std::printf("Cannot find playlist file called %s\n", path.c_str());
    } else {
      std::printf("Cannot find recordlist file called %s\n", path.c_str());
    }
    std::puts("Create the file or enter a different name");
    path = input.ReadWord();
  }
}

}  // namespace

RunLists ResolveRunLists(SessionSettings& s, ConsoleInput& input, const RunListRequest& request) {
  RunLists lists;
  lists.playText = ReadListInUse(s.play[0], input, true);
  lists.recordText = ReadListInUse(s.rec[0], input, false);
  const std::vector<std::string> plays = SplitList(lists.playText);
  const std::vector<std::string> records = SplitList(lists.recordText);
  const std::size_t tracks = static_cast<std::size_t>(s.ch < 0 ? 0 : s.ch);

  if (request.records) {
    for (std::size_t k = 0; k < tracks && k < plays.size() && k < records.size(); ++k) {
      lists.replacedTracks[k] = plays[k] == records[k] && plays[k] != "-" ? 1 : 0;
    }
  }

  if (request.plays) {
    const std::vector<std::string> played = request.auditionList ? SplitList(*request.auditionList) : plays;
    for (std::size_t t = 0; t < tracks && t < played.size(); ++t) {
      if (IsSkipLine(played[t])) continue;
      lists.activeTracks[t] = GET_ATTRIBUTES(played[t], lists.attributes[t]);
      // Only a track that will be heard is worth the warning: a soloed play drops the others below.
      const bool soloedOut = request.solo && s.solo[t] == 0;
      if (lists.activeTracks[t] == 1 && !soloedOut) WarnOfOtherRate(played[t], lists.attributes[t].sampleRate, s.sr);
    }
  }

  if (request.solo) {
    for (std::size_t t = 0; t < lists.activeTracks.size(); ++t) {
      if (s.solo[t] == 0) lists.activeTracks[t] = 0;
    }
  }

  if (request.records || request.monitor) {
    const std::size_t inputs = static_cast<std::size_t>(s.inputs < 0 ? 0 : s.inputs);
    for (std::size_t k = 0; k < inputs && k < records.size(); ++k) {
      if (!IsSkipLine(records[k])) lists.armedInputs[k] = 1;
    }
  }
  return lists;
}

}  // namespace tapeloom
