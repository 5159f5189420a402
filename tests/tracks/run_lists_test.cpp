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
  }

  void Wave(const std::string& name, int frames, int channels = 1) {
    test::WriteBytes(dir / name,
                     test::WaveBuilder().Channels(channels).Samples(test::PositionCoded(frames, channels)).Build());
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

}  // namespace
}  // namespace tapeloom
