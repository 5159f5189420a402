// Byte helpers and the sample conversions: the 24-bit extremes, the wrap of the packers, the
// rounding of mix results, and the digit helpers checked against the packers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "support/wave_builder.h"
#include "wave/byte_order.h"
#include "wave/sample_encoding.h"

namespace tapeloom {
namespace {

using test::Bytes;
constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();

Bytes PackMono(const std::vector<std::int32_t>& samples) {
  Bytes bytes(samples.size() * 3 + 1, 0xEE);  // one guard byte
  NUM24MONO_TO_CHAR(samples.data(), bytes.data(), static_cast<int>(samples.size()));
  EXPECT_EQ(bytes.back(), 0xEE) << "wrote past the last sample";
  bytes.pop_back();
  return bytes;
}

TEST(ByteOrder, LittleEndianFieldsAtTheirLimits) {
  unsigned char b[4];
  Decon2(0xFFFE, b);
  EXPECT_EQ(Bytes(b, b + 2), (Bytes{0xFE, 0xFF}));
  EXPECT_EQ(Assem2(b), 0xFFFE);
  Decon4(0x89ABCDEF, b);
  EXPECT_EQ(Bytes(b, b + 4), (Bytes{0xEF, 0xCD, 0xAB, 0x89}));
  EXPECT_EQ(Assem4(b), 0x89ABCDEFu);
  Decon4(static_cast<std::uint32_t>(-2), b);
  EXPECT_EQ(Bytes(b, b + 4), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
  b[3] = 0x5A;
  Decon3(0x12345678, b);
  EXPECT_EQ(Bytes(b, b + 4), (Bytes{0x78, 0x56, 0x34, 0x5A})) << "bits above 23 dropped, byte 3 untouched";
}

TEST(Unpacking, TwentyFourAndSixteenBitExtremes) {
  const Bytes packed = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00};
  std::vector<std::int32_t> out(5, 12345);
  CHAR_TO_NUM32(packed.data(), out.data(), 3, 4);
  EXPECT_EQ(out, (std::vector<std::int32_t>{8388607, -8388608, -1, 1, 12345}));

  const Bytes wide = {0xFF, 0x7F, 0x00, 0x80, 0xFF, 0xFF, 0x01, 0x00};
  CHAR_TO_NUM32(wide.data(), out.data(), 2, 4);
  EXPECT_EQ(out, (std::vector<std::int32_t>{8388352, -8388608, -256, 256, 12345}));

  CHAR_TO_NUM32(packed.data(), out.data(), 4, 2);
  EXPECT_EQ(out, (std::vector<std::int32_t>{0, 0, -256, 256, 12345})) << "an unknown width gives silence";
  CHAR_TO_NUM32(packed.data(), out.data(), 3, 0);
  CHAR_TO_NUM32(packed.data(), out.data(), 3, -5);
  EXPECT_EQ(out, (std::vector<std::int32_t>{0, 0, -256, 256, 12345})) << "a count of 0 or less converts nothing";
}

TEST(Packing, EveryTwentyFourBitValueSurvivesARoundTrip) {
  std::vector<std::int32_t> block(4096);
  std::vector<std::int32_t> back(block.size());
  Bytes bytes(block.size() * 3);
  for (std::int32_t start = kSampleMin; start <= kSampleMax; start += 4096) {
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = start + static_cast<std::int32_t>(i);
    NUM24MONO_TO_CHAR(block.data(), bytes.data(), 4096);
    CHAR_TO_NUM32(bytes.data(), back.data(), 3, 4096);
    ASSERT_EQ(back, block) << "block from " << start;
  }
}

TEST(Packing, ValuesOutsideTwentyFourBitsWrapWithoutClipping) {
  EXPECT_EQ(PackMono({-1, 8388608, 16777216, -8388609, kInt32Max, kInt32Min}),
            (Bytes{0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x7F,  //
                   0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00}));
  const std::vector<std::int32_t> left = {1, kSampleMax, -5};
  const std::vector<std::int32_t> right = {-1, kSampleMin, 7};
  Bytes stereo(19, 0xEE);
  NUM24STER_TO_CHAR(left.data(), right.data(), stereo.data(), 3);
  EXPECT_EQ(Bytes(stereo.begin(), stereo.begin() + 6), (Bytes{0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(test::Unpack24(stereo), (std::vector<std::int32_t>{1, -1, kSampleMax, kSampleMin, -5, 7}));
  EXPECT_EQ(stereo.back(), 0xEE);
}

// The digit helpers are the packers' arithmetic done on magnitudes: a negative value is
// split as its complement -v - 1 and turned back by TWOS_COMP24. Their low bytes must be the
// packed bytes for every value, in range or not.
TEST(DigitHelpers, AgreeWithThePackersOverTheWholeIntRange) {
  std::vector<std::int32_t> values = {0,          1,       -1,       127,       128,      -128,   -129,
                                      255,        256,     -256,     65535,     65536,    -65536, kSampleMax,
                                      kSampleMin, 8388608, -8388609, kInt32Max, kInt32Min};
  for (std::int64_t v = kInt32Min; v <= kInt32Max; v += 65521 * 7) values.push_back(static_cast<std::int32_t>(v));
  for (const std::int32_t v : values) {
    std::int32_t low = 0, middle = 0, high = 0;
    BITS24_TO_BYTES3(low, middle, high, v);
    EXPECT_EQ(std::int64_t{low} + 256 * std::int64_t{middle} + 65536 * std::int64_t{high}, v);
    if (v < 0) {
      EXPECT_TRUE(low <= 0 && middle <= 0 && high <= 0) << v;
    }
    if (v >= 0) {
      EXPECT_TRUE(low <= 255 && middle <= 255) << v;
    }

    BITS24_TO_BYTES3(low, middle, high, v < 0 ? ~v : v);  // ~v == -v - 1, defined for kInt32Min
    TWOS_COMP24(low, middle, high, v < 0 ? -1 : 1);
    const Bytes digits = {static_cast<unsigned char>(low), static_cast<unsigned char>(middle),
                          static_cast<unsigned char>(high)};
    EXPECT_EQ(digits, PackMono({v})) << v;
    if (v >= kSampleMin && v <= kSampleMax) {
      EXPECT_TRUE(std::max({low, middle, high}) <= 127 && std::min({low, middle, high}) >= -128)
          << v << ": the digits of a 24-bit value are signed bytes";
    }
  }
}

TEST(MixValues, RoundingRuleAndSaturation) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  // clang-format off
  const struct { double x; std::int32_t expected; } cases[] = {
      {0.9, 0}, {-0.5, -1}, {-1.0, -1}, {-1.7, -1}, {2.9, 2}, {-2.0, -2}, {-2.5, -2}, {-0.0, 0}, {-1e-9, -1},
      {8388607.99, kSampleMax}, {-8388608.5, kSampleMin}, {1e12, kInt32Max}, {-1e12, kInt32Min},
      {2147483647.5, kInt32Max}, {-2147483648.5, kInt32Min}, {kInf, kInt32Max}, {-kInf, kInt32Min}, {kNan, 0},
      {-1e-300, 0},  // so close to 0 that -1 - x rounds to -1: the conversion's arithmetic then gives 0
  };
  // clang-format on
  std::vector<double> left, right;
  std::vector<std::int32_t> expectedLeft, expectedRight;
  for (const auto& c : cases) {
    EXPECT_EQ(MixValueToSample(c.x), c.expected) << c.x;
    left.push_back(c.x);
    right.push_back(-c.x);
    expectedLeft.push_back(c.expected);
    expectedRight.push_back(MixValueToSample(-c.x));
  }
  const int frames = static_cast<int>(left.size());
  Bytes packed(left.size() * 6), reference(left.size() * 6);
  FLOAT_STER_TO_CHAR(left.data(), right.data(), packed.data(), frames);
  NUM24STER_TO_CHAR(expectedLeft.data(), expectedRight.data(), reference.data(), frames);
  EXPECT_EQ(packed, reference);
}

}  // namespace
}  // namespace tapeloom
