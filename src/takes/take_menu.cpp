#include "takes/take_menu.h"

#include <cstdio>
#include <string>

#include "takes/crossfade.h"
#include "takes/take_files.h"
#include "tracks/list_files.h"
#include "tracks/overwrite_check.h"
#include "wave/file_creation.h"
#include "wave/text_file.h"

namespace tapeloom {
namespace {

void ShowTakeMenu(int interfaceMode) {
  if (interfaceMode == 1) {
    std::puts("\nRecording finished.  Enter a take handling command.\n");
    std::puts("Current take files:");
    std::puts("\t'aud' to audition current take");
    std::puts("\t'del' to delete current take");
    std::puts("\nChange files in record.txt (permanently):");
    std::puts("\t'rep' to replace files in record.txt with current take");
    std::puts("\t'ins' to insert new take into record.txt files");
    std::puts("\t'cin' to make a backup copy before inserting");
    std::puts("\nMake new files using record.txt names as base:");
    std::puts("\t'awp' to append base name, with padding (audio in sync)");
    std::puts("\t'aws' to append base name, with time stamp");
    std::puts("\t'app' to append base name, no padding or time stamp");
    std::puts("\nMake file names automatically:");
    std::puts("\t'pad' to save as padded files (audio in sync)");
    std::puts("\t'stp' to save with time stamp\n");
  } else if (interfaceMode == 0) {
    std::puts("Recording finished.  Enter a take handling command.");
  }
}

// The takes of one recording and the record list lines they belong to. Only channels that
// recorded are ever touched: a take that was never written, or whose writing failed, keeps
// its name and its file.
class TakeMenu {
 public:
  TakeMenu(TakeState& takes, const SessionSettings& settings, ConsoleInput& input, SamplePosition crossfadeFrames)
      : takes_(takes),
        settings_(settings),
        input_(input),
        crossfadeFrames_(crossfadeFrames),
        inputs_(settings.inputs),
        recordStart_(takes.recordStart) {}

  TakeMenuOutcome Run(RunRequest& audition) {
    for (;;) {
      ShowTakeMenu(settings_.int_);
      std::string word = input_.ReadWord();
      if (word == "rep") {
        if (settings_.safe == 1) {
          std::puts("The file safety switch is on.");
          std::puts("Do you really want to replace a whole file rather than insert? (y,n)");
          word = input_.ReadWord();
          if (word == "y" && Replace()) return Settled();
          if (word == "y") continue;
          // Any other answer is taken as the next take command.
        } else if (Replace()) {
          return Settled();
        } else {
          continue;
        }
      }
      if (word == "del") {
        DeleteTakes();
        return Settled(false);
      }
      if (word == "app" || word == "aws") {
        std::puts("Enter characters to append with.");
        std::string characters = input_.ReadWord();
        if (word == "aws") AppendFormat(characters, "_stp_%i", recordStart_);
        APPEND_NAMES(inputs_, takes_.takeList, takes_.recordListText, characters, takes_.recorded, input_);
        return Settled();
      }
      if (word == "stp") {
        // Automatic names already carry a record start other than 0.
        if (recordStart_ == 0) STAMP_FILES(inputs_, takes_.takeList, 0, takes_.recorded);
        return Settled();
      }
      if (word == "pad") {
        ForEachRecorded([this](const std::string& take, const std::string&) {
          // The padded take appears under its new name only whole, and never in place of a
          // file that has that name.
          const std::string padded = StampRemovedName(take);
          if (padded == take) {
            PAD_FILE(take, recordStart_);
          } else if (PadTake(take, recordStart_, padded, Placement::kKeepExisting).ok()) {
            REMOVE_FILES(1, take);
          }
        });
        return Settled();
      }
      if (word == "awp") {
        std::puts("Enter characters to append with.");
        const std::string characters = input_.ReadWord();
        TrackFlags padded = takes_.recorded;
        ForEachRecorded([&](const std::string& take, const std::string&) {
          if (!PAD_FILE(take, recordStart_).ok()) padded[static_cast<std::size_t>(channel_)] = 0;  // keeps its name
        });
        APPEND_NAMES(inputs_, takes_.takeList, takes_.recordListText, characters, padded, input_);
        return Settled();
      }
      if (word == "ins") {
        Insert(false);
        return Settled();
      }
      if (word == "cin") {
        Insert(true);
        return Settled();
      }
      if (word == "aud") {
        PrepareAudition(audition);
        return TakeMenuOutcome::Audition;
      }
    }
  }

 private:
  // A command was carried out. The takes whose writing failed were left out of it, unless
  // they were deleted: the user is told which.
  TakeMenuOutcome Settled(bool reportFailedTakes = true) {
    if (reportFailedTakes) ReportFailedTakes();
    takes_.pending = false;
    return TakeMenuOutcome::Settled;
  }

  template <typename Action>
  void ForEachRecorded(Action action) {
    for (channel_ = 0; channel_ < inputs_ && channel_ < kMaxTracks; ++channel_) {
      if (takes_.recorded[static_cast<std::size_t>(channel_)] != 1) continue;
      action(RETURN_NAME(inputs_, takes_.takeList, channel_), RETURN_NAME(inputs_, takes_.recordListText, channel_));
    }
  }

  // A take whose writing failed during the recording holds only part of the performance: no
  // command puts it in place of another file or renames it, and the user is told which.
  void ReportFailedTakes() const {
    for (int k = 0; k < inputs_ && k < kMaxTracks; ++k) {
      const FileStatus& failure = takes_.writeFailures[static_cast<std::size_t>(k)];
      if (failure.ok()) continue;
      const std::string take = RETURN_NAME(inputs_, takes_.takeList, k);
      std::printf("%s was left as it is: writing it failed during the recording (%s)\n", take.c_str(),
                  failure.Reason().c_str());
    }
  }

  // "rep": the takes take the place of the record list's files. Returns false when the user
  // went back to the menu.
  bool Replace() {
    if (takes_.dontAskAgain == 0 && FILE_CHECK(inputs_, takes_.recordListText, takes_.dontAskAgain, input_) == 0) {
      return false;
    }
    ForEachRecorded([this](const std::string& take, const std::string& target) {
      // A FIFO, a directory or a device under the record list's name was made for another use:
      // the take does not take its place.
      if (!Report(CheckReplaceable(target, "replace"))) {
        std::printf("%s did not replace %s; the take is kept\n", take.c_str(), target.c_str());
        return;
      }
      // A take that could not be padded stays as it is rather than replace a good file.
      if (recordStart_ != 0 && !PAD_FILE(take, recordStart_).ok()) return;
      RENAME_FILES(1, take, target);
    });
    return true;
  }

  void DeleteTakes() {
    for (int k = 0; k < inputs_; ++k) {
      const std::string take = RETURN_NAME(inputs_, takes_.takeList, k);
      if (!take.empty() && take != "-") REMOVE_FILES(1, take);
    }
  }

  // "ins" and "cin": each take goes into its record list file at the record start. A take is
  // deleted only once it is in place and on the disk; one whose insertion failed stays.
  void Insert(bool backUpFirst) {
    TrackFlags settled{};
    if (backUpFirst) {
      ForEachRecorded([&](const std::string&, const std::string& target) {
        // Without the backup the user asked for, an existing file is not changed.
        if (COPY_FILE(takes_.stamp, target) == 0 && PathExists(target)) {
          settled[static_cast<std::size_t>(channel_)] = -1;
        }
      });
    }
    ForEachRecorded([&](const std::string& take, const std::string& target) {
      const std::size_t k = static_cast<std::size_t>(channel_);
      if (settled[k] == -1) return;
      // No file yet: the padded take becomes it, unless one appears meanwhile.
      const FileStatus done = PathExists(target)
                                  ? InsertTakeWithCrossfades(target, take, recordStart_, takes_.recordLength,
                                                             crossfadeFrames_, settings_.sr)
                                  : PadTake(take, recordStart_, target, Placement::kKeepExisting);
      settled[k] = done.ok() ? 1 : 0;
    });
    ForEachRecorded([&](const std::string& take, const std::string&) {
      if (settled[static_cast<std::size_t>(channel_)] == 1) REMOVE_FILES(1, take);
    });
  }

  // "aud": which quarter of the takes to hear. The run plays every track, with each recorded
  // input's take standing in for its track from the record start of the recording.
  void PrepareAudition(RunRequest& audition) {
    std::puts("0 = hear whole take   1 = 1st 1/4   2 = 2nd 1/4   3 = 3rd 1/4   4 = 4th 1/4");
    const std::string answer = input_.ReadWord();
    const SamplePosition q = takes_.recordLength / 4;
    if (answer == "0") SetQuarter(0, 0);
    if (answer == "1") SetQuarter(0, 3 * q);
    if (answer == "2") SetQuarter(q, 2 * q);
    if (answer == "3") SetQuarter(2 * q, q);
    if (answer == "4") SetQuarter(3 * q, 0);
    audition = RunRequest{.kind = RunKind::kAudition,
                          .auditionStartOffset = takes_.auditionStartOffset,
                          .auditionStopCut = takes_.auditionStopCut};
    for (int k = 0; k < inputs_ && k < kMaxTracks; ++k) {
      const std::size_t ki = static_cast<std::size_t>(k);
      audition.trackStartOffsets[ki] = takes_.recorded[ki] == 1 ? recordStart_ : 0;
    }
  }

  void SetQuarter(SamplePosition startOffset, SamplePosition stopCut) {
    takes_.auditionStartOffset = startOffset;
    takes_.auditionStopCut = stopCut;
  }

  TakeState& takes_;
  const SessionSettings& settings_;
  ConsoleInput& input_;
  const SamplePosition crossfadeFrames_;
  const int inputs_;
  const SamplePosition recordStart_;
  int channel_ = 0;  // the channel ForEachRecorded is at
};

}  // namespace

TakeMenuOutcome RunTakeMenu(TakeState& takes, const SessionSettings& settings, ConsoleInput& input,
                            SamplePosition crossfadeFrames, RunRequest& audition) {
  return TakeMenu(takes, settings, input, crossfadeFrames).Run(audition);
}

}  // namespace tapeloom
