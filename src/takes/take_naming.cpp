#include "takes/take_naming.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "app/session.h"
#include "app/text_file.h"
#include "time/time_base.h"
#include "tracks/list_files.h"
#include "wave/wave_header.h"

namespace tapeloom {
namespace {

bool FileExists(const std::string& name) {
  std::error_code ignored;
  return std::filesystem::exists(name, ignored);
}

}  // namespace

std::string AutomaticTakeName(int channel, std::int32_t stamp, SamplePosition recordStart) {
  std::string name;
  if (recordStart == 0) {
    AppendFormat(name, "audio_ch_%i_%i.wav", channel, stamp);
  } else {
    AppendFormat(name, "audio_ch_%i_%i_stp_%li.wav", channel, stamp, static_cast<long>(recordStart));
  }
  return name;
}

std::string ChosenTakeName(std::string_view recordLine, std::string_view takeName, SamplePosition recordStart) {
  const std::string stem(recordLine.substr(0, recordLine.find('.')));
  const std::string take(takeName);
  std::string name;
  if (recordStart == 0) {
    AppendFormat(name, "%s_%s.wav", stem.c_str(), take.c_str());
  } else {
    AppendFormat(name, "%s_%s_stp_%li.wav", stem.c_str(), take.c_str(), static_cast<long>(recordStart));
  }
  return name;
}

NamedTakes NameAndCreateTakes(const NamingPass& pass, ConsoleInput& input) {
  NamedTakes takes;
  const std::vector<std::string> recordLines = SplitList(pass.recordListText);
  const std::int64_t plannedLength = static_cast<std::int64_t>(pass.stop) - pass.recordStart;
  std::string takeName = pass.takeName;
  bool overwriteAll = false;
  takes.stamp = NewTime();

  for (int c = 1; c <= pass.inputs && c <= kMaxTracks; ++c) {
    const std::size_t k = static_cast<std::size_t>(c - 1);
    if ((*pass.armed)[k] != 1) {
      takes.takeList += "-\n";
      continue;
    }
    std::string name;
    if (!pass.takeNameMode) {
      // A clock without a battery can come back to a time it showed before: never let an
      // automatic name land on an earlier take, nor the name that "pad" later gives it.
      std::int32_t stamp = NewTime();
      const auto taken = [&](std::int32_t candidate) {
        return FileExists(AutomaticTakeName(c, candidate, pass.recordStart)) ||
               FileExists(AutomaticTakeName(c, candidate, 0));
      };
      while (taken(stamp) && stamp < INT32_MAX) ++stamp;
      name = AutomaticTakeName(c, stamp, pass.recordStart);
      takes.stamp = stamp;
    } else {
      const std::string_view line = k < recordLines.size() ? std::string_view(recordLines[k]) : std::string_view();
      name = ChosenTakeName(line, takeName, pass.recordStart);
      while (FileExists(name) && !overwriteAll) {
        std::printf("The file named %s already exists!\n", name.c_str());
        std::puts("Enter a different take name or 'w' to overwrite this file");
        std::puts("or 'W' to overwrite all similar conflicts");
        const std::string answer = input.ReadWord();
        if (answer == "w") break;
        if (answer == "W") {
          overwriteAll = true;
          break;
        }
        takeName = answer;  // for this channel and all after it
        name = ChosenTakeName(line, takeName, pass.recordStart);
      }
    }
    takes.names[k] = name;
    takes.failures[k] = MAKE_HEADER(name, pass.sr, 24, plannedLength, 1);
    takes.takeList += (takes.failures[k].empty() ? name : std::string("-")) + "\n";
  }
  return takes;
}

PassOutcome TakeNameCommand(Session& session, std::string& word) {
  const std::size_t underscore = word.find('_');
  session.takes.takeNameMode = true;
  session.takes.takeName = word.substr(underscore + 1);
  word.resize(underscore);
  return PassOutcome::Continue;
}

}  // namespace tapeloom
