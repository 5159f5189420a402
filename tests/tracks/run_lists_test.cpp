// Resolving the list files into what one run plays and records.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/typed_input.h"
#include "support/wave_builder.h"
#include "tracks/run_lists.h"

namespace tapeloom {
namespace {

class RunListsTest : public testing::Test {
 protected:
  void SetUp() override {
    settings.ch = 4;
    settings.inputs = 3;
    settings.outputs = 2;
    settings.sr = 48000;  // the rate WaveBuilder writes
  }

  void Wave(const std::string& name, int frames, int channels = 1, std::uint32_t rate = 48000) {
    test::WriteBytes(
        dir / name,
        test::WaveBuilder().Channels(channels).SampleRate(rate).Samples(test::PositionCoded(frames, channels)).Build());
  }

  RunLists Resolve(const RunListRequest& request, const std::string& answers = "", std::string* printed = nullptr) {
    test::TypedInput input(answers);
    testing::internal::CaptureStdout();
    RunLists lists;
    try {
      lists = ResolveRunLists(settings, input, request);
    } catch (...) {
      testing::internal::GetCapturedStdout();
      throw;
    }
    const std::string out = testing::internal::GetCapturedStdout();
    if (printed != nullptr) *printed = out;
    return lists;
  }

  test::TempDir dir;
  test::WorkingDirectory inDir{dir.path()};
  SessionSettings settings;
};

TEST_F(RunListsTest, ActiveTracksPassTheWaveCheck) {
  Wave("a.wav", 100);
  Wave("stereo.wav", 100, 2);
  Wave("c.wav", 50);
  Wave("beyond.wav", 10);
  dir.Write("play.txt", "a.wav\n\nstereo.wav\n-c.wav\nmissing.wav\nbeyond.wav\n");
  dir.Write("record.txt", "");
  std::string printed;
  const RunLists lists = Resolve({.plays = true}, "", &printed);
  EXPECT_EQ(lists.activeTracks[0], 1);
  EXPECT_EQ(lists.attributes[0].length, 100);
  EXPECT_EQ(lists.attributes[0].dataOffset, 44);
  EXPECT_EQ(lists.activeTracks[1], 0);
  EXPECT_EQ(lists.activeTracks[2], 0) << "a skip line";
  EXPECT_EQ(lists.activeTracks[3], 0);
  EXPECT_EQ(lists.activeTracks[4], 0) << "beyond the track count";
  EXPECT_EQ(printed,
            "stereo.wav is not a mono file and will not be played\n"
            "Cannot find file in track list called missing.wav!!\n");
  EXPECT_EQ(lists.armedInputs, (std::array<int, kMaxTracks>{})) << "a play run arms nothing";
}

TEST_F(RunListsTest, SoloLeavesOnlySoloedTracks) {
  Wave("a.wav", 100);
  Wave("b.wav", 100);
  dir.Write("play.txt", "a.wav\nb.wav\n");
  dir.Write("record.txt", "");
  settings.solo[1] = 1;
  const RunLists lists = Resolve({.plays = true, .solo = true});
  EXPECT_EQ(lists.activeTracks[0], 0);
  EXPECT_EQ(lists.activeTracks[1], 1);
}

TEST_F(RunListsTest, RecordRunsArmInputsAndMarkReplacedTracks) {
  Wave("a.wav", 100);
  Wave("b.wav", 100);
  dir.Write("play.txt", "a.wav\nb.wav\n-\n-x\n");
  dir.Write("record.txt", "new.wav\n\nb.wav\n-\n-x\nlate.wav\n");
  const RunLists lists = Resolve({.plays = true, .records = true});
  EXPECT_EQ(lists.replacedTracks[0], 0);
  EXPECT_EQ(lists.replacedTracks[1], 1) << "the same file on the same line";
  EXPECT_EQ(lists.replacedTracks[2], 0) << "\"-\" replaces nothing";
  EXPECT_EQ(lists.replacedTracks[3], 1) << "only \"-\" itself is excluded";
  EXPECT_EQ(lists.armedInputs[0], 1);
  EXPECT_EQ(lists.armedInputs[1], 1);
  EXPECT_EQ(lists.armedInputs[2], 0);
  EXPECT_EQ(lists.armedInputs[3], 0) << "beyond the input count";
  EXPECT_EQ(lists.activeTracks[1], 1) << "a replaced track still plays up to the record start";
}

TEST_F(RunListsTest, MonitorArmsWithoutPlaying) {
  dir.Write("play.txt", "a.wav\n");
  dir.Write("record.txt", "x.wav\n-\ny.wav\n");
  const RunLists lists = Resolve({.monitor = true});
  EXPECT_EQ(lists.armedInputs[0], 1);
  EXPECT_EQ(lists.armedInputs[2], 1);
  EXPECT_EQ(lists.activeTracks[0], 0);
  EXPECT_EQ(lists.replacedTracks[0], 0);
}

TEST_F(RunListsTest, MissingListsAreAskedForAndStayInUse) {
  dir.Write("other.txt", "a.wav\n");
  dir.Write("takes.txt", "t.wav\n");
  settings.play[0] = "gone.txt";
  settings.rec[0] = "";
  std::string printed;
  const RunLists lists = Resolve({.records = true}, "still-gone.txt other.txt takes.txt", &printed);
  EXPECT_EQ(printed,
            "Cannot find playlist file called gone.txt\nCreate the file or enter a different name\n"
            "Cannot find playlist file called still-gone.txt\nCreate the file or enter a different name\n"
            "Cannot find recordlist file called \nCreate the file or enter a different name\n");
  EXPECT_EQ(settings.play[0], "other.txt");
  EXPECT_EQ(settings.rec[0], "takes.txt");
  EXPECT_EQ(lists.playText, "a.wav\n");
  EXPECT_EQ(lists.armedInputs[0], 1);
}

TEST_F(RunListsTest, EndOfInputWhileAskingEndsTheResolution) {
  settings.play[0] = "gone.txt";
  EXPECT_THROW(Resolve({.plays = true}), InputEnded);
}

TEST_F(RunListsTest, AuditionPlaysTheHybridList) {
  Wave("old.wav", 100);
  Wave("take.wav", 40);
  dir.Write("play.txt", "old.wav\nold.wav\n");
  dir.Write("record.txt", "");
  const RunLists lists = Resolve({.plays = true, .auditionList = "old.wav\ntake.wav\n"});
  EXPECT_EQ(lists.activeTracks[1], 1);
  EXPECT_EQ(lists.attributes[1].length, 40);
}

// A track at another rate than the session's is played and named in one line, only by runs that
// play it: not by the input monitor, not for a file of the record list, not for a track that a
// soloed play leaves out.
TEST_F(RunListsTest, OtherRatesAreNamedForTheTracksThatPlay) {
  Wave("p44.wav", 100, 1, 44100);
  Wave("p48.wav", 100, 1, 48000);
  Wave("r44.wav", 100, 1, 44100);
  dir.Write("play.txt", "p44.wav\np48.wav\n");
  dir.Write("record.txt", "r44.wav\n");
  const std::string p44 = "p44.wav is a 44100 Hz file; the session runs at 48000 Hz, so it plays at the wrong speed\n";
  enum Kind { kPlay, kRecord, kMonitor, kSoloedPlay, kAudition };
  struct Case {
    const char* what;
    Kind kind;
    int soloed;  // the track (from 1) soloed, or 0
    std::uint32_t sessionRate;
    std::string printed;
  };
  const std::vector<Case> cases = {
      {"a play run", kPlay, 0, 48000, p44},
      {"a record run", kRecord, 0, 48000, p44},
      {"the input monitor", kMonitor, 0, 48000, ""},
      {"a soloed play of the other track", kSoloedPlay, 2, 48000, ""},
      {"a soloed play of this track", kSoloedPlay, 1, 48000, p44},
      {"an audition of a take at another rate", kAudition, 0, 48000,
       "r44.wav is a 44100 Hz file; the session runs at 48000 Hz, so it plays at the wrong speed\n"},
      {"a session at 96 kHz", kPlay, 0, 96000,
       "p44.wav is a 44100 Hz file; the session runs at 96000 Hz, so it plays at the wrong speed\n"
       "p48.wav is a 48000 Hz file; the session runs at 96000 Hz, so it plays at the wrong speed\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunListRequest request;
    request.plays = c.kind != kMonitor;
    request.records = c.kind == kRecord;
    request.monitor = c.kind == kMonitor;
    request.solo = c.kind == kSoloedPlay;
    if (c.kind == kAudition) request.auditionList = "p48.wav\nr44.wav\n";
    settings.sr = c.sessionRate;
    settings.solo = {};
    if (c.soloed > 0) settings.solo[static_cast<std::size_t>(c.soloed - 1)] = 1;
    std::string printed;
    const RunLists lists = Resolve(request, "", &printed);
    EXPECT_EQ(printed, c.printed);
    if (c.kind == kPlay || c.kind == kRecord) {
      EXPECT_EQ(lists.activeTracks[0], 1) << "a track at another rate still plays";
    }
  }
}

}  // namespace
}  // namespace tapeloom
