// The readers' view of a file, fed from memory: the tag search at its limits, the attribute
// fields, the order of the refusals, and lengths from headers that lie.
#include <gtest/gtest.h>

#include "support/wave_builder.h"
#include "wave/wave_layout.h"

namespace tapeloom {
namespace {

using test::Bytes;
using test::PositionCoded;
using test::WaveBuilder;

WaveCheck Read(const Bytes& file, WaveAttributes& out) { return ReadWaveAttributes(file, file.size(), out); }

WaveAttributes Usable(const Bytes& file) {
  WaveAttributes a;
  EXPECT_EQ(Read(file, a), WaveCheck::kUsable);
  return a;
}

TEST(WaveAttributesFromMemory, CanonicalAndExtensibleFiles) {
  const WaveAttributes a = Usable(WaveBuilder().SampleRate(44100).Samples(PositionCoded(1000)).Build());
  EXPECT_EQ(a.channels, 1);
  EXPECT_EQ(a.dataOffset, 44);
  EXPECT_EQ(a.sampleRate, 44100u);
  EXPECT_EQ(a.length, 1000);
  EXPECT_EQ(a.bytesPerSample, 3);
  EXPECT_EQ(a.bitsPerSample, 24);

  std::size_t offset = 0;
  const WaveAttributes e =
      Usable(WaveBuilder().SampleRate(192000).Extensible().Samples(PositionCoded(7)).Build(&offset));
  EXPECT_EQ(e.dataOffset, static_cast<std::int32_t>(offset));
  EXPECT_EQ(e.sampleRate, 192000u) << "any rate is accepted";
  EXPECT_EQ(e.length, 7);
  EXPECT_EQ(Usable(WaveBuilder().Build()).length, 0) << "an empty take is usable";
}

TEST(WaveAttributesFromMemory, LengthIsTheSmallerOfHeaderAndWholeFramesPresent) {
  const auto length = [](std::uint32_t dataSize, std::string_view trailing) {
    return Usable(WaveBuilder().Samples(PositionCoded(10)).DataSize(dataSize).Trailing(trailing).Build()).length;
  };
  EXPECT_EQ(length(3000, ""), 10) << "a take header announces the planned length";
  EXPECT_EQ(length(3000, "x"), 10) << "a trailing partial frame does not count";
  EXPECT_EQ(length(3000, "xy"), 10);
  EXPECT_EQ(length(3000, "xyz"), 11);
  EXPECT_EQ(length(12, "xyz"), 4) << "bytes beyond the announced size are not read";
  EXPECT_EQ(length(29, ""), 9) << "an announced partial frame does not count";
  EXPECT_EQ(length(0xFFFFFFFF, ""), 10);

  // The data chunk header itself cut short: the tag is found, no frame is present.
  Bytes cut = WaveBuilder().DataSize(3000).Build();
  cut.resize(cut.size() - 2);
  EXPECT_EQ(Usable(cut).length, 0);
  cut.resize(cut.size() - 3);
  WaveAttributes a;
  EXPECT_EQ(Read(cut, a), WaveCheck::kNoDataChunk) << "a tag must lie wholly in the file";
}

TEST(WaveAttributesFromMemory, ChunksBeforeTheDataAndTagsInsideThem) {
  std::size_t offset = 0;
  const Bytes odd = WaveBuilder()
                        .ChunkBeforeFormat("JUNK", std::string(28, '\0'))
                        .ChunkBeforeData("LIST", "INFOISFT")
                        .ChunkBeforeData("odd ", "12345")
                        .Samples(PositionCoded(5))
                        .Build(&offset);
  EXPECT_EQ(offset, 12u + 36 + 24 + 16 + 14 + 8);
  WaveAttributes a = Usable(odd);
  EXPECT_EQ(a.dataOffset, static_cast<std::int32_t>(offset));
  EXPECT_EQ(a.length, 5);

  // Without the pad byte the data tag stands at an odd offset, where the search never looks.
  EXPECT_EQ(Read(WaveBuilder().ChunkBeforeData("odd ", "12345", false).Build(), a), WaveCheck::kNoDataChunk);

  // "data" inside an earlier chunk at an even offset wins over the real chunk; at an odd
  // offset it is passed over. The LIST content starts at 44.
  const std::string fake = std::string("data") + '\x06' + std::string(3, '\0') + "abcdef";
  a = Usable(WaveBuilder().ChunkBeforeData("LIST", fake).Samples(PositionCoded(20)).Build());
  EXPECT_EQ(a.dataOffset, 44 + 8);
  EXPECT_EQ(a.length, 2);
  a = Usable(WaveBuilder().ChunkBeforeData("LIST", "x" + fake + "x").Samples(PositionCoded(20)).Build());
  EXPECT_EQ(a.dataOffset, 44 + 16 + 8);
  EXPECT_EQ(a.length, 20);
}

TEST(WaveAttributesFromMemory, TagsMatchOnFmtAndOnData) {
  Bytes file = WaveBuilder().Samples(PositionCoded(3)).Build();
  file[15] = 'X';  // "fmtX": the fourth byte is not compared
  WaveAttributes a;
  EXPECT_EQ(Read(file, a), WaveCheck::kUsable);
  file[39] = 'A';  // "datA"
  EXPECT_EQ(Read(file, a), WaveCheck::kNoDataChunk);
}

TEST(WaveAttributesFromMemory, RefusalsInTheirOrder) {
  WaveAttributes a;
  EXPECT_EQ(Read(WaveBuilder().Channels(2).Samples(PositionCoded(4, 2)).Build(), a), WaveCheck::kNotMono);
  EXPECT_EQ(a.channels, 2);
  EXPECT_EQ(Read(WaveBuilder().Channels(2).Bits(16).Build(), a), WaveCheck::kNotMono);
  for (const int bits : {8, 16, 32}) {
    EXPECT_EQ(Read(WaveBuilder().Bits(bits).Samples(PositionCoded(4)).Build(), a), WaveCheck::kNot24Bit) << bits;
    EXPECT_EQ(a.bitsPerSample, bits);
  }
  EXPECT_EQ(Read(WaveBuilder().WithoutFormatChunk().Samples(PositionCoded(4)).Build(), a), WaveCheck::kNoFormatChunk);
  EXPECT_EQ(Read(WaveBuilder().Bits(16).WithoutDataChunk().Build(), a), WaveCheck::kNot24Bit);
  EXPECT_EQ(Read(WaveBuilder().WithoutFormatChunk().WithoutDataChunk().Build(), a), WaveCheck::kNoFormatChunk);
  EXPECT_EQ(Read(WaveBuilder().SampleRate(22050).WithoutDataChunk().Build(), a), WaveCheck::kNoDataChunk);
  EXPECT_EQ(a.sampleRate, 22050u);
  EXPECT_EQ(Read(Bytes{}, a), WaveCheck::kNoFormatChunk);
  EXPECT_EQ(Read(Bytes{'R', 'I', 'F', 'F', 0, 0}, a), WaveCheck::kNoFormatChunk);
}

TEST(WaveAttributesFromMemory, TagsAtTheEndOfTheSearchRangeAndBeyond) {
  for (const std::uint32_t at : {kLastTagOffset, kLastTagOffset + 2}) {
    const bool found = at <= kLastTagOffset;
    const auto expectedAt = found ? std::optional<std::uint32_t>(at) : std::nullopt;

    // A junk chunk before the format chunk puts its tag at `at`. The readers see only the
    // head of a file, which must hold every field of so late a format chunk. The data chunk
    // follows it, beyond the search range.
    const Bytes lateFormat =
        WaveBuilder().ChunkBeforeFormat("JUNK", std::string(at - 20, 'x')).Samples(PositionCoded(9)).Build();
    EXPECT_EQ(FindFormatTag(lateFormat), expectedAt);
    WaveAttributes a;
    EXPECT_EQ(ReadWaveAttributes(std::span(lateFormat).first(kWaveHeadBytes), lateFormat.size(), a),
              found ? WaveCheck::kNoDataChunk : WaveCheck::kNoFormatChunk);
    EXPECT_EQ(a.bitsPerSample, found ? 24 : 0);
    EXPECT_EQ(a.sampleRate, found ? 48000u : 0u);

    const Bytes lateData =
        WaveBuilder().ChunkBeforeData("JUNK", std::string(at - 44, 'x')).Samples(PositionCoded(9)).Build();
    EXPECT_EQ(FindDataTag(lateData), expectedAt);
    a = {};
    EXPECT_EQ(ReadWaveAttributes(std::span(lateData).first(kWaveHeadBytes), lateData.size(), a),
              found ? WaveCheck::kUsable : WaveCheck::kNoDataChunk);
    EXPECT_EQ(a.dataOffset, found ? static_cast<std::int32_t>(at + 8) : 0);
    EXPECT_EQ(a.length, found ? 9 : 0);
  }
}

}  // namespace
}  // namespace tapeloom

namespace tapeloom {
namespace {

TEST(HeadSettlesSearch, AShortHeadIsEnoughOnlyWhenItCannotChangeTheAnswer) {
  const test::Bytes canonical = test::WaveBuilder().Samples(test::PositionCoded(5000)).Build();
  const std::span<const unsigned char> bytes(canonical);
  EXPECT_TRUE(HeadSettlesSearch(bytes.first(kQuickHeadBytes), canonical.size()));
  EXPECT_FALSE(HeadSettlesSearch(bytes.first(40), canonical.size())) << "the data size is not in it yet";
  EXPECT_TRUE(HeadSettlesSearch(bytes.first(40), 40)) << "the whole file";

  // The data chunk beyond the short head: the whole region must be searched.
  const test::Bytes late =
      test::WaveBuilder().ChunkBeforeData("LIST", std::string(6000, 'x')).Samples(test::PositionCoded(10)).Build();
  EXPECT_FALSE(HeadSettlesSearch(std::span<const unsigned char>(late).first(kQuickHeadBytes), late.size()));
  EXPECT_TRUE(HeadSettlesSearch(late, late.size()));
}

}  // namespace
}  // namespace tapeloom
