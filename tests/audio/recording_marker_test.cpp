// The marker of a recording in progress and the start-up's repair of the takes it lists: the
// marker's text, the header set to the whole frames on disk, and every file that is not the
// take the recording wrote left byte for byte as it is.
#include "audio/recording_marker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/file_faults.h"
#include "support/temp_dir.h"
#include "support/wave_builder.h"

namespace tapeloom::test {
namespace {

namespace fs = std::filesystem;

TEST(RecordingMarkerText, ReadsBackWhatItWritesAndNothingElse) {
  const std::vector<MarkedTake> takes = {{"in2_take.wav", 2049, 1234567, 44, 48000},
                                         {"a take named with blanks.wav", UINT64_MAX, UINT64_MAX, 44, 96000}};
  const std::string text = FormatRecordingMarker(takes);
  EXPECT_EQ(ParseRecordingMarker(text), takes);
  const std::string first = FormatRecordingMarker({});
  EXPECT_EQ(ParseRecordingMarker(first), std::vector<MarkedTake>{});

  const std::string notMarkers[] = {
      "",
      text.substr(0, text.size() - 1),  // cut short
      "take 1 2 44 48000 a.wav\n",      // no first line
      first + "take 1 2 44 48000\n",    // no name
      first + "take 1 2 44 48000 \n",
      first + "take 1 2 44 0 a.wav\n",           // no rate
      first + "take -1 2 44 48000 a.wav\n",      // not a number
      first + "take 1 2 44 4294967296 a.wav\n",  // beyond 32 bits
      first + "take 1  2 44 48000 a.wav\n",      // not one blank
      first + "tape 1 2 44 48000 a.wav\n",
      first + "take 1 2 44 48000 a.wav\n\n",  // an empty line
  };
  for (const std::string& bad : notMarkers) EXPECT_EQ(ParseRecordingMarker(bad), std::nullopt) << bad;
}

// A take as the recording leaves it: the canonical header announcing `announced` frames, then
// `frames` frames and `trailing` bytes.
Bytes Take(std::int64_t frames, std::int64_t announced, std::string_view trailing = "") {
  const auto data = static_cast<std::uint32_t>(announced * 3);
  return WaveBuilder().Samples(PositionCoded(frames)).DataSize(data).RiffSize(data + 36).Trailing(trailing).Build();
}

// The same bytes with the header announcing `frames`.
Bytes Announcing(Bytes bytes, std::int64_t frames) {
  const auto data = static_cast<std::uint32_t>(frames * 3);
  for (int i = 0; i < 4; ++i) {
    bytes[static_cast<std::size_t>(4 + i)] = static_cast<unsigned char>((data + 36) >> (8 * i));
    bytes[static_cast<std::size_t>(40 + i)] = static_cast<unsigned char>(data >> (8 * i));
  }
  return bytes;
}

class TakeRepairTest : public testing::Test {
 protected:
  // What the recording marks of a take it opened.
  MarkedTake Mark(const std::string& name, std::uint32_t rate = 48000) {
    MarkedTake take{.name = name, .dataOffset = 44, .sampleRate = rate};
    FileStatus status;
    const FileDescriptor file = OpenForReading(name, status);
    EXPECT_TRUE(IdentifyTake(file, take).ok());
    return take;
  }
  std::string Repair() {
    testing::internal::CaptureStdout();
    RepairInterruptedRecording();
    return testing::internal::GetCapturedStdout();
  }

  TempDir dir;
  WorkingDirectory inDir{dir.path()};
};

TEST_F(TakeRepairTest, SetsTheHeaderToTheWholeFramesOnDisk) {
  struct Case {
    const char* what;
    std::int64_t frames;
    std::int64_t announced;
    std::string_view trailing;
    TakeRepair result;
  };
  const Case cases[] = {
      {"a second behind: 1.7 s on disk", 81600, 48000, "", TakeRepair::kRepaired},
      {"an odd frame count (an odd data size)", 4097, 4096, "", TakeRepair::kRepaired},
      {"a partial frame at the end", 1000, 0, "\x01\x02", TakeRepair::kRepaired},
      {"a header ahead of the data", 1000, 2000, "", TakeRepair::kRepaired},
      {"the whole take announced", 48000, 48000, "", TakeRepair::kWhole},
      {"nothing recorded", 0, 0, "", TakeRepair::kWhole},
      {"the whole take and a partial frame", 10, 10, "\x05", TakeRepair::kWhole},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes before = Take(c.frames, c.announced, c.trailing);
    WriteBytes("in2_take.wav", before);
    std::int64_t frames = -1;
    FileStatus status;
    EXPECT_EQ(RepairTake(Mark("in2_take.wav"), frames, status), c.result);
    EXPECT_TRUE(status.ok()) << status.Message();
    EXPECT_EQ(frames, c.frames);
    // The sizes say the whole frames (RIFF = data + 36, as every take's header); every other
    // byte, the partial frame included, is as it was.
    EXPECT_EQ(ReadBytes("in2_take.wav"), Announcing(before, c.frames));
  }
}

TEST_F(TakeRepairTest, LeavesAFileThatIsNotTheTakeAsItIs) {
  struct Case {
    const char* what;
    std::function<void()> change;  // what happened to in2_take.wav after the crash
    std::uint32_t markedRate = 48000;
  };
  const Bytes take = Take(81600, 48000);
  const auto rewrite = [](const Bytes& bytes) { return [bytes] { WriteBytes("in2_take.wav", bytes); }; };
  const Case cases[] = {
      {"gone", [] { fs::remove("in2_take.wav"); }},
      {"moved away", [] { fs::rename("in2_take.wav", "keep.wav"); }},
      {"replaced by a copy (another inode)",
       [] {
         fs::copy_file("in2_take.wav", "copy.wav");
         fs::rename("copy.wav", "in2_take.wav");
       }},
      {"a link to the take in its place",
       [] {
         fs::rename("in2_take.wav", "keep.wav");
         fs::create_symlink("keep.wav", "in2_take.wav");
       }},
      {"a FIFO in its place",
       [] {
         fs::remove("in2_take.wav");
         ASSERT_EQ(::mkfifo("in2_take.wav", 0600), 0);
       }},
      {"a folder in its place",
       [] {
         fs::remove("in2_take.wav");
         fs::create_directory("in2_take.wav");
       }},
      // Rewritten in place (the same inode), as an editor may.
      {"stereo now", rewrite(WaveBuilder().Channels(2).Samples(PositionCoded(100, 2)).Build())},
      {"16-bit now", rewrite(WaveBuilder().Bits(16).Samples(PositionCoded(100)).Build())},
      {"a chunk before the data",
       rewrite(WaveBuilder().ChunkBeforeData("LIST", "info").Samples(PositionCoded(100)).Build())},
      {"sizes that disagree", rewrite(WaveBuilder().Samples(PositionCoded(100)).DataSize(30).RiffSize(70).Build())},
      {"cut inside the header", rewrite(Bytes(take.begin(), take.begin() + 30))},
      {"another rate than the recording's", [] {}, 44100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"in2_take.wav", "keep.wav"}) fs::remove_all(name);
    WriteBytes("in2_take.wav", take);
    const MarkedTake marked = Mark("in2_take.wav", c.markedRate);
    c.change();
    const auto snapshot = [] {
      std::vector<std::string> seen;
      for (const char* name : {"in2_take.wav", "keep.wav"}) {
        const fs::file_status status = fs::symlink_status(name);
        seen.push_back(std::to_string(static_cast<int>(status.type())));
        if (status.type() == fs::file_type::regular) seen.push_back(ReadFileBytes(name));
        if (status.type() == fs::file_type::symlink) seen.push_back(fs::read_symlink(name).string());
      }
      return seen;
    };
    const std::vector<std::string> before = snapshot();
    std::int64_t frames = -1;
    FileStatus status;
    EXPECT_EQ(RepairTake(marked, frames, status), TakeRepair::kChangedSince);
    EXPECT_TRUE(status.ok()) << status.Message();
    EXPECT_EQ(snapshot(), before);
  }
}

TEST_F(TakeRepairTest, AtStartUpRepairsSaysAndRemovesTheMarker) {
  const Bytes lagging = Take(81600, 48000);
  const Bytes whole = Take(4096, 4096);
  WriteBytes("in2_take.wav", lagging);
  WriteBytes("in3_take.wav", whole);
  WriteBytes("in4 take.wav", whole);
  {
    // Written and left behind, as by a run that was killed.
    FileStatus status;
    const RecordingMarker marker = RecordingMarker::Write(
        {Mark("in2_take.wav"), Mark("in3_take.wav"), Mark("in4 take.wav"), Mark("in2_take.wav", 96000)}, status);
    ASSERT_TRUE(marker && status.ok()) << status.Message();
  }
  fs::remove("in4 take.wav");
  EXPECT_EQ(Repair(),
            "in2_take.wav was not finished: repaired, 81600 frames (1.70 s)\n"
            "in4 take.wav was not finished, but it is gone or was changed since: left as it is\n"
            "in2_take.wav was not finished, but it is gone or was changed since: left as it is\n");
  EXPECT_EQ(ReadBytes("in2_take.wav"), Announcing(lagging, 81600));
  EXPECT_EQ(ReadBytes("in3_take.wav"), whole);
  EXPECT_FALSE(fs::exists(kRecordingMarkerName));
  EXPECT_EQ(Repair(), "");
}

TEST_F(TakeRepairTest, AFinishedRunRemovesItsOwnMarkerOnlyAndALiveOneIsLeftAlone) {
  const Bytes lagging = Take(100, 0);
  WriteBytes("in2_take.wav", lagging);
  FileStatus status;
  RecordingMarker marker = RecordingMarker::Write({Mark("in2_take.wav")}, status);
  ASSERT_TRUE(marker && status.ok()) << status.Message();
  EXPECT_EQ(Repair(), "A recording is in progress in this folder: its takes are left as they are.\n");
  EXPECT_EQ(ReadBytes("in2_take.wav"), lagging);
  marker.Remove();
  EXPECT_FALSE(fs::exists(kRecordingMarkerName));

  // Another run's marker in its place is not this run's to remove.
  marker = RecordingMarker::Write({Mark("in2_take.wav")}, status);
  const std::string other = FormatRecordingMarker({});
  WriteFileBytes("other", other);
  fs::rename("other", kRecordingMarkerName);
  marker.Remove();
  EXPECT_EQ(ReadFileBytes(kRecordingMarkerName), other);
}

TEST_F(TakeRepairTest, AMarkerThatIsNotOneIsNamedAndLeftAlone) {
  const Bytes lagging = Take(100, 0);
  WriteBytes("in2_take.wav", lagging);
  const std::string text = FormatRecordingMarker({Mark("in2_take.wav")});
  WriteFileBytes("elsewhere", text);
  const std::vector<std::function<void()>> makers = {
      [] { fs::create_symlink("elsewhere", kRecordingMarkerName); },
      [] { fs::create_directory(kRecordingMarkerName); },
      [] { ASSERT_EQ(::mkfifo(kRecordingMarkerName, 0600), 0); },
      [&] { WriteFileBytes(kRecordingMarkerName, text.substr(0, text.size() - 3)); },
      [] { WriteFileBytes(kRecordingMarkerName, "my notes\n"); },
  };
  for (std::size_t n = 0; n < makers.size(); ++n) {
    SCOPED_TRACE(n);
    fs::remove_all(kRecordingMarkerName);
    makers[n]();
    const fs::file_type type = fs::symlink_status(kRecordingMarkerName).type();
    EXPECT_EQ(Repair(), ".tapeloom-recording is not a recording marker Tapeloom can read: left as it is\n");
    EXPECT_EQ(fs::symlink_status(kRecordingMarkerName).type(), type);
    EXPECT_EQ(ReadBytes("in2_take.wav"), lagging);
    EXPECT_EQ(ReadFileBytes("elsewhere"), text);
  }
}

TEST_F(TakeRepairTest, ATakeThatCannotBeRepairedKeepsTheMarkerForTheNextStart) {
  // Each write and flush of the start-up's part fails in turn (the take's header, its flush,
  // the folder's after the marker went): the failure is said, and the next start-up does what
  // was left undone.
  const Bytes lagging = Take(81600, 48000);
  const std::string repaired = "in2_take.wav was not finished: repaired, 81600 frames (1.70 s)\n";
  for (int n = 1;; ++n) {
    SCOPED_TRACE(n);
    WriteBytes("in2_take.wav", lagging);
    FileStatus status;
    RecordingMarker::Write({Mark("in2_take.wav")}, status);
    ASSERT_TRUE(status.ok()) << status.Message();
    std::string said;
    {
      const FailingWrite failing(n);
      said = Repair();
      if (!failing.fired()) {
        EXPECT_EQ(said, repaired);
        EXPECT_EQ(n, 4);
        break;
      }
    }
    const bool kept = n <= 2;
    if (kept) {
      EXPECT_EQ(said,
                "in2_take.wav was not finished, and could not be repaired: Can't write to in2_take.wav: "
                "Input/output error\n");
    } else {
      EXPECT_TRUE(said.starts_with(repaired + "Can't write to ")) << said;
      EXPECT_TRUE(said.ends_with(": Input/output error\n")) << said;
    }
    EXPECT_EQ(fs::exists(kRecordingMarkerName), kept);
    // A header written but not flushed is whole at the next start, which says nothing.
    EXPECT_EQ(Repair(), n == 1 ? repaired : "");
    EXPECT_EQ(ReadBytes("in2_take.wav"), Announcing(lagging, 81600));
    EXPECT_FALSE(fs::exists(kRecordingMarkerName));
  }
}

}  // namespace
}  // namespace tapeloom::test
