// List files: entries, lookups, the audition list, the bus check and the overwrite question.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/typed_input.h"
#include "tracks/list_files.h"
#include "tracks/overwrite_check.h"

namespace tapeloom {
namespace {

using Entries = std::vector<std::string>;

TEST(SplitList, BlankLinesDoNotCount) {
  EXPECT_EQ(SplitList("a.wav\n\n\nb.wav\n"), (Entries{"a.wav", "b.wav"}));
  EXPECT_EQ(SplitList("\n\na.wav"), (Entries{"a.wav"})) << "no line feed at the end";
  EXPECT_EQ(SplitList("a b.wav\r\n-\n--x\n"), (Entries{"a b.wav\r", "-", "--x"}));
  EXPECT_EQ(SplitList(""), Entries{});
  EXPECT_EQ(SplitList("\n\n"), Entries{});
}

TEST(SplitList, ListsOfAnySize) {
  std::string text;
  for (int k = 0; k < 300; ++k) text += std::string(40, 'a') + std::to_string(k) + ".wav\n";
  ASSERT_GT(text.size(), 4096u);
  const Entries entries = SplitList(text);
  ASSERT_EQ(entries.size(), 300u);
  EXPECT_EQ(entries[299], std::string(40, 'a') + "299.wav");
}

TEST(SkipLines, OnlyTheFirstCharacterCounts) {
  EXPECT_TRUE(IsSkipLine("-"));
  EXPECT_TRUE(IsSkipLine("-guitar.wav"));
  EXPECT_FALSE(IsSkipLine("guitar-2.wav"));
  EXPECT_FALSE(IsSkipLine(""));
}

TEST(GetFilename, EntryByNumber) {
  EXPECT_EQ(GET_FILENAME("a\n\nb\nc\n", 1), "b");
  EXPECT_EQ(GET_FILENAME("a\n\nb\nc\n", 2), "c");
  EXPECT_EQ(GET_FILENAME("a\n", 5), "");
}

TEST(Hybridize, TakesStandInForTheArmedTracks) {
  std::array<int, kMaxTracks> armed{};
  armed[1] = 1;
  armed[3] = 1;
  EXPECT_EQ(Hybridize("p1.wav\np2.wav\np3.wav\n", "-\ntake2.wav\n-\ntake4.wav\n", armed, 5),
            "p1.wav\ntake2.wav\np3.wav\ntake4.wav\n-\n");
  armed[0] = 7;  // neither armed nor not: an empty line
  EXPECT_EQ(Hybridize("p1.wav\n", "t1.wav\n", armed, 1), "\n");
  EXPECT_EQ(Hybridize("p1.wav\n", "", armed, 0), "");
}

TEST(VerifyChannels, TracksFeedingNoBusAreLeftOut) {
  std::array<std::array<int, kMaxTracks>, kMaxBusses> assign{};
  assign[0][0] = 1;
  assign[63][255] = 1;
  std::array<int, kMaxTracks> flags{};
  flags[0] = flags[1] = flags[255] = 1;
  VerifyChannels(assign, flags);
  EXPECT_EQ(flags[0], 1);
  EXPECT_EQ(flags[1], 0);
  EXPECT_EQ(flags[255], 1);
}

class OverwriteCheck : public testing::Test {
 protected:
  // Runs the check from inside the directory so that the list's relative names resolve there.
  int Check(int n, const std::string& list, const std::string& answers, std::string* printed = nullptr) {
    test::TypedInput input(answers);
    test::WorkingDirectory inDir(dir.path());
    testing::internal::CaptureStdout();
    int result = -1;
    try {
      result = FILE_CHECK(n, list, dontAskAgain, input);
    } catch (const InputEnded&) {
      result = -2;
    }
    const std::string out = testing::internal::GetCapturedStdout();
    if (printed != nullptr) *printed = out;
    return result;
  }
  test::TempDir dir;
  int dontAskAgain = 0;
};

const std::string kQuestion =
    "Enter 'w' to overwrite\nEnter 'W' to overwrite and don't ask again.\nEnter 'r' to return to previous menu.\n";

TEST_F(OverwriteCheck, NothingExistsNothingAsked) {
  std::string printed;
  EXPECT_EQ(Check(3, "a.wav\n-\nb.wav\n", "", &printed), 1);
  EXPECT_EQ(printed, "");
}

TEST_F(OverwriteCheck, CountsExistingFilesAmongTheFirstN) {
  dir.Write("a.wav", "x");
  dir.Write("b.wav", "x");
  dir.Write("-", "a file really named -");
  dir.Write("-c.wav", "x");
  std::string printed;
  EXPECT_EQ(Check(1, "a.wav\nb.wav\n", "w", &printed), 1);
  EXPECT_EQ(printed, "-------------------------\n1 file exists!\n" + kQuestion);
  // "-" names no file; "-c.wav" is no "-" and counts.
  EXPECT_EQ(Check(4, "a.wav\n-\nb.wav\n-c.wav\n", "what r", &printed), 0);
  EXPECT_EQ(printed, "-------------------------\n3 files exists!\n" + kQuestion + kQuestion);
  EXPECT_EQ(dontAskAgain, 0);
  EXPECT_EQ(Check(2, "a.wav\nb.wav\n", "W", &printed), 1);
  EXPECT_EQ(dontAskAgain, 1);
}

TEST_F(OverwriteCheck, EndOfInputIsNotAnAnswer) {
  dir.Write("a.wav", "x");
  EXPECT_EQ(Check(1, "a.wav\n", "maybe"), -2);
}

}  // namespace
}  // namespace tapeloom
