#include "app/startup.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "app/arguments.h"
#include "app/play_rec.h"
#include "app/settings_file.h"
#include "audio/recording_marker.h"
#include "core/program_end.h"
#include "wave/text_file.h"
#include "wave/wave_file.h"

namespace tapeloom {
namespace {

constexpr const char* kDashes = "-------------------------";

void CreateEmptyFile(const char* name) {
  // Only when nothing of that name exists: slot 1 may name another list, and the user's
  // record.txt or play.txt must not be emptied. Start-up goes on whether or not the file could
  // be made; the next run asks for a list that is still missing.
  FileStatus ignored;
  CreateExclusive(name, ignored);
}

void AskFirstRunQuestions(SessionSettings& s, ConsoleInput& input) {
  std::puts("\nThe param.txt file was not found.");
  std::puts("Parameters are stored in this file.");
  std::puts("\nEnter 'c' to create this file now or 'x' to exit");
  for (;;) {
    const std::string word = input.ReadWord();
    if (word == "x") EndProgram(kExitFirstRunDeclined);
    if (word == "c") break;
  }

  std::printf("\nEnter the number of audio interface INPUTS: ");
  if (const auto n = input.ReadInt()) s.inputs = *n;
  std::printf("\nEnter the number of audio interface OUTPUTS: ");
  if (const auto n = input.ReadInt()) s.outputs = *n;
  std::printf("\nEnter the maxiumum number of audio TRACKS needed: ");
  if (const auto n = input.ReadInt()) s.ch = *n;
  std::printf("\nEnter soundcard device name or 'd' for default: ");
  const std::string device = input.ReadWord();
  s.dv = device == "d" ? "default" : device;
  std::puts("\nEnter project sample rate or");
  std::puts("1 = 44100,  2 = 48000,  3 = 88200,  4 = 96000");
  if (const auto n = input.ReadInt()) {
    switch (*n) {
      case 1: s.sr = 44100; break;
      case 2: s.sr = 48000; break;
      case 3: s.sr = 88200; break;
      case 4: s.sr = 96000; break;
      default:
        if (*n >= static_cast<int>(kMinSampleRate) && *n <= static_cast<int>(kMaxSampleRate)) {
          s.sr = static_cast<std::uint32_t>(*n);
        } else {
          std::printf("%i is not a sample rate from %u to %u Hz: the rate stays at %u Hz.\n", *n, kMinSampleRate,
                      kMaxSampleRate, s.sr);
        }
        break;
    }
  }
}

// A file that is there but cannot be read (a directory, a FIFO, no permission) is named with
// the reason before the messages for a missing file, which would not tell the whole story.
void SayWhyUnlessMissing(const FileStatus& status) {
  if (status.error != ENOENT) Report(status);
}

}  // namespace

void RunFirstRunDialogue(SessionSettings& s, ConsoleInput& input) {
  // Input that ends anywhere in these questions declines them, as "x" does: nothing is
  // created and the questions come again at the next start.
  try {
    AskFirstRunQuestions(s, input);
  } catch (const InputEnded&) {
    EndProgram(kExitFirstRunDeclined);
  }
  s.firstRun = 1;
}

void EnsureListFiles(const SessionSettings& s) {
  const std::string& recordList = s.rec[0];
  std::string text;
  if (const FileStatus read = ReadWholeFile(recordList, text); !read.ok()) {
    SayWhyUnlessMissing(read);
    std::puts(kDashes);
    std::printf("Could not find the record file list called %s\n", recordList.c_str());
    CreateEmptyFile("record.txt");
    std::puts("Created a file called record.txt that you will need.");
    std::puts("Put a list of wave files in this list, one per line.");
    std::puts("Each line will be assigned to an input hardware channel.");
    std::puts("Use a '-' on a line to skip over channel.");
    std::puts(kDashes);
  } else if (text.empty()) {
    std::puts(kDashes);
    std::puts("Note: The record.txt file is empty!");
    std::puts(kDashes);
  }

  const std::string& playList = s.play[0];
  FileStatus opened;
  if (!OpenForReading(playList, opened)) {
    SayWhyUnlessMissing(opened);
    std::puts(kDashes);
    std::printf("Cound not find the playlist file called %s\n", playList.c_str());
    CreateEmptyFile("play.txt");
    std::puts("Created a file called play.txt that you will need.");
    std::puts("Put a list of wave files in this list, one per line.");
    std::puts("Each line will be assigned to an output hardware channel.");
    std::puts("Use a '-' on a line to skip over channel.");
    std::puts(kDashes);
  }
}

void ResolveChannelCounts(SessionSettings& s) {
  if (s.ch > kMaxTracks) s.ch = kMaxTracks;
  if (s.inputs > kMaxTracks) s.inputs = kMaxTracks;
  if (s.outputs > kMaxTracks) s.outputs = kMaxTracks;
  if (s.inputs < 0) s.inputs = (s.outputs < 0 && s.ch > 0) ? s.ch : 2;
  if (s.outputs < 0) s.outputs = 2;
  if (s.ch < 0) s.ch = 2;
  s.ch = std::max({s.ch, s.inputs, s.outputs});
}

void PrintConfiguration(const SessionSettings& s) {
  std::puts(kDashes);
  std::puts("Requested Parameters:");
  std::printf("Device\t%s\n", s.dv.c_str());
  std::printf("Rate\t%i\n", static_cast<int>(s.sr));
  std::printf("Buffer\t%i\n", s.buf);
  std::puts(kDashes);
  std::puts("\nConfiguration:");
  std::printf("Interface inputs  = %i\n", s.inputs);
  std::printf("Interface outputs = %i\n", s.outputs);
  std::printf("Tracks (maximum)  = %i\n", s.ch);
}

int RunTapeloom(ConsoleInput& input) {
  try {
    std::printf("\n%s\n", kVersionLine);
    // Before anything reads or writes a take: the takes of a recording that never ended get
    // headers that announce all they hold.
    RepairInterruptedRecording();
    auto settings = std::make_unique<SessionSettings>();
    std::string text;
    if (const FileStatus read = ReadWholeFile(kSettingsFileName, text); read.ok()) {
      GET_PARAMS(text, *settings);
    } else {
      SayWhyUnlessMissing(read);
      RunFirstRunDialogue(*settings, input);
    }
    EnsureListFiles(*settings);
    ResolveChannelCounts(*settings);
    PrintConfiguration(*settings);
    PLAY_REC(*settings, input);
    return 0;
  } catch (const ProgramEnd& end) {
    return end.status();
  }
}

}  // namespace tapeloom
