// Take names and the take list of a naming pass.
#include <gtest/gtest.h>

#include <regex>

#include "support/temp_dir.h"
#include "support/typed_input.h"
#include "support/wave_builder.h"
#include "takes/take_naming.h"

namespace tapeloom {
namespace {

TEST(TakeNames, Forms) {
  EXPECT_EQ(AutomaticTakeName(3, 250000000, 96000), "audio_ch_3_250000000_stp_96000.wav");
  EXPECT_EQ(AutomaticTakeName(1, 250000000, 0), "audio_ch_1_250000000.wav");
  EXPECT_EQ(AutomaticTakeName(12, -5, 7), "audio_ch_12_-5_stp_7.wav");
  EXPECT_EQ(ChosenTakeName("guitar.wav", "vox2", 96000), "guitar_vox2_stp_96000.wav");
  EXPECT_EQ(ChosenTakeName("guitar.take.wav", "vox2", 0), "guitar_vox2.wav") << "the stem ends at the first dot";
  EXPECT_EQ(ChosenTakeName("bass", "", 0), "bass_.wav");
  EXPECT_EQ(ChosenTakeName("", "x", 0), "_x.wav");
}

class NamingPassTest : public testing::Test {
 protected:
  NamedTakes Name(NamingPass pass, const std::string& answers = "", std::string* printed = nullptr) {
    test::TypedInput input(answers);
    pass.armed = &armed;
    testing::internal::CaptureStdout();
    NamedTakes takes = NameAndCreateTakes(pass, input);
    const std::string out = testing::internal::GetCapturedStdout();
    if (printed != nullptr) *printed = out;
    return takes;
  }

  test::TempDir dir;
  test::WorkingDirectory inDir{dir.path()};
  std::array<int, kMaxTracks> armed{};
};

TEST_F(NamingPassTest, TakeListHasALinePerInputAndHeadersAnnounceNoFramesYet) {
  armed[1] = 1;
  const NamedTakes takes = Name({.inputs = 3, .recordStart = 96000, .sr = 44100, .recordListText = "-\na.wav\n-\n"});
  EXPECT_TRUE(std::regex_match(takes.takeList, std::regex("-\naudio_ch_2_-?[0-9]+_stp_96000\\.wav\n-\n")))
      << takes.takeList;
  const test::Bytes header = test::ReadBytes(dir / takes.names[1]);
  ASSERT_EQ(header.size(), 44u);
  EXPECT_EQ(test::Field32(header, 24), 44100u);
  EXPECT_EQ(test::Field32(header, 40), 0u) << "the run grows it";
  EXPECT_EQ(test::Field32(header, 4), 36u);
}

TEST_F(NamingPassTest, ChosenNamesAndTheirConflicts) {
  armed[0] = armed[1] = armed[2] = 1;
  dir.Write("a_t1.wav", "old a");
  dir.Write("b_t1.wav", "old b");
  dir.Write("b_new.wav", "old b new");
  std::string printed;
  // "a_t1.wav" exists: a new name for it and the channels after it; then "b_new.wav" exists.
  const NamedTakes takes = Name(
      {.inputs = 3, .sr = 48000, .takeNameMode = true, .takeName = "t1", .recordListText = "a.wav\nb.wav\nc.wav\n"},
      "new w", &printed);
  EXPECT_EQ(takes.takeList, "a_new.wav\nb_new.wav\nc_new.wav\n");
  EXPECT_EQ(printed,
            "The file named a_t1.wav already exists!\n"
            "Enter a different take name or 'w' to overwrite this file\n"
            "or 'W' to overwrite all similar conflicts\n"
            "The file named b_new.wav already exists!\n"
            "Enter a different take name or 'w' to overwrite this file\n"
            "or 'W' to overwrite all similar conflicts\n");
  EXPECT_EQ(dir.Read("a_t1.wav"), "old a") << "a file not chosen is left alone";
  EXPECT_EQ(test::ReadBytes(dir / "b_new.wav").size(), 44u) << "\"w\": replaced by the new take";
}

TEST_F(NamingPassTest, OverwriteAllLastsForThePassOnly) {
  armed[0] = armed[1] = 1;
  dir.Write("a_t.wav", "old");
  dir.Write("b_t.wav", "old");
  std::string printed;
  Name({.inputs = 2, .sr = 48000, .takeNameMode = true, .takeName = "t", .recordListText = "a.wav\nb.wav\n"}, "W",
       &printed);
  EXPECT_EQ(printed.find("b_t.wav"), std::string::npos) << "no second question";
  Name({.inputs = 2, .sr = 48000, .takeNameMode = true, .takeName = "t", .recordListText = "a.wav\nb.wav\n"}, "w w",
       &printed);
  EXPECT_NE(printed.find("The file named b_t.wav already exists!"), std::string::npos) << "asked again next pass";
}

TEST_F(NamingPassTest, ATakeThatCannotBeCreatedIsADashAndItsReasonIsKept) {
  armed[0] = armed[1] = 1;
  const NamedTakes takes = Name({.inputs = 2,
                                 .sr = 48000,
                                 .takeNameMode = true,
                                 .takeName = "t",
                                 .recordListText = "no-such-folder/a.wav\nb.wav\n"});
  EXPECT_EQ(takes.takeList, "-\nb_t.wav\n");
  EXPECT_EQ(takes.names[0], "no-such-folder/a_t.wav");
  EXPECT_EQ(takes.failures[0].Message(), "Can't create no-such-folder/a_t.wav: No such file or directory");
  EXPECT_TRUE(takes.failures[1].ok());
}

TEST_F(NamingPassTest, TheStampIsRaisedPastEveryNameTheTakeMenuCanMakeFromIt) {
  // A clock that came back to 500: a file under any name derived from that stamp moves the
  // whole recording on to the next stamp, for every channel alike.
  struct Case {
    SamplePosition recordStart;
    std::vector<std::string> planted;
    std::int32_t stamp;
  };
  const Case cases[] = {
      {0, {}, 500},
      {0, {"audio_ch_3_500.wav"}, 501},                        // the take
      {96000, {"audio_ch_3_500_stp_96000.wav"}, 501},          // the take with its record start
      {96000, {"audio_ch_1_500.wav"}, 501},                    // the name "pad" gives
      {0, {"audio_ch_1_500_stp_0.wav"}, 501},                  // the name "stp" gives
      {0, {"vocal_bkup_500.wav", "vocal_bkup_501.wav"}, 502},  // the backup of "cin"
      {0, {"gtr_bkup_500.wav", "audio_ch_1_501_stp_0.wav"}, 502},
      {0, {"audio_ch_2_500_stp_0.wav"}, 500},      // no input 2 in this pass
      {96000, {"audio_ch_1_500_stp_0.wav"}, 500},  // "stp" renames nothing then
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "record start " << c.recordStart << ", planted " << c.planted.size());
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove(entry);
    for (const std::string& name : c.planted) dir.Write(name, "planted");
    armed = {};
    armed[0] = armed[2] = 1;
    const NamedTakes takes = Name({.inputs = 3,
                                   .recordStart = c.recordStart,
                                   .sr = 48000,
                                   .recordListText = "vocal.wav\nbass.wav\ngtr.take.wav\n",
                                   .stamp = 500});
    EXPECT_EQ(takes.stamp, c.stamp);
    EXPECT_EQ(takes.names[0], AutomaticTakeName(1, c.stamp, c.recordStart));
    EXPECT_EQ(takes.names[2], AutomaticTakeName(3, c.stamp, c.recordStart));
    for (const std::string& name : c.planted) EXPECT_EQ(dir.Read(name), "planted") << name;
  }
}

TEST_F(NamingPassTest, ALinkThatPointsNowhereIsATakenName) {
  // Creating the take would otherwise create the file the link points to, elsewhere.
  armed[0] = 1;
  std::filesystem::create_symlink(dir / "elsewhere.wav", dir / "audio_ch_1_500.wav");
  const NamedTakes takes = Name({.inputs = 1, .sr = 48000, .recordListText = "a.wav\n", .stamp = 500});
  EXPECT_EQ(takes.names[0], "audio_ch_1_501.wav");
  EXPECT_FALSE(dir.Exists("elsewhere.wav"));
}

}  // namespace
}  // namespace tapeloom
