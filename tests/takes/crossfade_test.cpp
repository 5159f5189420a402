// Inserting a take into an old file: exact replacement, the equal-power fades at both seams,
// takes that reach past the old file or start beyond it, short takes, and the failures.
#include "takes/crossfade.h"

#include <gtest/gtest.h>

#include <cmath>

#include "takes/take_files_support.h"

namespace tapeloom {
namespace {

using test::Bytes;
using test::Printed;
using test::Samples;
using Names = std::set<std::string>;

// A steady rise and a steady fall of different sign, so that mixes cross zero and truncation
// toward zero matters.
Samples Rising(std::size_t frames) {
  Samples s;
  for (std::size_t i = 0; i < frames; ++i) s.push_back(1000000 + 37 * static_cast<std::int32_t>(i));
  return s;
}

Samples Falling(std::size_t frames) {
  Samples s;
  for (std::size_t i = 0; i < frames; ++i) s.push_back(-3000000 - 101 * static_cast<std::int32_t>(i));
  return s;
}

// Frame i of an n-frame fade from a to b by the equal-power law.
std::int32_t Fade(std::int32_t a, std::int32_t b, std::size_t i, std::size_t n) {
  const double theta = (static_cast<double>(i) / static_cast<double>(n)) * 1.570796327;
  return static_cast<std::int32_t>(a * std::cos(theta) + b * std::sin(theta));
}

// The old file after the take went in from start with fades of `fade` frames; frames the old
// file does not have are silence.
Samples Inserted(const Samples& old, const Samples& take, std::size_t start, std::size_t fade, bool fadeIn,
                 bool fadeOut) {
  const std::size_t length = take.size();
  Samples result = old;
  if (result.size() < start + length) result.resize(start + length, 0);
  auto oldAt = [&old](std::size_t k) { return k < old.size() ? old[k] : 0; };
  for (std::size_t j = 0; j < length; ++j) {
    std::int32_t& r = result[start + j];
    r = take[j];
    if (fadeIn && j < fade) r = Fade(oldAt(start + j), take[j], j, fade);
    if (fadeOut && j >= length - fade) r = Fade(take[j], oldAt(start + j), j - (length - fade), fade);
  }
  return result;
}

class Insertion : public test::InTempDir {
 protected:
  void Write(const Samples& old, const Samples& take) {
    test::WriteWave("old.wav", old);
    test::WriteWave("take.wav", take);
    takeBytes = test::ReadBytes("take.wav");
  }

  std::string Insert(std::int64_t start, std::int64_t length, std::int64_t crossfade) {
    return Printed(
        [&] { inserted = InsertTakeWithCrossfades("old.wav", "take.wav", start, length, crossfade, 48000).ok(); });
  }

  // The take file is only read, and the fades' temporaries are gone.
  void ExpectTakeUntouchedAndNoTemporaries() {
    EXPECT_EQ(test::ReadBytes("take.wav"), takeBytes);
    EXPECT_EQ(Files(), (Names{"old.wav", "take.wav"}));
  }

  bool inserted = false;
  Bytes takeBytes;
};

TEST_F(Insertion, WithoutCrossfadeTheFramesAreReplacedExactly) {
  const Samples old = Rising(1000), take = Falling(100);
  Write(old, take);
  const Bytes before = test::ReadBytes("old.wav");
  EXPECT_EQ(Insert(300, 100, 0), "");
  EXPECT_TRUE(inserted);
  Samples expected = old;
  std::copy(take.begin(), take.end(), expected.begin() + 300);
  EXPECT_EQ(test::SamplesOf("old.wav"), expected);
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + 44, test::ReadBytes("old.wav").begin())) << "same header";
  ExpectTakeUntouchedAndNoTemporaries();
}

TEST_F(Insertion, FadesFollowTheEqualPowerLawAtBothSeams) {
  for (const std::size_t s : {std::size_t{0}, std::size_t{1000}}) {
    SCOPED_TRACE(testing::Message() << "record start " << s);
    const Samples old = Rising(5000), take = Falling(2000);
    const std::size_t n = 480, l = take.size();
    Write(old, take);
    EXPECT_EQ(Insert(static_cast<std::int64_t>(s), 2000, 480), "");
    EXPECT_TRUE(inserted);
    const Samples result = test::SamplesOf("old.wav");
    ASSERT_EQ(result.size(), 5000u) << "a take inside the old file leaves its length";
    EXPECT_EQ(result[s], old[s]) << "the fade-in starts on the old audio";
    EXPECT_EQ(result[s + n - 1], Fade(old[s + n - 1], take[n - 1], n - 1, n));
    EXPECT_EQ(result[s + n], take[n]);
    EXPECT_EQ(result[s + l - n], take[l - n]) << "the fade-out starts on the take";
    EXPECT_EQ(result[s + l - 1], Fade(take[l - 1], old[s + l - 1], n - 1, n));
    EXPECT_EQ(result, Inserted(old, take, s, n, true, true));
    EXPECT_EQ(test::SoxSamples("old.wav"), result);
    ExpectTakeUntouchedAndNoTemporaries();
  }
}

TEST_F(Insertion, ATakeReachingPastTheEndExtendsTheFileWithoutFadeOut) {
  const Samples old = Rising(1000), take = Falling(1500);
  Write(old, take);
  EXPECT_EQ(Insert(900, 1500, 480), "Invalid crossfade for source file at sample 1920\n");
  EXPECT_TRUE(inserted);
  // Old frames 1000 on read as silence in the fade-in.
  EXPECT_EQ(test::SamplesOf("old.wav"), Inserted(old, take, 900, 480, true, false));
  ExpectTakeUntouchedAndNoTemporaries();
}

TEST_F(Insertion, ARecordStartBeyondTheEndLeavesSilenceBeforeTheTake) {
  const Samples old = Rising(1000), take = Falling(1000);
  Write(old, take);
  EXPECT_EQ(Insert(1500, 1000, 480),
            "Invalid crossfade for destination file at sample 1500\n"
            "Invalid crossfade for source file at sample 2020\n");
  EXPECT_TRUE(inserted);
  Samples expected = old;
  expected.resize(1500, 0);
  expected.insert(expected.end(), take.begin(), take.end());
  EXPECT_EQ(test::SamplesOf("old.wav"), expected);
  ExpectTakeUntouchedAndNoTemporaries();
}

TEST_F(Insertion, ShortTakesGetFadesOfHalfTheirLength) {
  // Shorter than the crossfade, shorter than both fades together, a single frame.
  for (const std::size_t l : {std::size_t{101}, std::size_t{700}, std::size_t{1}}) {
    SCOPED_TRACE(testing::Message() << "take of " << l << " frames");
    const Samples old = Rising(5000), take = Falling(l);
    Write(old, take);
    EXPECT_EQ(Insert(1000, static_cast<std::int64_t>(l), 480), "");
    EXPECT_EQ(test::SamplesOf("old.wav"), Inserted(old, take, 1000, l / 2, true, true));
    ExpectTakeUntouchedAndNoTemporaries();
  }
}

TEST_F(Insertion, AWriteFailureKeepsWhatWasWrittenAndTheTake) {
  const Samples old = Rising(1000), take = Falling(2000);
  Write(old, take);
  std::string printed;
  {
    const test::FileSizeLimit limit(44 + 3 * 2000);  // room for 1100 of the take's frames
    printed = Insert(900, 2000, 480);
  }
  EXPECT_EQ(printed,
            "Invalid crossfade for source file at sample 2420\nCan't write to old.wav: File too large\n"
            "take.wav was not inserted into old.wav; the take is kept\n");
  EXPECT_FALSE(inserted);
  Samples expected(old.begin(), old.begin() + 900);
  expected.insert(expected.end(), take.begin(), take.begin() + 1100);
  EXPECT_EQ(test::SamplesOf("old.wav"), expected) << "the header announces what is there";
  ExpectTakeUntouchedAndNoTemporaries();
}

TEST_F(Insertion, AnOldFileWithoutDataChunkEndsTheProgramUnchanged) {
  const Bytes broken = test::WaveBuilder().WithoutDataChunk().Build();
  test::WriteBytes("old.wav", broken);
  test::WriteWave("take.wav", Falling(1000));
  takeBytes = test::ReadBytes("take.wav");
  std::optional<int> status;
  const std::string printed =
      Printed([] { InsertTakeWithCrossfades("old.wav", "take.wav", 0, 1000, 480, 48000); }, &status);
  EXPECT_EQ(printed, "Data block not found error\nData block not found error\nCan't find data block in wave file!\n");
  EXPECT_EQ(status, 2);
  EXPECT_EQ(test::ReadBytes("old.wav"), broken);
  ExpectTakeUntouchedAndNoTemporaries();
}

using InsertFile = test::InTempDir;

TEST_F(InsertFile, CopiesTheSmallerOfCountAndTheSourceAndFillsGapsWithSilence) {
  const Samples source = Falling(10);
  test::WriteWave("source.wav", source);
  struct Case {
    std::int64_t position, count;
    Samples expected;
  };
  auto then = [&source](Samples head) {
    head.insert(head.end(), source.begin(), source.end());
    return head;
  };
  const Case cases[] = {
      {1, 4, {1, source[0], source[1], source[2], source[3]}},  // inside: the header stays
      {3, 100, then({1, 2, 3})},                                // past the end: the file grows
      {8, 10, then({1, 2, 3, 4, 5, 0, 0, 0})},                  // beyond the end: silence between
      {2, 0, {1, 2, 3, 4, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "at " << c.position << ", " << c.count << " frames");
    test::WriteWave("dest.wav", {1, 2, 3, 4, 5});
    EXPECT_EQ(Printed([&] { EXPECT_TRUE(INSERT_FILE("dest.wav", "source.wav", c.position, c.count).ok()); }), "");
    EXPECT_EQ(test::SamplesOf("dest.wav"), c.expected);
  }
  std::filesystem::create_directory(dir / "folder.wav");
  EXPECT_EQ(Printed([] { EXPECT_FALSE(INSERT_FILE("folder.wav", "source.wav", 0, 10).ok()); }),
            "Can't open folder.wav: Is a directory\n");
}

TEST_F(InsertFile, AFileWithoutDataChunkEndsTheProgramBeforeAnythingIsWritten) {
  const Bytes broken = test::WaveBuilder().WithoutDataChunk().Build();
  test::WriteWave("good.wav", Rising(10));
  const Bytes good = test::ReadBytes("good.wav");
  test::WriteBytes("broken.wav", broken);
  for (const auto& [destination, source] : {std::pair{"good.wav", "broken.wav"}, {"broken.wav", "good.wav"}}) {
    std::optional<int> status;
    EXPECT_EQ(Printed([&] { INSERT_FILE(destination, source, 0, 10); }, &status),
              "Can't find data block in wave file!\n");
    EXPECT_EQ(status, 2);
    EXPECT_EQ(test::ReadBytes("good.wav"), good);
    EXPECT_EQ(test::ReadBytes("broken.wav"), broken);
  }
}

using Crossfade = test::InTempDir;

// The samples appended to out.wav, an empty file with a header.
Samples Appended() {
  const Bytes bytes = test::ReadBytes("out.wav");
  return test::Unpack24(std::span(bytes).subspan(44));
}

TEST_F(Crossfade, LimitsToTheSampleRangeAndReadsSilenceBeyondTheEnds) {
  test::WriteWave("loud.wav", Samples(4, 8388607));
  test::WriteWave("low.wav", Samples(4, -8388608));
  test::WriteWave("out.wav", {});
  ASSERT_EQ(CROSSFADE(0, 0, 4, "loud.wav", "loud.wav", "out.wav"), 0);
  EXPECT_EQ(Appended(), Samples(4, 8388607)) << "about 1.3 times full scale is limited, not wrapped";
  test::WriteWave("out.wav", {});
  ASSERT_EQ(CROSSFADE(0, 0, 4, "low.wav", "low.wav", "out.wav"), 0);
  EXPECT_EQ(Appended(), Samples(4, -8388608));

  const Samples a = Rising(3), b = Falling(2);
  test::WriteWave("a.wav", a);
  test::WriteWave("b.wav", b);
  test::WriteWave("out.wav", {});
  ASSERT_EQ(CROSSFADE(1, 0, 4, "a.wav", "b.wav", "out.wav"), 0);
  EXPECT_EQ(Appended(), (Samples{a[1], Fade(a[2], b[1], 1, 4), 0, 0}));
  test::WriteWave("out.wav", {});
  ASSERT_EQ(CROSSFADE(3, 2, 2, "a.wav", "b.wav", "out.wav"), 0) << "a start at the very end is valid";
  EXPECT_EQ(Appended(), Samples(2, 0));
}

TEST_F(Crossfade, FailuresGiveTheirFilesCode) {
  test::WriteWave("a.wav", Rising(10));
  test::WriteBytes("broken.wav", test::WaveBuilder().WithoutDataChunk().Build());
  test::WriteWave("out.wav", {});
  struct Case {
    std::int64_t positionInA, positionInB;
    const char *a, *b, *out;
    int code;
    std::string printed;
  };
  const Case cases[] = {
      {0, 0, "gone.wav", "a.wav", "out.wav", 1, "Can't open gone.wav: No such file or directory\n"},
      {0, 0, "a.wav", "gone.wav", "out.wav", 2, "Can't open gone.wav: No such file or directory\n"},
      {0, 0, "a.wav", "a.wav", "gone.wav", 3, "Can't open gone.wav: No such file or directory\n"},
      {0, 0, "broken.wav", "broken.wav", "out.wav", 1, "Data block not found error\n"},
      {0, 0, "a.wav", "broken.wav", "out.wav", 2, "Data block not found error\n"},
      {0, 0, "a.wav", "a.wav", "broken.wav", 3, "Data block not found error\n"},
      {-1, 0, "a.wav", "a.wav", "out.wav", 1, "Invalid crossfade for destination file at sample -1\n"},
      {11, 0, "a.wav", "a.wav", "out.wav", 1, "Invalid crossfade for destination file at sample 11\n"},
      {0, 11, "a.wav", "a.wav", "out.wav", 2, "Invalid crossfade for source file at sample 11\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.printed);
    int code = -1;
    EXPECT_EQ(Printed([&] { code = CROSSFADE(c.positionInA, c.positionInB, 4, c.a, c.b, c.out); }), c.printed);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(test::ReadBytes("out.wav").size(), 44u) << "nothing appended";
  }
}

}  // namespace
}  // namespace tapeloom
