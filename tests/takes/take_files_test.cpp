// The take file operations: list lines, renames, stamps, removal, names made from the record
// list with their dialogue, padding and backups, and what each does when a file cannot be
// written.
#include "takes/take_files.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include "support/typed_input.h"
#include "takes/take_files_support.h"

namespace tapeloom {
namespace {

using test::Bytes;
using test::Printed;
using test::Samples;
using Names = std::set<std::string>;

std::array<int, kMaxTracks> Flags(std::initializer_list<int> first) {
  std::array<int, kMaxTracks> flags{};
  std::copy(first.begin(), first.end(), flags.begin());
  return flags;
}

using ListOperations = test::InTempDir;

TEST_F(ListOperations, LinesAreTheNonEmptyLinesWithinCount) {
  const std::string longName(1000, 'n');
  const std::string list = "\n\na.wav\n\n\nb c.wav\n" + longName + "\nlast";
  EXPECT_EQ(RETURN_NAME(9, list, 0), "a.wav");
  EXPECT_EQ(RETURN_NAME(9, list, 1), "b c.wav");
  EXPECT_EQ(RETURN_NAME(9, list, 2), longName) << "never cut";
  EXPECT_EQ(RETURN_NAME(9, list, 3), "last") << "a last line without a newline counts";
  EXPECT_EQ(RETURN_NAME(3, list, 3), "") << "beyond count";
  EXPECT_EQ(RETURN_NAME(9, list, 4), "") << "beyond the list";
  EXPECT_EQ(RETURN_NAME(9, list, -1), "");
}

TEST_F(ListOperations, RenamesLineByLineAndADashNamesNoFile) {
  dir.Write("t1.wav", "take 1");
  dir.Write("t3.wav", "take 3");
  dir.Write("t4.wav", "take 4");
  dir.Write("a.wav", "old a");
  dir.Write("b.wav", "old b");
  dir.Write("-", "a user's file that happens to be called -");
  const std::string printed = Printed([] {
    RENAME_FILES(3, "t1.wav\n-\n\nt3.wav\nt4.wav\n", "a.wav\nb.wav\nc.wav\nd.wav\n");
    RENAME_FILES(1, "gone.wav\n", "e.wav\n");  // a missing take: silent
  });
  EXPECT_EQ(printed, "");
  EXPECT_EQ(dir.Read("a.wav"), "take 1") << "an existing target is replaced";
  EXPECT_EQ(dir.Read("b.wav"), "old b");
  EXPECT_EQ(dir.Read("c.wav"), "take 3");
  EXPECT_EQ(dir.Read("-"), "a user's file that happens to be called -");
  EXPECT_EQ(Files(), (Names{"-", "a.wav", "b.wav", "c.wav", "t4.wav"})) << "line 3 is beyond count";

  dir.Write("t5.wav", "take 5");
  EXPECT_EQ(Printed([] { RENAME_FILES(1, "t5.wav\n", "no-such-folder/a.wav\n"); }),
            "Can't rename t5.wav to no-such-folder/a.wav: No such file or directory\n")
      << "a missing target folder is no missing take";
  EXPECT_EQ(dir.Read("t5.wav"), "take 5");
}

TEST_F(ListOperations, StampsFlaggedLinesOnTheirStems) {
  const std::string longStem(230, 's');
  for (const std::string& name :
       {std::string("take"), std::string("x.y.wav"), std::string("unflagged.wav"), longStem + ".wav"}) {
    dir.Write(name, name);
  }
  const std::string printed = Printed([&] {
    STAMP_FILES(5, "take\n\nx.y.wav\nunflagged.wav\n-\n" + longStem + ".wav\n", 96000, Flags({1, 1, 0, 1, 1}));
  });
  EXPECT_EQ(printed, "");
  EXPECT_EQ(Files(), (Names{"take_stp_96000.wav", "x_stp_96000.wav", "unflagged.wav", longStem + "_stp_96000.wav"}));
  EXPECT_EQ(dir.Read("x_stp_96000.wav"), "x.y.wav");
}

TEST(TakeFileNames, StampsBackupsAndTheirRemoval) {
  EXPECT_EQ(StampRemovedName("audio_ch_1_5_stp_96000.wav"), "audio_ch_1_5.wav");
  EXPECT_EQ(StampRemovedName("a_stp_b_stp_1.wav"), "a.wav") << "cut at the first";
  EXPECT_EQ(StampRemovedName("plain.wav"), "plain.wav");
  EXPECT_EQ(StampedName("take", 0), "take_stp_0.wav");
  EXPECT_EQ(StampedName("dir/x.y.wav", -7), "dir/x_stp_-7.wav");
  EXPECT_EQ(BackupName("gtr.take.wav", 250000000), "gtr_bkup_250000000.wav");
  EXPECT_EQ(BackupName("nodot", -3), "nodot_bkup_-3.wav");
}

TEST_F(ListOperations, RemovesTheFilesOfTheFirstCountLines) {
  for (const char* name : {"a.wav", "-", "b.wav", "c.wav"}) dir.Write(name, name);
  std::filesystem::create_directory(dir / "folder.wav");
  const std::string printed = Printed([] { REMOVE_FILES(4, "a.wav\n-\n\ngone.wav\nfolder.wav\nc.wav\n"); });
  EXPECT_EQ(printed, "Can't remove folder.wav: Is a directory\n");
  EXPECT_EQ(Files(), (Names{"-", "b.wav", "c.wav", "folder.wav"}));
}

class AppendNames : public test::InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    for (const char* take : {"t1.wav", "t2.wav", "t3.wav"}) dir.Write(take, take);
  }

  std::string Append(const std::string& characters, std::string answers,
                     std::array<int, kMaxTracks> flags = Flags({1, 1, 1})) {
    test::TypedInput input(answers);
    std::string printed;
    try {
      printed = Printed([&] {
        APPEND_NAMES(3, "t1.wav\nt2.wav\nt3.wav\n", "gtr.wav\nbass.take.wav\nvox\n", characters, flags, input.get());
      });
    } catch (const InputEnded&) {
      printed = testing::internal::GetCapturedStdout();
      inputEnded = true;
    }
    return printed;
  }

  bool inputEnded = false;
};

constexpr const char* kChoices =
    "\n'o' to overwrite one file\n'O' (shift-o) to overwrite all conflicts,\n'n' to try a new append name\n";

TEST_F(AppendNames, OverwritingOneFileAsksAgainAtTheNextConflict) {
  dir.Write("gtr_v2.wav", "old");
  dir.Write("bass_v2.wav", "old");
  EXPECT_EQ(Append("v2", "x o overwrite"), std::string("\nFile gtr_v2.wav exists!\n") + kChoices + kChoices +
                                               "t1.wav -> gtr_v2.wav\n" + "\nFile bass_v2.wav exists!\n" + kChoices +
                                               "t2.wav -> bass_v2.wav\nt3.wav -> vox_v2.wav\n");
  EXPECT_EQ(Files(), (Names{"gtr_v2.wav", "bass_v2.wav", "vox_v2.wav"}));
  EXPECT_EQ(dir.Read("bass_v2.wav"), "t2.wav");
}

TEST_F(AppendNames, OverwritingAllAnswersEveryLaterConflict) {
  dir.Write("gtr_v2.wav", "old");
  dir.Write("vox_v2.wav", "old");
  EXPECT_EQ(Append("v2", "O"), std::string("\nFile gtr_v2.wav exists!\n") + kChoices +
                                   "t1.wav -> gtr_v2.wav\nt2.wav -> bass_v2.wav\nt3.wav -> vox_v2.wav\n");
  EXPECT_EQ(dir.Read("vox_v2.wav"), "t3.wav");
}

TEST_F(AppendNames, ANewAppendNameHoldsForTheLaterTakes) {
  dir.Write("gtr_v2.wav", "old");
  dir.Write("gtr_v3.wav", "old too");
  EXPECT_EQ(Append("v2", "n v3 n v4", Flags({1, 0, 1})), std::string("\nFile gtr_v2.wav exists!\n") + kChoices +
                                                             "Enter new append name\n" + "\nFile gtr_v3.wav exists!\n" +
                                                             kChoices + "Enter new append name\n" +
                                                             "t1.wav -> gtr_v4.wav\nt3.wav -> vox_v4.wav\n");
  EXPECT_EQ(Files(), (Names{"gtr_v2.wav", "gtr_v3.wav", "gtr_v4.wav", "t2.wav", "vox_v4.wav"}));
}

TEST_F(AppendNames, AFailedRenameIsReportedAndNotAnnounced) {
  std::filesystem::create_directories(dir / "gtr_v2.wav" / "inside");
  const std::string printed = Append("v2", "o", Flags({1}));
  EXPECT_EQ(printed, std::string("\nFile gtr_v2.wav exists!\n") + kChoices +
                         "Can't rename t1.wav to gtr_v2.wav: Is a directory\n");
  EXPECT_EQ(dir.Read("t1.wav"), "t1.wav");
}

TEST_F(AppendNames, TheEndOfInputLeavesTheTakesAsTheyAre) {
  dir.Write("gtr_v2.wav", "old");
  Append("v2", "");
  EXPECT_TRUE(inputEnded);
  EXPECT_EQ(Files(), (Names{"gtr_v2.wav", "t1.wav", "t2.wav", "t3.wav"}));
}

using Padding = test::InTempDir;

TEST_F(Padding, PutsExactlyTheSilenceBeforeTheSamplesAndKeepsTheHeader) {
  struct Case {
    std::int64_t frames, pad;
    bool listChunk;
  };
  // Sizes on both sides of any block size a copy may use.
  for (const Case c : {Case{10, 1000, false}, Case{1, 0, false}, Case{0, 1, true}, Case{70001, 65537, true},
                       Case{65536, 1023, false}}) {
    SCOPED_TRACE(testing::Message() << c.frames << " frames padded by " << c.pad);
    const Samples samples = test::PositionCoded(c.frames);
    Samples padded(static_cast<std::size_t>(c.pad), 0);
    padded.insert(padded.end(), samples.begin(), samples.end());
    test::WaveBuilder before = test::WaveBuilder().Samples(samples).DataSize(999999);  // the planned length
    test::WaveBuilder after = test::WaveBuilder().Samples(padded);
    if (c.listChunk) {
      before.ChunkBeforeData("LIST", "odd");
      after.ChunkBeforeData("LIST", "odd");
    }
    test::WriteBytes("take_stp_5.wav", before.Build());

    EXPECT_EQ(Printed([&] { EXPECT_TRUE(PAD_FILE("take_stp_5.wav", c.pad).ok()); }), "");
    EXPECT_EQ(test::ReadBytes("take_stp_5.wav"), after.Build());
    EXPECT_EQ(Files(), Names{"take_stp_5.wav"}) << "no temporary left";
  }
}

TEST_F(Padding, SoxReadsThePaddedTake) {
  test::WriteWave("take.wav", test::PositionCoded(10));
  ASSERT_TRUE(PAD_FILE("take.wav", 1000).ok());
  Samples expected(1000, 0);
  for (const std::int32_t s : test::PositionCoded(10)) expected.push_back(s);
  EXPECT_EQ(test::SoxSamples("take.wav"), expected);
}

TEST_F(Padding, ATakeCarryingTheTemporarysNameIsPaddedToo) {
  test::WriteWave("temp_pad.wav", {1, 2, 3});
  ASSERT_TRUE(PAD_FILE("temp_pad.wav", 2).ok());
  EXPECT_EQ(test::SamplesOf("temp_pad.wav"), (Samples{0, 0, 1, 2, 3}));
  EXPECT_EQ(Files(), Names{"temp_pad.wav"});
}

TEST_F(Padding, EveryFailureLeavesTheTakeAsItWas) {
  test::WriteWave("take.wav", test::PositionCoded(2000));
  const Bytes take = test::ReadBytes("take.wav");
  std::string printed;
  {
    const test::FileSizeLimit limit(take.size() + 2000);  // the padded file needs 3000 bytes more
    printed = Printed([] { EXPECT_FALSE(PAD_FILE("take.wav", 1000).ok()); });
  }
  EXPECT_EQ(printed, "Can't write to temp_pad.wav: File too large\ntake.wav was not padded; it is unchanged\n");
  EXPECT_EQ(test::ReadBytes("take.wav"), take);
  EXPECT_EQ(Files(), Names{"take.wav"});

  EXPECT_EQ(Printed([] { EXPECT_FALSE(PadTake("take.wav", 1000, "no-dir/take.wav", Placement::kKeepExisting).ok()); }),
            "Can't create no-dir/temp_pad.wav: No such file or directory\ntake.wav was not padded; it is unchanged\n");
  EXPECT_EQ(test::ReadBytes("take.wav"), take);

  EXPECT_EQ(Printed([] { EXPECT_FALSE(PAD_FILE("gone.wav", 1000).ok()); }),
            "Can't open gone.wav: No such file or directory\n");
  EXPECT_EQ(Files(), (Names{"take.wav"}));
}

TEST_F(Padding, ANewNameIsNeverTakenFromAFileThatHasIt) {
  test::WriteWave("take_stp_3.wav", {1, 2, 3});
  const Bytes take = test::ReadBytes("take_stp_3.wav");
  dir.Write("take.wav", "a file that appeared under the padded name");
  EXPECT_EQ(Printed([] { EXPECT_FALSE(PadTake("take_stp_3.wav", 2, "take.wav", Placement::kKeepExisting).ok()); }),
            "Can't create take.wav: File exists\ntake_stp_3.wav was not padded; it is unchanged\n");
  EXPECT_EQ(dir.Read("take.wav"), "a file that appeared under the padded name");
  EXPECT_EQ(test::ReadBytes("take_stp_3.wav"), take);
  EXPECT_EQ(Files(), (Names{"take.wav", "take_stp_3.wav"}));

  ::unlink("take.wav");
  EXPECT_EQ(Printed([] { EXPECT_TRUE(PadTake("take_stp_3.wav", 2, "take.wav", Placement::kKeepExisting).ok()); }), "");
  EXPECT_EQ(test::SamplesOf("take.wav"), (Samples{0, 0, 1, 2, 3}));
  EXPECT_EQ(test::ReadBytes("take_stp_3.wav"), take) << "only read";
}

TEST_F(Padding, AFileWithoutDataChunkEndsTheProgramBeforeAnythingIsWritten) {
  const Bytes broken = test::WaveBuilder().WithoutDataChunk().Build();
  test::WriteBytes("take.wav", broken);
  std::optional<int> status;
  EXPECT_EQ(Printed([] { PAD_FILE("take.wav", 10); }, &status), "Can't find data block in wave file!\n");
  EXPECT_EQ(status, 2);
  EXPECT_EQ(test::ReadBytes("take.wav"), broken);
  EXPECT_EQ(Files(), Names{"take.wav"});
}

using Backup = test::InTempDir;

TEST_F(Backup, CopiesEveryByteUnderTheStemAndNumber) {
  const std::pair<std::string, std::size_t> files[] = {
      {"gtr.take.wav", 4139}, {"nodot", 0}, {"long.wav", 3 * 65536 * 2 + 7}};
  for (const auto& [name, size] : files) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 7 + i / 251);
    dir.Write(name, content);
  }
  std::string printed = Printed([&] {
    EXPECT_EQ(COPY_FILE(250000000, "gtr.take.wav"), 1);
    EXPECT_EQ(COPY_FILE(-3, "nodot"), 1);
    EXPECT_EQ(COPY_FILE(7, "long.wav"), 1);
  });
  EXPECT_EQ(printed,
            "Copied gtr.take.wav to gtr_bkup_250000000.wav\nCopied nodot to nodot_bkup_-3.wav\n"
            "Copied long.wav to long_bkup_7.wav\n");
  EXPECT_EQ(dir.Read("gtr_bkup_250000000.wav"), dir.Read("gtr.take.wav"));
  EXPECT_EQ(dir.Read("nodot_bkup_-3.wav"), "");
  EXPECT_EQ(dir.Read("long_bkup_7.wav"), dir.Read("long.wav"));
}

TEST_F(Backup, FailuresReturnZeroAndLeaveNoBackupFile) {
  dir.Write("a.wav", std::string(10000, 'a'));
  std::filesystem::create_directory(dir / "a_bkup_1.wav");
  dir.Write("a_bkup_3.wav", "an earlier backup of the same stamp");
  std::string printed = Printed([] {
    EXPECT_EQ(COPY_FILE(1, "gone.wav"), 0);
    EXPECT_EQ(COPY_FILE(1, "a.wav"), 0);
    EXPECT_EQ(COPY_FILE(3, "a.wav"), 0);
  });
  EXPECT_EQ(printed,
            "File gone.wav does not exist\n"
            "Can't create a_bkup_1.wav: File exists\nCannot create backup file a_bkup_1.wav\n"
            "Can't create a_bkup_3.wav: File exists\nCannot create backup file a_bkup_3.wav\n");
  EXPECT_EQ(dir.Read("a_bkup_3.wav"), "an earlier backup of the same stamp");
  {
    const test::FileSizeLimit limit(6000);
    printed = Printed([] { EXPECT_EQ(COPY_FILE(2, "a.wav"), 0); });
  }
  EXPECT_EQ(printed, "Can't write to a_bkup_2.wav.tmp: File too large\nCannot create backup file a_bkup_2.wav\n");
  EXPECT_EQ(dir.Read("a.wav"), std::string(10000, 'a'));
  EXPECT_EQ(Files(), (Names{"a.wav", "a_bkup_1.wav", "a_bkup_3.wav"})) << "no part of a backup is left";
}

}  // namespace
}  // namespace tapeloom
