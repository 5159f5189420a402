// Wave files: sample conversions, sox as the independent reader and writer, readers, headers, sizes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <numeric>

#include "support/console_harness.h"
#include "support/wave_builder.h"
#include "wave/sample_encoding.h"
#include "wave/text_file.h"
#include "wave/wave_file.h"
#include "wave/wave_header.h"
#include "wave/wave_readers.h"

namespace tapeloom::test {
namespace {

Bytes PackMono(const Samples& samples) {
  Bytes bytes(samples.size() * 3 + 1, 0xEE);  // one guard byte
  NUM24MONO_TO_CHAR(samples.data(), bytes.data(), static_cast<int>(samples.size()));
  EXPECT_EQ(bytes.back(), 0xEE) << "wrote past the last sample";
  bytes.pop_back();
  return bytes;
}

// Nine frames after `size` bytes of a chunk before the format or the data chunk.
Bytes Late(std::uint32_t size, bool beforeFormat) {
  WaveBuilder b = WaveBuilder().Samples(PositionCoded(9));
  const std::string junk(size, 'x');
  return (beforeFormat ? b.ChunkBeforeFormat("JUNK", junk) : b.ChunkBeforeData("JUNK", junk)).Build();
}

// Packers at their extremes, other widths, the wrap past 24 bits, every 24-bit value both ways.
// clang-format off
TEST(SampleConversions, ExtremesWidthsWrapAndEveryValue) {
  const Bytes packed = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00}; Samples out(5, 12345);
  CHAR_TO_NUM32(packed.data(), out.data(), 3, 4); CHAR_TO_NUM32(Bytes{0xFF, 0x7F, 0x00, 0x80}.data(), out.data(), 2, 2);
  CHAR_TO_NUM32(packed.data(), out.data() + 2, 4, 1);  // 3, 2 and 4 bytes (silence); the fifth sample stays
  EXPECT_EQ(out, (Samples{8388352, -8388608, 0, 1, 12345}));
  EXPECT_EQ(PackMono({-1, 8388608, 16777216, -8388609, INT32_MAX, INT32_MIN}), (Bytes{0xFF, 0xFF, 0xFF, 0, 0, 0x80, 0, 0, 0, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0}));
  Samples block(4096), back(4096);
  for (std::int32_t start = kSampleMin; start <= kSampleMax; start += 4096) {  // every 24-bit value both ways
    std::iota(block.begin(), block.end(), start); const Bytes bytes = PackMono(block); CHAR_TO_NUM32(bytes.data(), back.data(), 3, 4096);
    ASSERT_TRUE(bytes == Pack24(block) && back == block) << "block from " << start;
  }
  Bytes stereo(15, 0xEE);  // two frames, left first, and a guard; the digit helpers: a magnitude's digits, signed
  NUM24STER_TO_CHAR(std::array{-1, 8388608, 5}.data(), std::array{1, 0x123456, 5}.data(), stereo.data(), 2);
  EXPECT_EQ(stereo, (Bytes{0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 0, 0x80, 0x56, 0x34, 0x12, 0xEE, 0xEE, 0xEE}));
  for (std::array<int, 3> d; const auto& [m, sign, want] : {std::tuple{127, 1, std::array{127, 0, 0}},
           {128, 1, {-128, 0, 0}}, {32768, 1, {0, -128, 0}}, {0x123405, 1, {5, 52, 18}}, {128, -1, {127, -1, -1}}})
    EXPECT_EQ((BITS24_TO_BYTES3(d[0], d[1], d[2], m), TWOS_COMP24(d[0], d[1], d[2], sign), d), want) << m << sign;
}

// sox reads a take whose header was corrected; a file sox writes (extensible format, fact chunk, pad byte) is read.
TEST(SoxInterop, WaveFilesTapeloomWritesAndReadsAgreeWithSox) {
  TempDir dir; Samples mono = PositionCoded(40000);
  mono.insert(mono.begin(), {0, 1, -1, kSampleMax, kSampleMin, 0x123456, -0x123456, 255, -256, 65536});
  const std::string take = (dir / "t.wav").string(), raw = (dir / "in.raw").string(), made = (dir / "sox.wav").string();
  ASSERT_TRUE(MAKE_HEADER(take, 48000, 24, 96000, 1).ok()); AppendBytes(take, PackMono(mono));
  ASSERT_TRUE(FIX_SIZE(take).ok()); const CommandResult decoded = RunCommand({"sox", take, "-t", "s24", "-"});
  EXPECT_EQ(std::to_string(decoded.status) + decoded.err, "0") << "sox complains";
  EXPECT_EQ(Unpack24(Bytes(decoded.out.begin(), decoded.out.end())), mono);
  const Samples odd(mono.begin(), mono.begin() + 1001); WriteBytes(raw, Pack24(odd));
  ASSERT_EQ(RunCommand({"sox", "-t", "s24", "-r", "44100", "-c", "1", raw, "-b", "24", made}).status, 0);
  WaveAttributes a; ASSERT_EQ(GET_ATTRIBUTES(made, a), 1); const Bytes file = ReadBytes(made);
  ASSERT_TRUE(a.dataOffset > 44 && a.sampleRate == 44100 && GET_LENGTH(made) == 1001 && file.size() >= a.dataOffset + 3003u);
  EXPECT_EQ(Unpack24(std::span(file).subspan(static_cast<std::size_t>(a.dataOffset), 3003)), odd);
}

// Attributes in memory and on disk, each reader's words for each refusal (% the path), size correction, search range.
TEST(WaveFiles, AttributesRefusalsAndSizeCorrectionFileByFile) {
  using enum WaveCheck;
  const std::string fake = std::string("data") + '\x06' + std::string(3, '\0') + "abcdef";  // a tag inside a chunk
  const std::string noFormat = "Can't find format chunk in wave file!\n", noData = "Can't find data block in wave file!\n",
      noBlock = "Cannot find data block in file %!\n", notRegular = "Can't read %: Not a regular file\n", only24 = "24 bit wave files only!\n",
      not24 = "% is not a 24 bit file and will not be played\n", isDir = "Can't read %: " + std::string(std::strerror(EISDIR)) + "\n";
  const WaveBuilder ten = WaveBuilder().Samples(PositionCoded(10)); const Bytes plain = WaveBuilder().Build(); TempDir dir;
  const struct {
    Bytes file; WaveCheck check; std::int64_t length, dataOffset, bits, rate;
    std::string attributesSay = "", lengthSays = "";
    char odd = 'f';  // f: the bytes (the fifth cut in its data chunk header); p: a FIFO; d: a directory
  } cases[] = {
      {WaveBuilder().SampleRate(44100).Samples(PositionCoded(1000)).Build(), kUsable, 1000, 44, 24, 44100}, {WaveBuilder(ten).DataSize(3000).Trailing("xy").Build(), kUsable, 10, 44, 24, 48000}, {WaveBuilder(ten).DataSize(12).Trailing("xyz").Build(), kUsable, 4, 44, 24, 48000}, {Bytes(plain.begin(), plain.end() - 3), kUsable, 0, 44, 24, 48000},
      {WaveBuilder().ChunkBeforeFormat("JUNK", std::string(28, '\0')).ChunkBeforeData("LIST", "INFOISFT") .ChunkBeforeData("odd ", "12345").Samples(PositionCoded(5)).Build(), kUsable, 5, 110, 24, 48000}, {WaveBuilder().ChunkBeforeData("LIST", fake).Samples(PositionCoded(20)).Build(), kUsable, 2, 52, 24, 48000}, {WaveBuilder().Channels(2).Bits(16).Build(), kNotMono, 0, 0, 0, 0, "% is not a mono file and will not be played\n",       "Mono files only\n"},
      {WaveBuilder().Bits(16).Samples(PositionCoded(4)).Build(), kNot24Bit, 0, 0, 16, 0, not24, only24},
      {WaveBuilder().WithoutFormatChunk().WithoutDataChunk().Build(), kNoFormatChunk, 0, 0, 0, 0, noFormat, noFormat},
      {WaveBuilder().WithoutDataChunk().Trailing("no samples").Build(), kNoDataChunk, 0, 0, 24, 48000, noBlock, noData},
      {Late(kLastTagOffset - 20, true), kNoDataChunk, 0, 0, 24, 48000, noBlock, noData}, {Late(kLastTagOffset - 18, true), kNoFormatChunk, 0, 0, 0, 0, noFormat, noFormat}, {Late(kLastTagOffset - 44, false), kUsable, 9, kLastTagOffset + 8, 24, 48000}, {Late(kLastTagOffset - 42, false), kNoDataChunk, 0, 0, 24, 48000, noBlock, noData},
      {{}, kUsable, 0, 0, 0, 0, notRegular, notRegular, 'p'}, {{}, kUsable, 0, 0, 0, 0, isDir, isDir, 'd'}};
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    const auto& c = cases[k]; SCOPED_TRACE(k); const std::string path = (dir / (std::to_string(k) + ".wav")).string();
    WaveAttributes a, onDisk;
    if (c.odd == 'f') {
      EXPECT_EQ(ReadWaveAttributes(c.file, c.file.size(), a), c.check); WriteBytes(path, c.file);
      EXPECT_EQ(std::vector<std::int64_t>({a.length, a.dataOffset, a.bitsPerSample, a.sampleRate}), std::vector<std::int64_t>({c.length, c.dataOffset, c.bits, c.rate}));
    }
    ASSERT_TRUE(c.odd != 'p' || ::mkfifo(path.c_str(), 0600) == 0);
    if (c.odd == 'd') std::filesystem::create_directory(path);
    std::string says[] = {c.attributesSay, c.lengthSays};
    for (std::string& s : says) if (s.find('%') != std::string::npos) s.replace(s.find('%'), 1, path);
    const bool usable = c.odd == 'f' && c.check == kUsable;
    EXPECT_EQ(Printed([&] { EXPECT_EQ(GET_ATTRIBUTES(path, onDisk), usable ? 1 : 0); }), says[0]);
    EXPECT_EQ(Printed([&] { EXPECT_EQ(GET_LENGTH(path), c.length); }), says[1]);
    if (c.odd != 'f' || (c.check != kUsable && c.check != kNoDataChunk)) continue;
    // Data size: all after the data chunk's header; RIFF size: the file less 8; nothing else changes.
    const FileStatus fixed = FIX_SIZE(path); const Bytes file = ReadBytes(path); const auto at = static_cast<std::size_t>(c.dataOffset);
    EXPECT_EQ(fixed.ok() ? "" : fixed.Message(), usable ? "" : "Can't correct the header of " + path + ": No data chunk");
    EXPECT_TRUE(usable ? Field32(file, at - 4) + at == file.size() && Field32(file, 4) + 8 == file.size() &&
                             std::equal(file.begin() + at, file.end(), c.file.begin() + std::min(at, c.file.size())) : file == c.file);
  }
  // A short head settles the search only when the rest cannot change the answer.
  const Bytes whole = WaveBuilder().Samples(PositionCoded(5000)).Build(), late = Late(6000, false);
  EXPECT_TRUE(HeadSettlesSearch(std::span(whole).first(44), whole.size()) && HeadSettlesSearch(late, late.size()));
  EXPECT_FALSE(HeadSettlesSearch(std::span(whole).first(43), whole.size()) ||
               HeadSettlesSearch(std::span(late).first(kQuickHeadBytes), late.size()));
}

// Lists and names of any length read whole: a 6000-byte line, a 600-byte path, no last line end; the size limit.
TEST(WaveFiles, ListsAndNamesOfAnyLengthAreReadWhole) {
  TempDir dir;
  const std::filesystem::path deep = dir / std::string(200, 'p') / std::string(200, 'q') / std::string(200, 'r');
  const std::string a = (dir / "a.wav").string(), stereo = (dir / "s.wav").string(), list = (dir / "play.txt").string();
  const std::string b = (deep / "b.wav").string(), missing = (dir / "missing.wav").string();
  std::filesystem::create_directories(deep); WriteBytes(a, WaveBuilder().Samples(PositionCoded(10)).Build());
  WriteBytes(b, WaveBuilder().Samples(PositionCoded(50)).Build());
  WriteBytes(stereo, WaveBuilder().Channels(2).Samples(PositionCoded(90, 2)).Build());
  WriteFileBytes(list, a + "\n\n\n-" + b + "\n" + missing + "\n" + stereo + "\n" + std::string(12, '-') + std::string(6000, 'x') + "\n" + b);
  // Blank lines are no entries; skipped ones count, unmeasured; the longest is in the 600-byte path.
  const std::string checked = "Checking file " + a + "\nChecking file " + missing + "\nMono files only\nChecking file " + stereo + "\n";
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SEEK_LONG_FILE(6, '-', list), 50); }), checked + "Checking file " + b + "\n");
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SEEK_LONG_FILE(0, '-', list) + SEEK_LONG_FILE(9, '-', missing), 0); }), "Playlist file called " + missing + " was not found!\n");
  for (const std::uint64_t size : {std::uint64_t{1}, kLargestTextFile, kLargestTextFile + 1}) {
    const std::string text = std::string(size - 1, '\n') + "b"; const bool fits = size <= kLargestTextFile;
    if (size == 1) { ASSERT_TRUE(ReplaceFileAtomically(list, text).ok()); } else { WriteFileBytes(list, text); }
    std::string read = "stale"; const FileStatus status = ReadWholeFile(list, read);
    EXPECT_EQ(status.ok() ? "read" : status.Message(), fits ? "read" : "Can't read " + list + ": File too large");
    EXPECT_TRUE(read == (fits ? text : "")) << read.size() << " bytes read of " << size;
  }
}

// Headers at their limits, links replaced only when asked; files past 2^31 and 2^32 bytes measured, corrected, used.
TEST(WaveFiles, HeadersAtTheirLimitsAndFilesOfTwoGibibytesAndMore) {
  TempDir dir; const std::string path = (dir / "take.wav").string(), link = (dir / "link.wav").string();
  WriteFileBytes(path, std::string(100, 'z'));
  ASSERT_TRUE(MAKE_HEADER(path, 48000, 24, 1000, 2, Placement::kReplace).ok());
  EXPECT_EQ(ReadBytes(path), WaveBuilder().Channels(2).DataSize(6000).RiffSize(6036).Build());
  std::filesystem::create_symlink(path, link);
  EXPECT_EQ(MAKE_HEADER(link, 48000, 24, 10, 1).Reason(), std::strerror(EEXIST));
  ASSERT_TRUE(MAKE_HEADER(link, 48000, 24, 10, 1, Placement::kReplace).ok());
  EXPECT_FALSE(std::filesystem::is_symlink(link) || dir.Exists("link.wav.tmp"));
  ASSERT_TRUE(MAKE_HEADER(path, 48000, 24, 0x7FFFFFFF, 2, Placement::kReplace).ok());
  EXPECT_TRUE(Field32(ReadBytes(path), 40) == 0xFFFFFFFFu - 36 && Field32(ReadBytes(path), 4) == 0xFFFFFFFFu);
  for (const std::int64_t size : {(std::int64_t{1} << 31) + 5, std::int64_t{5} << 30}) {
    WriteBytes(path, WaveBuilder().DataSize(0xFFFFFFF0).Build());
    ASSERT_EQ(::truncate64(path.c_str(), size), 0) << std::strerror(errno);
    EXPECT_EQ(GET_LENGTH(path), std::min<std::int64_t>(size - 44, 0xFFFFFFF0) / 3); ASSERT_TRUE(FIX_SIZE(path).ok());
    FileStatus status; const FileDescriptor file = OpenForUpdate(path, status);
    const auto end = static_cast<std::uint64_t>(size) - 3; Bytes head(44), back(4, 0xEE);
    std::uint64_t got = 0, gotHead = 0, measured = 0;
    ASSERT_TRUE(WriteAt(file, end, Bytes{1, 2, 3}).ok() && ReadAt(file, end, back, got).ok());
    ASSERT_TRUE(ReadAt(file, 0, head, gotHead).ok() && FileSize(file, measured).ok());
    EXPECT_EQ(std::tuple(got, back, measured), std::tuple(3u, Bytes{1, 2, 3, 0xEE}, static_cast<std::uint64_t>(size)));
    EXPECT_EQ(std::tuple(Field32(head, 40), Field32(head, 4)), std::tuple(std::min<std::int64_t>(size - 44, 0xFFFFFFFF), std::min<std::int64_t>(size - 8, 0xFFFFFFFF)));
  }
}
// clang-format on

}  // namespace
}  // namespace tapeloom::test
