#include "takes/take_naming.h"

#include <cstdint>
#include <cstdio>

#include "takes/take_files.h"
#include "tracks/list_files.h"
#include "wave/file_creation.h"
#include "wave/text_file.h"
#include "wave/wave_header.h"

namespace tapeloom {
namespace {

// True when none of the names the take menu can make from this stamp exists yet: each armed
// input's take, the names "pad" and "stp" give it, and the backup "cin" makes of the input's
// record list file.
bool StampIsFree(const NamingPass& pass, const std::vector<std::string>& recordLines, std::int32_t stamp) {
  for (int c = 1; c <= pass.inputs && c <= kMaxTracks; ++c) {
    const std::size_t k = static_cast<std::size_t>(c - 1);
    if ((*pass.armed)[k] != 1) continue;
    const std::string take = AutomaticTakeName(c, stamp, pass.recordStart);
    if (PathExists(take) || PathExists(StampRemovedName(take))) return false;
    if (pass.recordStart == 0 && PathExists(StampedName(take, 0))) return false;
    if (k < recordLines.size() && PathExists(BackupName(recordLines[k], stamp))) return false;
  }
  return true;
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
  std::string takeName = pass.takeName;
  bool overwriteAll = false;
  // A clock without a battery comes back to times it showed before: the stamp is raised until
  // nothing the take menu may later name after it exists.
  takes.stamp = pass.stamp;
  if (!pass.takeNameMode) {
    while (!StampIsFree(pass, recordLines, takes.stamp) && takes.stamp < INT32_MAX) ++takes.stamp;
  }

  for (int c = 1; c <= pass.inputs && c <= kMaxTracks; ++c) {
    const std::size_t k = static_cast<std::size_t>(c - 1);
    if ((*pass.armed)[k] != 1) {
      takes.takeList += "-\n";
      continue;
    }
    std::string name;
    Placement placement = Placement::kKeepExisting;
    if (!pass.takeNameMode) {
      name = AutomaticTakeName(c, takes.stamp, pass.recordStart);
    } else {
      const std::string_view line = k < recordLines.size() ? std::string_view(recordLines[k]) : std::string_view();
      name = ChosenTakeName(line, takeName, pass.recordStart);
      while (PathExists(name)) {
        if (overwriteAll) {
          placement = Placement::kReplace;
          break;
        }
        std::printf("The file named %s already exists!\n", name.c_str());
        std::puts("Enter a different take name or 'w' to overwrite this file");
        std::puts("or 'W' to overwrite all similar conflicts");
        const std::string answer = input.ReadWord();
        if (answer == "w" || answer == "W") {
          overwriteAll = answer == "W";
          placement = Placement::kReplace;
          break;
        }
        takeName = answer;  // for this channel and all after it
        name = ChosenTakeName(line, takeName, pass.recordStart);
      }
    }
    takes.names[k] = name;
    // Created exclusively unless the user chose to overwrite: a file that appeared since its
    // name was found free is not truncated, and the input is left out instead.
    // Empty at first: a take on disk is always a valid wave file of what it holds.
    takes.failures[k] = MAKE_HEADER(name, pass.sr, 24, 0, 1, placement);
    takes.takeList += (takes.failures[k].ok() ? name : std::string("-")) + "\n";
  }
  return takes;
}

void TakeNameCommand(TakeState& takes, std::string& word) {
  const std::size_t underscore = word.find('_');
  takes.takeNameMode = true;
  takes.takeName = word.substr(underscore + 1);
  word.resize(underscore);
}

}  // namespace tapeloom
