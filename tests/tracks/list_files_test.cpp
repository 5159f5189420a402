// List files: the bus check, the overwrite question and the tracks a run plays.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/typed_input.h"
#include "support/wave_builder.h"
#include "tracks/list_files.h"
#include "tracks/overwrite_check.h"
#include "tracks/run_lists.h"

namespace tapeloom {
namespace {

TEST(ListFiles, TracksFeedingNoBusAreLeftOut) {
  std::array<std::array<int, kMaxTracks>, kMaxBusses> assign{};
  assign[0][0] = assign[63][255] = 1;
  std::array<int, kMaxTracks> flags{};
  flags[0] = flags[1] = flags[255] = 1;
  VerifyChannels(assign, flags);
  EXPECT_EQ(flags[0] + 2 * flags[1] + 4 * flags[255], 5);
}

TEST(OverwriteCheck, CountsTheFilesThatExistAmongTheFirstNAndAsksUntilAnswered) {
  test::TempDir dir;
  for (const char* name : {"a.wav", "b.wav", "-", "-c.wav"}) dir.Write(name, "x");
  const test::WorkingDirectory inDir(dir.path());  // the lists' relative names resolve there
  const std::string asked = "-------------------------\n";
  const std::string question =
      "Enter 'w' to overwrite\nEnter 'W' to overwrite and don't ask again.\nEnter 'r' to "
      "return to previous menu.\n";
  // "-" names no file; "-c.wav" is no "-" and counts; -2: the input ended at a question.
  const struct {
    int n;
    std::string list, answers;
    int result, dontAskAgain;
    std::string printed;
  } cases[] = {{3, "x.wav\n-\ny.wav\n", "", 1, 0, ""},
               {-1, "a.wav\n", "", 1, 0, ""},
               {1, "a.wav\nb.wav\n", "w", 1, 0, asked + "1 file exists!\n" + question},
               {2, "a.wav\nb.wav\n", "W", 1, 1, asked + "2 files exists!\n" + question},
               {4, "a.wav\n-\nb.wav\n-c.wav\n", "what r", 0, 0, asked + "3 files exists!\n" + question + question}};
  for (const auto& c : cases) {
    test::TypedInput input(c.answers);
    int dontAskAgain = 0, result = -1;
    testing::internal::CaptureStdout();
    try {
      result = FILE_CHECK(c.n, c.list, dontAskAgain, input);
    } catch (const InputEnded&) {
      result = -2;
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.list;
    EXPECT_EQ(std::pair(result, dontAskAgain), std::pair(c.result, c.dontAskAgain)) << c.list;
  }
}

// What each kind of run plays, arms and replaces, and names for another rate. Play list entries: a (44.1 kHz),
// b, "-", "-x", a stereo file, and beyond the 5 tracks a missing one. The record list: t (44.1 kHz), b, "-",
// "-x", and beyond the 4 inputs z. A list that cannot be read is asked for until one is, and stays in use.
TEST(RunLists, TracksEachKindOfRunPlaysArmsAndReplaces) {
  test::TempDir dir;
  const test::WorkingDirectory inDir(dir.path());
  for (const auto& [name, rate, channels] :
       {std::tuple{"a.wav", 44100u, 1}, {"b.wav", 48000u, 1}, {"s.wav", 48000u, 2}, {"t.wav", 44100u, 1}}) {
    test::WriteBytes(dir / name, test::WaveBuilder().SampleRate(rate).Channels(channels).Build());
  }
  dir.Write("play.txt", "a.wav\nb.wav\n\n-\n-x\ns.wav\nmissing.wav\n");
  dir.Write("record.txt", "t.wav\nb.wav\n-\n-x\nz.wav\n");
  const auto rate = [](const std::string& name) {
    return name + ".wav is a 44100 Hz file; the session runs at 48000 Hz, so it plays at the wrong speed\n";
  };
  const std::string stereo = "s.wav is not a mono file and will not be played\n",
                    ask = "\nCreate the file or enter a different name\n";
  const std::string asked = "Cannot find playlist file called gone.txt" + ask +
                            "Cannot find playlist file called still-gone.txt" + ask +
                            "Cannot find recordlist file called " + ask;
  // Flags: the active tracks 1-6, the armed inputs 1-5, the replaced tracks 1-5. Where names are typed, the
  // run starts with the lists gone.txt and an empty name.
  // The request without its audition list, which is a name of its own: an optional string in a
  // table trips a false warning of GCC 12 at -O2.
  const struct {
    RunListRequest request;
    int tracks, soloed;  // the track count; the track soloed (from 1), or 0
    std::string answers, flags, printed;
    const char* audition = nullptr;
  } cases[] = {{{.plays = true}, 5, 0, "", "110000 00000 00000", rate("a") + stereo},
               {{.plays = true}, -1, 0, "", "000000 00000 00000", ""},
               {{.plays = true, .records = true}, 5, 0, "", "110000 11000 01010", rate("a") + stereo},
               {{.monitor = true}, 5, 0, "", "000000 11000 00000", ""},
               {{.plays = true, .solo = true}, 5, 2, "", "010000 00000 00000", stereo},
               {{.plays = true, .solo = true}, 5, 1, "", "100000 00000 00000", rate("a") + stereo},
               {{.plays = true}, 5, 0, "", "110000 00000 00000", rate("t"), "b.wav\nt.wav\n"},
               {{.records = true}, 5, 0, "still-gone.txt play.txt record.txt", "000000 11000 01010", asked}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags + " " + c.printed);
    SessionSettings settings;
    settings.ch = c.tracks;
    settings.inputs = 4;
    settings.sr = 48000;
    settings.play[0] = c.answers.empty() ? "play.txt" : "gone.txt";
    settings.rec[0] = c.answers.empty() ? "record.txt" : "";
    if (c.soloed > 0) settings.solo[static_cast<std::size_t>(c.soloed - 1)] = 1;
    test::TypedInput input(c.answers);
    testing::internal::CaptureStdout();
    RunListRequest request = c.request;
    if (c.audition != nullptr) request.auditionList = c.audition;
    const RunLists lists = ResolveRunLists(settings, input, request);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    std::string flags;
    for (const auto& [list, n] :
         {std::pair{&lists.activeTracks, 6u}, {&lists.armedInputs, 5u}, {&lists.replacedTracks, 5u}}) {
      for (std::size_t t = 0; t < n; ++t) flags += std::to_string((*list)[t]);
      flags += " ";
    }
    EXPECT_EQ(flags, c.flags + " ");
    EXPECT_EQ(settings.play[0] + " " + settings.rec[0], "play.txt record.txt");
  }
}

}  // namespace
}  // namespace tapeloom
