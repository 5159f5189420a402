// The readers, the header writer and the size correction on real files, with the messages
// they print.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "core/program_end.h"
#include "support/temp_dir.h"
#include "support/wave_builder.h"
#include "wave/text_file.h"
#include "wave/wave_header.h"
#include "wave/wave_readers.h"

namespace tapeloom {
namespace {

using test::Bytes;
using test::Field16;
using test::Field32;
using test::PositionCoded;
using test::WaveBuilder;

template <typename Action>
std::string Printed(Action action) {
  testing::internal::CaptureStdout();
  action();
  return testing::internal::GetCapturedStdout();
}

class WaveFiles : public testing::Test {
 protected:
  std::string Path(std::string_view name) const { return (dir_ / name).string(); }
  std::string Put(std::string_view name, const Bytes& bytes) const {
    test::WriteBytes(dir_ / name, bytes);
    return Path(name);
  }

  test::TempDir dir_;
};

TEST_F(WaveFiles, ReadersAcceptOrReportEachRefusal) {
  // A file with its format or its data tag at the offset `at`.
  const auto late = [](std::uint32_t at, bool format) {
    WaveBuilder builder;
    if (format) {
      builder.ChunkBeforeFormat("JUNK", std::string(at - 20, 'x'));
    } else {
      builder.ChunkBeforeData("JUNK", std::string(at - 44, 'x'));
    }
    return builder.Samples(PositionCoded(9)).Build();
  };
  const std::string dir = Path("folder.wav");
  std::filesystem::create_directory(dir);
  // A FIFO that nobody writes: refused at once instead of waited on.
  const std::string fifo = Path("pipe.wav");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    int accepted;
    std::string attributesSays;
    SamplePosition length;
    std::string lengthSays;
  } cases[] = {
      {Put("good.wav", WaveBuilder().Samples(PositionCoded(10)).Trailing("x").Build()), 1, "", 10, ""},
      {Put("late-data.wav", late(kLastTagOffset, false)), 1, "", 9, ""},
      {Path("missing.wav"), 0, "Cannot find file in track list called " + Path("missing.wav") + "!!\n", 0, ""},
      {dir, 0, "Can't read " + dir + ": " + std::strerror(EISDIR) + "\n", 0,
       "Can't read " + dir + ": " + std::strerror(EISDIR) + "\n"},
      {fifo, 0, "Can't read " + fifo + ": Not a regular file\n", 0, "Can't read " + fifo + ": Not a regular file\n"},
      {Put("no-fmt.wav", WaveBuilder().WithoutFormatChunk().Build()), 0, "Can't find format chunk in wave file!\n", 0,
       "Can't find format chunk in wave file!\n"},
      {Put("late-fmt.wav", late(kLastTagOffset + 2, true)), 0, "Can't find format chunk in wave file!\n", 0,
       "Can't find format chunk in wave file!\n"},
      {Put("stereo.wav", WaveBuilder().Channels(2).Build()), 0,
       Path("stereo.wav") + " is not a mono file and will not be played\n", 0, "Mono files only\n"},
      {Put("16.wav", WaveBuilder().Bits(16).Build()), 0,
       Path("16.wav") + " is not a 24 bit file and will not be played\n", 0, "24 bit wave files only!\n"},
      {Put("no-data.wav", WaveBuilder().WithoutDataChunk().Build()), 0,
       "Cannot find data block in file " + Path("no-data.wav") + "!\n", 0, "Can't find data block in wave file!\n"},
      // The format fields at the very end of the search range are read: the file fails only
      // because its data chunk comes after them.
      {Put("end-fmt.wav", late(kLastTagOffset, true)), 0,
       "Cannot find data block in file " + Path("end-fmt.wav") + "!\n", 0, "Can't find data block in wave file!\n"},
      {Put("beyond-data.wav", late(kLastTagOffset + 2, false)), 0,
       "Cannot find data block in file " + Path("beyond-data.wav") + "!\n", 0, "Can't find data block in wave file!\n"},
  };
  for (const auto& c : cases) {
    WaveAttributes a;
    int accepted = -1;
    EXPECT_EQ(Printed([&] { accepted = GET_ATTRIBUTES(c.path, a); }), c.attributesSays) << c.path;
    EXPECT_EQ(accepted, c.accepted) << c.path;
    if (accepted == 1) {
      EXPECT_EQ(a.length, c.length) << c.path;
    }
    SamplePosition length = -1;
    EXPECT_EQ(Printed([&] { length = GET_LENGTH(c.path); }), c.lengthSays) << c.path;
    EXPECT_EQ(length, c.length) << c.path;
  }
}

TEST_F(WaveFiles, LongestFileOfAList) {
  const std::string a = Put("a.wav", WaveBuilder().Samples(PositionCoded(10)).Build());
  const std::string b = Put("b.wav", WaveBuilder().Samples(PositionCoded(30)).Build());
  const std::string stereo = Put("s.wav", WaveBuilder().Channels(2).Samples(PositionCoded(90, 2)).Build());
  const std::string missing = Path("missing.wav");
  const std::string list = Put("play.txt", {});
  test::WriteFileBytes(list, a + "\n\n\n-" + b + "\n" + missing + "\n" + stereo + "\n\n" + b + "\n");

  const std::string upToStereo =
      "Checking file " + a + "\nChecking file " + missing + "\nMono files only\nChecking file " + stereo + "\n";
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SEEK_LONG_FILE(4, '-', list), 10); }), upToStereo)
      << "blank lines are no entries; '-' entries count but are not measured";
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SEEK_LONG_FILE(99, '-', list), 30); }), upToStereo + "Checking file " + b + "\n");
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SEEK_LONG_FILE(0, '-', list), 0); }), "");
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SEEK_LONG_FILE(99, '/', list), 0); }), "Checking file -" + b + "\n")
      << "the skip mark is the caller's: here every absolute name is skipped";

  test::WriteFileBytes(list, "-" + a + "\n-\n-" + b);
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SEEK_LONG_FILE(99, '-', list), 0); }), "");
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SEEK_LONG_FILE(9, '-', missing), 0); }),
            "Playlist file called " + missing + " was not found!\n");
}

TEST_F(WaveFiles, ListsAndNamesOfAnyLengthAreReadWhole) {
  std::filesystem::path deep = dir_.path();
  for (const char letter : {'p', 'q', 'r'}) deep /= std::string(200, letter);
  std::filesystem::create_directories(deep);
  const std::string longName = (deep / "take.wav").string();
  test::WriteBytes(longName, WaveBuilder().Samples(PositionCoded(50)).Build());
  std::string text;
  for (int n = 0; n < 12; ++n) text += "-" + std::string(499, 'x') + "\n";
  const std::string list = Put("play.txt", {});
  test::WriteFileBytes(list, text + longName);  // the last line has no line end
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SEEK_LONG_FILE(13, '-', list), 50); }), "Checking file " + longName + "\n");
  // A text file is read as large as it is, up to a limit no list comes near; beyond it, refused.
  std::string read;
  EXPECT_TRUE(ReadWholeFile(list, read).ok());
  EXPECT_EQ(read, text + longName);
  const std::string huge = Put("huge.txt", {});
  std::filesystem::resize_file(huge, kLargestTextFile + 1);  // sparse: nothing is written
  const FileStatus refused = ReadWholeFile(huge, read);
  EXPECT_EQ(refused.Message(), "Can't read " + huge + ": " + std::strerror(EFBIG));
  EXPECT_TRUE(read.empty());
  std::filesystem::resize_file(huge, kLargestTextFile);
  EXPECT_TRUE(ReadWholeFile(huge, read).ok());
  EXPECT_EQ(read.size(), kLargestTextFile);
}

TEST_F(WaveFiles, HeaderWorkedValuesForMonoAndStereo) {
  const std::string path = Path("take.wav");
  for (const std::uint32_t channels : {1, 2}) {
    test::WriteFileBytes(path, std::string(100, 'z'));
    ASSERT_TRUE(MAKE_HEADER(path, 48000, 24, 1000, static_cast<int>(channels), Placement::kReplace).ok());
    const Bytes h = test::ReadBytes(path);
    EXPECT_EQ(h, WaveBuilder()
                     .Channels(static_cast<int>(channels))
                     .DataSize(3000 * channels)
                     .RiffSize(3000 * channels + 36)
                     .Build())
        << "the canonical header, the existing file truncated as asked";
    EXPECT_EQ(Field32(h, 28), 144000u * channels);
    EXPECT_EQ(Field16(h, 32), 3u * channels);
  }
}

TEST_F(WaveFiles, HeaderSizesAtTheirLimitsAndFailuresToCreate) {
  const std::string path = Path("big.wav");
  ASSERT_TRUE(MAKE_HEADER(path, 48000, 24, 0x7FFFFFFF, 2).ok());
  EXPECT_EQ(Field32(test::ReadBytes(path), 40), 0xFFFFFFFFu - 36) << "clamped, not wrapped";
  EXPECT_EQ(Field32(test::ReadBytes(path), 4), 0xFFFFFFFFu);
  ASSERT_TRUE(MAKE_HEADER(path, 48000, 24, -5, 1, Placement::kReplace).ok());
  EXPECT_EQ(Field32(test::ReadBytes(path), 40), 0u);

  EXPECT_EQ(MAKE_HEADER(Path("no-dir/take.wav"), 48000, 24, 10, 1).Reason(), std::strerror(ENOENT));
  EXPECT_FALSE(dir_.Exists("no-dir"));
  EXPECT_EQ(MAKE_HEADER(dir_.path().string(), 48000, 24, 10, 1, Placement::kReplace).Reason(), std::strerror(EISDIR));
}

TEST_F(WaveFiles, NewHeadersNeverReplaceAFileOrFollowALink) {
  // Unless asked to replace, a file of the name, or a link (even one pointing nowhere), is
  // left as it is and the header is refused. The header appears whole, made beside the name.
  const std::string file = Path("file.wav"), target = Path("target.wav");
  test::WriteFileBytes(file, "a user's file");
  test::WriteFileBytes(target, "what a link points to");
  std::filesystem::create_symlink(target, Path("link.wav"));
  std::filesystem::create_symlink(Path("nowhere.wav"), Path("dangling.wav"));
  for (const std::string& name : {file, Path("link.wav"), Path("dangling.wav")}) {
    EXPECT_EQ(MAKE_HEADER(name, 48000, 24, 10, 1).Reason(), std::strerror(EEXIST)) << name;
  }
  EXPECT_EQ(test::ReadFileBytes(file), "a user's file");
  EXPECT_EQ(test::ReadFileBytes(target), "what a link points to");
  EXPECT_FALSE(dir_.Exists("nowhere.wav"));
  // Asked to replace, the link goes and what it pointed to stays; no temporary is left.
  ASSERT_TRUE(MAKE_HEADER(Path("link.wav"), 48000, 24, 10, 1, Placement::kReplace).ok());
  EXPECT_FALSE(std::filesystem::is_symlink(Path("link.wav")));
  EXPECT_EQ(test::ReadBytes(Path("link.wav")).size(), 44u);
  EXPECT_EQ(test::ReadFileBytes(target), "what a link points to");
  EXPECT_FALSE(dir_.Exists("link.wav.tmp"));
}

TEST_F(WaveFiles, SizeCorrectionSetsDataAndRiffSizes) {
  const std::string take = Path("take.wav");
  ASSERT_TRUE(MAKE_HEADER(take, 48000, 24, 1000, 1).ok());
  const Bytes samples = test::Pack24(PositionCoded(10));
  test::AppendBytes(take, samples);
  ASSERT_TRUE(FIX_SIZE(take).ok());
  Bytes file = test::ReadBytes(take);
  EXPECT_EQ(Field32(file, 40), 30u);
  EXPECT_EQ(Field32(file, 4), 66u);
  EXPECT_EQ(Bytes(file.begin() + 44, file.end()), samples);
  EXPECT_EQ(GET_LENGTH(take), 10);

  // Chunks before the data, sizes that lie, a partial frame at the end.
  std::size_t offset = 0;
  const std::string odd = Put("odd.wav", WaveBuilder()
                                             .ChunkBeforeData("LIST", "abc")
                                             .Samples(PositionCoded(7))
                                             .DataSize(9000)
                                             .RiffSize(5)
                                             .Trailing("p")
                                             .Build(&offset));
  ASSERT_TRUE(FIX_SIZE(odd).ok());
  file = test::ReadBytes(odd);
  EXPECT_EQ(Field32(file, offset - 4), 22u);
  EXPECT_EQ(Field32(file, 4), file.size() - 8);

  // Cut inside the data chunk header: writing the size completes it, announcing 0 bytes.
  Bytes cut = WaveBuilder().Build();
  cut.resize(cut.size() - 3);
  const std::string cutPath = Put("cut.wav", cut);
  ASSERT_TRUE(FIX_SIZE(cutPath).ok());
  file = test::ReadBytes(cutPath);
  EXPECT_EQ(file.size(), 44u);
  EXPECT_EQ(Field32(file, 40), 0u);
  EXPECT_EQ(Field32(file, 4), 36u);

  // The data tag at the end of the search range.
  const std::string late = Put("late.wav", WaveBuilder()
                                               .ChunkBeforeData("JUNK", std::string(kLastTagOffset - 44, 'x'))
                                               .Samples(PositionCoded(4))
                                               .DataSize(0)
                                               .Build(&offset));
  ASSERT_TRUE(FIX_SIZE(late).ok());
  EXPECT_EQ(Field32(test::ReadBytes(late), offset - 4), 12u);

  EXPECT_EQ(FIX_SIZE(Path("missing.wav")).Reason(), std::strerror(ENOENT));
  EXPECT_FALSE(dir_.Exists("missing.wav"));
}

// Sizes are 64-bit on 32-bit ARM too: a (sparse) file of 2 GiB or more is measured, not
// refused, and sizes that do not fit the 32-bit fields are clamped.
TEST_F(WaveFiles, FilesOfTwoGibibytesAndMore) {
  for (const std::int64_t size : {std::int64_t{3} << 30, std::int64_t{5} << 30}) {
    const std::string path = Put("long.wav", WaveBuilder().DataSize(0xFFFFFFF0).Build());
    ASSERT_EQ(::truncate64(path.c_str(), size), 0) << std::strerror(errno);
    EXPECT_EQ(GET_LENGTH(path), std::min<std::int64_t>(size - 44, 0xFFFFFFF0) / 3);
    ASSERT_TRUE(FIX_SIZE(path).ok());
    Bytes header(44);
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(header.data()), 44);
    EXPECT_EQ(Field32(header, 40), std::min<std::int64_t>(size - 44, 0xFFFFFFFF));
    EXPECT_EQ(Field32(header, 4), std::min<std::int64_t>(size - 8, 0xFFFFFFFF));
  }
}

TEST_F(WaveFiles, SizeCorrectionRefusesAFileWithoutDataAndLeavesItAsItWas) {
  // The take operations end the program for such a file of their own; the file layer only
  // says so.
  const Bytes original = WaveBuilder().WithoutDataChunk().Trailing("no samples").Build();
  const std::string path = Put("broken.wav", original);
  FileStatus status;
  EXPECT_EQ(Printed([&] { status = FIX_SIZE(path); }), "");
  EXPECT_EQ(status.error, FileStatus::kNoDataChunk);
  EXPECT_EQ(status.Message(), "Can't correct the header of " + path + ": No data chunk");
  EXPECT_EQ(test::ReadBytes(path), original);
}

}  // namespace
}  // namespace tapeloom
