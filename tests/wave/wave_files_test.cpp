// Wave files: sample conversions, sox as the independent reader and writer, readers, headers, sizes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <numeric>

#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/wave_builder.h"
#include "wave/sample_encoding.h"
#include "wave/text_file.h"
#include "wave/wave_file.h"
#include "wave/wave_header.h"
#include "wave/wave_readers.h"

namespace tapeloom {
namespace {

using test::Bytes;
using test::Field32;
using test::PositionCoded;
using test::WaveBuilder;
using Samples = std::vector<std::int32_t>;
constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();

template <typename Action>
std::string Printed(Action action) {
  testing::internal::CaptureStdout();
  action();
  return testing::internal::GetCapturedStdout();
}

Bytes PackMono(const Samples& samples) {
  Bytes bytes(samples.size() * 3 + 1, 0xEE);  // one guard byte
  NUM24MONO_TO_CHAR(samples.data(), bytes.data(), static_cast<int>(samples.size()));
  EXPECT_EQ(bytes.back(), 0xEE) << "wrote past the last sample";
  bytes.pop_back();
  return bytes;
}

// Nine frames after `size` bytes of another chunk before the format or the data chunk.
Bytes Late(std::uint32_t size, bool beforeFormat) {
  WaveBuilder builder = WaveBuilder().Samples(PositionCoded(9));
  return (beforeFormat ? builder.ChunkBeforeFormat("JUNK", std::string(size, 'x'))
                       : builder.ChunkBeforeData("JUNK", std::string(size, 'x')))
      .Build();
}

TEST(SampleConversions, ExtremesWidthsAndTheWrapOfThePackers) {
  const Bytes packed = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00};
  Samples out(5, 12345);
  CHAR_TO_NUM32(packed.data(), out.data(), 3, 4);
  EXPECT_EQ(out, (Samples{8388607, -8388608, -1, 1, 12345}));
  CHAR_TO_NUM32(Bytes{0xFF, 0x7F, 0x00, 0x80}.data(), out.data(), 2, 2);  // 16-bit samples
  CHAR_TO_NUM32(packed.data(), out.data() + 2, 4, 1);                     // an unknown width gives silence
  EXPECT_EQ(out, (Samples{8388352, -8388608, 0, 1, 12345}));
  // Stereo frames interleave and nothing is written past the last; beyond 24 bits values wrap.
  const Samples left = {1, kSampleMax, -5}, right = {-1, kSampleMin, 7};
  Bytes stereo(19, 0xEE), mixed(stereo), expected = test::Pack24(Samples{1, -1, kSampleMax, kSampleMin, -5, 7});
  NUM24STER_TO_CHAR(left.data(), right.data(), stereo.data(), 3);
  expected.push_back(0xEE);
  EXPECT_EQ(stereo, expected);
  const std::vector<double> leftMix(left.begin(), left.end()), rightMix(right.begin(), right.end());
  FLOAT_STER_TO_CHAR(leftMix.data(), rightMix.data(), mixed.data(), 3);  // whole mix values are exact
  EXPECT_EQ(mixed, expected);
  EXPECT_EQ(PackMono({-1, 8388608, 16777216, -8388609, kInt32Max, kInt32Min}),
            (Bytes{0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0}));
}

// Every 24-bit value, 0, +-1 and both extremes among them, packs as an independent packer does and unpacks to itself.
TEST(SampleConversions, EveryTwentyFourBitValueSurvivesARoundTrip) {
  Samples block(4096), back(4096);
  for (std::int32_t start = kSampleMin; start <= kSampleMax; start += 4096) {
    std::iota(block.begin(), block.end(), start);
    const Bytes bytes = PackMono(block);
    ASSERT_EQ(bytes, test::Pack24(block)) << "block from " << start;
    CHAR_TO_NUM32(bytes.data(), back.data(), 3, 4096);
    ASSERT_EQ(back, block) << "block from " << start;
  }
}

// The digit helpers split a value (a negative one as -v - 1, turned back by TWOS_COMP24) as packed.
TEST(DigitHelpers, AgreeWithThePackersOverTheWholeIntRange) {
  Samples values = {0, -1, 127, 128, -129, 256, 32768, 65535, 65536, kSampleMax, kSampleMin, -8388609, kInt32Max};
  for (std::int64_t v = kInt32Min; v <= kInt32Max; v += 65521 * 7) values.push_back(static_cast<std::int32_t>(v));
  for (const std::int32_t v : values) {
    std::int32_t low = 0, middle = 0, high = 0;
    BITS24_TO_BYTES3(low, middle, high, v);
    EXPECT_EQ(std::int64_t{low} + 256 * std::int64_t{middle} + 65536 * std::int64_t{high}, v);
    EXPECT_TRUE(v < 0 ? low <= 0 && middle <= 0 && high <= 0 : low <= 255 && middle <= 255) << v;
    BITS24_TO_BYTES3(low, middle, high, v < 0 ? ~v : v);  // ~v == -v - 1, defined for kInt32Min
    TWOS_COMP24(low, middle, high, v < 0 ? -1 : 1);
    EXPECT_EQ(
        Bytes({static_cast<unsigned char>(low), static_cast<unsigned char>(middle), static_cast<unsigned char>(high)}),
        PackMono({v}))
        << v;
    const bool signedBytes = std::max({low, middle, high}) <= 127 && std::min({low, middle, high}) >= -128;
    EXPECT_TRUE(signedBytes || v < kSampleMin || v > kSampleMax) << v << ": a 24-bit value's digits are signed bytes";
  }
}

// The samples as sox decodes them; sox must not complain about the file.
Samples SoxSamples(const std::string& path) {
  const test::CommandResult r = test::RunCommand({"sox", path, "-t", "s24", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "") << "sox on " << path;
  return test::Unpack24(Bytes(r.out.begin(), r.out.end()));
}

TEST(SoxInterop, WaveFilesTapeloomWritesAndReadsAgreeWithSox) {
  test::TempDir dir;
  // A mono take of extremes and position codes, its header planned longer and corrected after.
  Samples mono = {0, 1, -1, kSampleMax, kSampleMin, 0x123456, -0x123456, 255, -256, 65536};
  const Samples coded = PositionCoded(40000);
  mono.insert(mono.end(), coded.begin(), coded.end());
  const std::string take = (dir / "take.wav").string();
  ASSERT_TRUE(MAKE_HEADER(take, 48000, 24, 96000, 1).ok());
  test::AppendBytes(take, PackMono(mono));
  ASSERT_TRUE(FIX_SIZE(take).ok());
  EXPECT_EQ(SoxSamples(take), mono);
  EXPECT_EQ(test::RunCommand({"sox", "--i", "-r", take}).out + test::RunCommand({"sox", "--i", "-c", take}).out,
            "48000\n1\n");
  // A file sox writes: an extensible format chunk, a fact chunk, a pad byte after an odd count.
  const std::string raw = (dir / "in.raw").string(), made = (dir / "sox.wav").string();
  const Samples odd(mono.begin(), mono.begin() + 1001);
  test::WriteBytes(raw, test::Pack24(odd));
  ASSERT_EQ(test::RunCommand({"sox", "-t", "s24", "-r", "44100", "-c", "1", raw, "-b", "24", made}).status, 0);
  WaveAttributes a;
  ASSERT_EQ(GET_ATTRIBUTES(made, a), 1);
  EXPECT_TRUE(a.dataOffset > 44 && a.sampleRate == 44100 && GET_LENGTH(made) == 1001);
  const Bytes file = test::ReadBytes(made);
  ASSERT_GE(file.size(), static_cast<std::size_t>(a.dataOffset) + 3 * 1001);
  Samples samples(1001);
  CHAR_TO_NUM32(file.data() + a.dataOffset, samples.data(), 3, 1001);
  EXPECT_EQ(samples, odd);
}

TEST(WaveFiles, AttributesAndRefusalsInTheirOrder) {
  using enum WaveCheck;
  const std::string fake = std::string("data") + '\x06' + std::string(3, '\0') + "abcdef";  // a tag inside a chunk
  const WaveBuilder ten = WaveBuilder().Samples(PositionCoded(10));
  const struct {
    Bytes file;
    WaveCheck check;
    std::int64_t length, dataOffset, bits, rate;
  } cases[] = {
      // clang-format off
      {WaveBuilder().SampleRate(44100).Samples(PositionCoded(1000)).Build(), kUsable, 1000, 44, 24, 44100},
      {WaveBuilder().SampleRate(192000).Extensible().Samples(PositionCoded(7)).Build(), kUsable, 7, 68, 24, 192000},
      // The length is the smaller of what the header says and the whole frames present.
      {WaveBuilder(ten).DataSize(3000).Trailing("xy").Build(), kUsable, 10, 44, 24, 48000},
      {WaveBuilder(ten).DataSize(12).Trailing("xyz").Build(), kUsable, 4, 44, 24, 48000},
      {WaveBuilder().ChunkBeforeFormat("JUNK", std::string(28, '\0')).ChunkBeforeData("LIST", "INFOISFT")
           .ChunkBeforeData("odd ", "12345").Samples(PositionCoded(5)).Build(), kUsable, 5, 110, 24, 48000},
      // A data tag inside an earlier chunk wins at an even offset and is passed over at an odd one.
      {WaveBuilder().ChunkBeforeData("LIST", fake).Samples(PositionCoded(20)).Build(), kUsable, 2, 52, 24, 48000},
      {WaveBuilder().Channels(2).Bits(16).Build(), kNotMono, 0, 0, 0, 0},
      {WaveBuilder().Bits(32).Samples(PositionCoded(4)).Build(), kNot24Bit, 0, 0, 32, 0},
      {WaveBuilder().WithoutFormatChunk().WithoutDataChunk().Build(), kNoFormatChunk, 0, 0, 0, 0},
      // Tags at the end of the search range are found, beyond it not.
      {Late(kLastTagOffset - 20, true), kNoDataChunk, 0, 0, 24, 48000},
      {Late(kLastTagOffset - 18, true), kNoFormatChunk, 0, 0, 0, 0},
      {Late(kLastTagOffset - 44, false), kUsable, 9, kLastTagOffset + 8, 24, 48000},
      {Late(kLastTagOffset - 42, false), kNoDataChunk, 0, 0, 24, 48000}};
  // clang-format on
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    WaveAttributes a;
    EXPECT_EQ(ReadWaveAttributes(cases[k].file, cases[k].file.size(), a), cases[k].check) << k;
    EXPECT_EQ(std::vector<std::int64_t>({a.length, a.dataOffset, a.bitsPerSample, a.sampleRate}),
              std::vector<std::int64_t>({cases[k].length, cases[k].dataOffset, cases[k].bits, cases[k].rate}))
        << k;
  }
  // Each reader's words for each refusal; a missing file is named only by the attribute reader.
  test::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder.wav");
  const std::string noFormat = "Can't find format chunk in wave file!\n", noRead = ": Not a regular file\n";
  const std::string isDir = std::string(": ") + std::strerror(EISDIR) + "\n",
                    noData = "Can't find data block in wave file!\n";
  // The format chunk at the end of the search range is found in a file too: only the data chunk is missed.
  const std::tuple<std::string, Bytes, std::string, std::string> refusals[] = {
      {"missing.wav", {}, "Cannot find file in track list called %!!\n", ""},
      {"pipe.wav", {}, "Can't read %" + noRead, "Can't read %" + noRead},
      {"folder.wav", {}, "Can't read %" + isDir, "Can't read %" + isDir},
      {"no-fmt.wav", WaveBuilder().WithoutFormatChunk().Build(), noFormat, noFormat},
      {"end-fmt.wav", Late(kLastTagOffset - 20, true), "Cannot find data block in file %!\n", noData},
      {"stereo.wav", WaveBuilder().Channels(2).Build(), "% is not a mono file and will not be played\n",
       "Mono files only\n"},
      {"16.wav", WaveBuilder().Bits(16).Build(), "% is not a 24 bit file and will not be played\n",
       "24 bit wave files only!\n"},
      {"no-data.wav", WaveBuilder().WithoutDataChunk().Build(), "Cannot find data block in file %!\n", noData}};
  for (auto [name, bytes, attributesSay, lengthSays] : refusals) {
    const std::string path = (dir / name).string();
    if (!bytes.empty()) test::WriteBytes(path, bytes);
    for (std::string* says : {&attributesSay, &lengthSays}) {
      if (says->find('%') != std::string::npos) says->replace(says->find('%'), 1, path);
    }
    WaveAttributes a;
    EXPECT_EQ(Printed([&] { EXPECT_EQ(GET_ATTRIBUTES(path, a), 0); }), attributesSay) << name;
    EXPECT_EQ(Printed([&] { EXPECT_EQ(GET_LENGTH(path), 0); }), lengthSays) << name;
  }
  // A short head settles the search only when it cannot change the answer.
  const Bytes canonical = WaveBuilder().Samples(PositionCoded(5000)).Build(), late = Late(6000, false);
  EXPECT_TRUE(HeadSettlesSearch(std::span(canonical).first(44), canonical.size())) << "the data size just in it";
  EXPECT_FALSE(HeadSettlesSearch(std::span(canonical).first(43), canonical.size()));
  EXPECT_FALSE(HeadSettlesSearch(std::span(late).first(kQuickHeadBytes), late.size()));
  EXPECT_TRUE(HeadSettlesSearch(late, late.size()));
}

TEST(WaveFiles, ListsAndNamesOfAnyLengthAreReadWhole) {
  test::TempDir dir;
  const std::filesystem::path deep = dir / std::string(200, 'p') / std::string(200, 'q') / std::string(200, 'r');
  std::filesystem::create_directories(deep);
  const std::string a = (dir / "a.wav").string(), stereo = (dir / "s.wav").string(), list = (dir / "play.txt").string();
  const std::string b = (deep / "b.wav").string(), missing = (dir / "missing.wav").string();
  test::WriteBytes(a, WaveBuilder().Samples(PositionCoded(10)).Build());
  test::WriteBytes(b, WaveBuilder().Samples(PositionCoded(50)).Build());
  test::WriteBytes(stereo, WaveBuilder().Channels(2).Samples(PositionCoded(90, 2)).Build());
  // Long lines, and the last without its line end.
  test::WriteFileBytes(list, a + "\n\n\n-" + b + "\n" + missing + "\n" + stereo + "\n" + std::string(12, '-') +
                                 std::string(6000, 'x') + "\n" + b);
  // Blank lines are no entries; skipped entries count but are not measured.
  const std::string checked = "Checking file " + a + "\nChecking file " + missing + "\nMono files only\nChecking file ";
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SEEK_LONG_FILE(4, '-', list), 10); }), checked + stereo + "\n");
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SEEK_LONG_FILE(6, '-', list), 50); }),
            checked + stereo + "\nChecking file " + b + "\n");
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SEEK_LONG_FILE(0, '-', list) + SEEK_LONG_FILE(9, '-', missing), 0); }),
            "Playlist file called " + missing + " was not found!\n");
  // A list is read whole, its long name last, up to kLargestTextFile bytes; a larger one is refused, nothing read.
  for (const std::uint64_t size :
       {std::uint64_t{b.size()} + 2, kLargestTextFile - 1, kLargestTextFile, kLargestTextFile + 1}) {
    SCOPED_TRACE(size);
    const std::string text = std::string(size - b.size() - 1, '-') + "\n" + b;
    const bool fits = size <= kLargestTextFile;
    test::WriteFileBytes(list, text);
    std::string read = "stale";
    const FileStatus status = ReadWholeFile(list, read);
    EXPECT_EQ(status.ok() ? "read" : status.Message(), fits ? "read" : "Can't read " + list + ": File too large");
    EXPECT_TRUE(read == (fits ? text : "")) << read.size() << " bytes read";
    EXPECT_EQ(Printed([&] { EXPECT_EQ(SEEK_LONG_FILE(2, '-', list), fits ? 50 : 0); }),
              fits ? "Checking file " + b + "\n" : "Playlist file called " + list + " was not found!\n");
  }
}

TEST(WaveFiles, HeadersAtTheirLimitsReplacingOnlyWhenAsked) {
  test::TempDir dir;
  const std::string path = (dir / "take.wav").string(), link = (dir / "link.wav").string();
  test::WriteFileBytes(path, std::string(100, 'z'));
  ASSERT_TRUE(MAKE_HEADER(path, 48000, 24, 1000, 2, Placement::kReplace).ok());
  EXPECT_EQ(test::ReadBytes(path), WaveBuilder().Channels(2).DataSize(6000).RiffSize(6036).Build());
  // A file or a link of the name is replaced only when asked.
  std::filesystem::create_symlink(path, link);
  EXPECT_EQ(MAKE_HEADER(link, 48000, 24, 10, 1).Reason(), std::strerror(EEXIST));
  ASSERT_TRUE(MAKE_HEADER(link, 48000, 24, 10, 1, Placement::kReplace).ok());
  EXPECT_FALSE(std::filesystem::is_symlink(link) || dir.Exists("link.wav.tmp"));
  ASSERT_TRUE(MAKE_HEADER(path, 48000, 24, 0x7FFFFFFF, 2, Placement::kReplace).ok());
  EXPECT_EQ(Field32(test::ReadBytes(path), 40), 0xFFFFFFFFu - 36) << "clamped, not wrapped";
  EXPECT_EQ(Field32(test::ReadBytes(path), 4), 0xFFFFFFFFu);
  EXPECT_EQ(MAKE_HEADER((dir / "no-dir/take.wav").string(), 48000, 24, 10, 1).Reason(), std::strerror(ENOENT));
}

TEST(WaveFiles, SizeCorrectionSetsDataAndRiffSizes) {
  test::TempDir dir;
  const std::string path = (dir / "take.wav").string();
  const Bytes canonical = WaveBuilder().Build();
  const struct {
    Bytes file;
    std::size_t dataSizeAt;
    std::uint32_t dataSize;
  } cases[] = {// clang-format off
      {WaveBuilder().Samples(PositionCoded(10)).DataSize(3000).Build(), 40, 30},
      {Bytes(canonical.begin(), canonical.end() - 3), 40, 0},  // cut inside the data chunk header: completed
      {Late(kLastTagOffset - 44, false), kLastTagOffset + 4, 27}};
  // clang-format on
  for (const auto& c : cases) {
    test::WriteBytes(path, c.file);
    ASSERT_TRUE(FIX_SIZE(path).ok());
    const Bytes file = test::ReadBytes(path);
    EXPECT_EQ(Field32(file, c.dataSizeAt), c.dataSize);
    EXPECT_EQ(Field32(file, 4), file.size() - 8);
    EXPECT_TRUE(std::equal(file.begin() + static_cast<std::ptrdiff_t>(c.dataSizeAt) + 4, file.end(),
                           c.file.begin() + static_cast<std::ptrdiff_t>(c.dataSizeAt) + 4));
  }
  // Without a data chunk the file is refused with the reason and left as it was.
  const Bytes original = WaveBuilder().WithoutDataChunk().Trailing("no samples").Build();
  test::WriteBytes(path, original);
  EXPECT_EQ(FIX_SIZE(path).Message(), "Can't correct the header of " + path + ": No data chunk");
  EXPECT_EQ(test::ReadBytes(path), original);
}

// Sizes and positions are 64-bit on 32-bit ARM too: sparse files past 2^31 and 2^32 bytes are measured,
// corrected (sizes beyond the 32-bit fields clamped) and read and written at their end.
TEST(WaveFiles, FilesOfTwoGibibytesAndMore) {
  test::TempDir dir;
  const std::string path = (dir / "long.wav").string();
  for (const std::int64_t size : {(std::int64_t{1} << 31) + 5, std::int64_t{5} << 30}) {
    test::WriteBytes(path, WaveBuilder().DataSize(0xFFFFFFF0).Build());
    ASSERT_EQ(::truncate64(path.c_str(), size), 0) << std::strerror(errno);
    EXPECT_EQ(GET_LENGTH(path), std::min<std::int64_t>(size - 44, 0xFFFFFFF0) / 3);
    ASSERT_TRUE(FIX_SIZE(path).ok());
    FileStatus status;
    const FileDescriptor file = OpenForUpdate(path, status);
    const auto end = static_cast<std::uint64_t>(size) - 3;
    Bytes head(44), back(4, 0xEE);
    std::uint64_t got = 0, gotHead = 0, measured = 0;
    ASSERT_TRUE(WriteAt(file, end, Bytes{1, 2, 3}).ok() && ReadAt(file, end, back, got).ok());
    ASSERT_TRUE(ReadAt(file, 0, head, gotHead).ok() && FileSize(file, measured).ok());
    EXPECT_EQ(std::tuple(got, back, measured), std::tuple(3u, Bytes{1, 2, 3, 0xEE}, static_cast<std::uint64_t>(size)));
    EXPECT_EQ(Field32(head, 40), std::min<std::int64_t>(size - 44, 0xFFFFFFFF));
    EXPECT_EQ(Field32(head, 4), std::min<std::int64_t>(size - 8, 0xFFFFFFFF));
  }
}

}  // namespace
}  // namespace tapeloom
