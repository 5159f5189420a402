// Period rounding, conversions between frames, seconds and measure.beat, and the console's words.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "core/console_input.h"
#include "core/number_words.h"
#include "core/time_base.h"
#include "support/typed_input.h"

namespace tapeloom {
namespace {

constexpr SamplePosition kLast = 2147482624;  // the last whole 1024-frame period in 32 bits

TEST(TimeBase, RoundingToPeriodsWithinZeroAndThirtyTwoBitsAndMeasuresAndBeats) {
  // On a boundary a time stays; in single precision the first period whose value reaches it is taken.
  const float inf = std::numeric_limits<float>::infinity();
  const std::tuple<int, std::uint32_t, float, SamplePosition> cases[] = {
      // clang-format off
      {1024, 44100, 1.0f, 45056}, {256, 48000, 1.0f, 48128}, {128, 48000, 1.0f, 48000}, {1024, 48000, 0.001f, 1024}, {1000, 5, 0.0001f, 1000},
      {1024, 48000, 0.0f, 0}, {1024, 48000, -3.0f, 0}, {1024, 48000, -0.0f, 0}, {1024, 48000, std::nanf(""), 0}, {1024, 48000, 44000.0f, 2112000000},
      {1024, 48000, 1.0e6f, kLast}, {1024, 48000, inf, kLast}, {5, 1, 33554436.0f, 33554435}, {1, 1, 33554433.0f, 33554431}};
  const std::tuple<int, std::int64_t, SamplePosition> frames[] = {
      {1024, 0, 0}, {1024, -5, 0}, {1024, 1, 1024}, {1024, 1024, 1024}, {1024, 1025, 2048}, {940, 94001, 94940}, {1024, INT_MAX, kLast}, {1024, 1LL << 40, kLast}};
  for (const auto& [period, sr, time, expected] : cases) EXPECT_EQ(QUANTIZE(period, sr, time), expected) << time;
  for (const auto& [period, n, expected] : frames) EXPECT_EQ(QUANTIZE_SAMPLES(period, n), expected) << n;
  for (const auto& [from, by, expected] : {std::tuple{1000, -2000LL, 0}, {1000, 24LL, 1024}, {INT_MAX - 10, 5LL, INT_MAX - 5}, {INT_MAX - 10, 100LL, kLast}}) EXPECT_EQ(MovePosition(from, by, 1024), expected) << by;
  // clang-format on
  EXPECT_TRUE(LastWholePeriod(1024) == kLast && QuantizeOverflows(1024, 48000, 1.0e6f) &&
              !QuantizeOverflows(1024, 48000, 44000.0f));
  EXPECT_FLOAT_EQ(PositionToSeconds(48128, 48000), 48128.0f / 48000.0f);
  EXPECT_TRUE(StampAt(1349885340 + 86400) == 86400 && StampAt(1349885340 - 60) == -60) << "from the epoch of the takes";
  const std::int32_t before = StampAt(std::time(nullptr)), now = NewTime();
  EXPECT_TRUE(now >= before && now <= before + 2) << now - before;

  // Both ways (0), to measure.beat only (1), to frames only (2: truncated, not clamped at 0, saturated).
  const std::tuple<int, float, SamplePosition, std::uint32_t, int, float, int> musical[] = {
      // clang-format off
      {4, 120, 0, 48000, 1, 1.0f, 0}, {4, 120, 96000, 48000, 2, 1.0f, 0}, {4, 120, 144000, 48000, 2, 3.0f, 0}, {3, 90, 12000, 48000, 1, 1.375f, 0},
      {4, 120, 228000, 48000, 3, 2.5f, 0}, {4, 100, 26460, 44100, 1, 2.0f, 0}, {4, 120, 95999, 48000, 1, 4.99998f, 1}, {4, 120, 12000, 48001, 1, 1.5f, 2},
      {4, 120, -192000, 48000, -1, 1.0f, 2}, {4, 120, INT_MAX, 48000, INT_MAX, 1.0f, 2}};
  for (const auto& [sig, tempo, frame, sr, measure, beat, way] : musical) {
    const MusicalPosition at = SampleToMeasures(sig, tempo, frame, sr);
    EXPECT_TRUE(way == 2 || (at.measure == measure && std::abs(at.beat - beat) < 1e-4f)) << frame << " " << at.beat;
    EXPECT_TRUE(way == 1 || MeasuresToSample(sig, tempo, measure, beat, sr) == frame) << frame;
  }
  for (const auto& [sig, time, tempo, measure, beat] : {std::tuple{4, 2.0f, 120.0f, 2, 1.0f}, {4, 0.0f, 120.0f, 1, 1.0f}, {7, 5.25f, 60.0f, 1, 6.25f}}) {
    EXPECT_TRUE(TimeToMeasures(sig, time, tempo).measure == measure && TimeToMeasures(sig, time, tempo).beat == beat) << time;
  }
  // clang-format on
  EXPECT_FLOAT_EQ(MeasuresToTime(4, 120, 3, 2.5f), 4.75f);
}

TEST(ConsoleInput, NumberWordsAndTheWordsNumbersAndWaitsOfAStream) {
  // C and decimal integers; NaN, infinities and floats out of range are no numbers (a field keeps its value).
  constexpr std::nullopt_t no = std::nullopt;
  const std::tuple<const char*, std::optional<int>, std::optional<int>> ints[] = {
      // clang-format off
      {"42", 42, 42}, {"0x1F", 31, 0}, {"010", 8, 10}, {"-7", -7, -7}, {"+7", 7, 7}, {"12abc", 12, 12}, {"abc", no, no}, {"", no, no}, {"-", no, no},
      {" \t 5,6", 5, 5}, {"99999999999999999999", INT_MAX, INT_MAX}, {"-99999999999", INT_MIN, INT_MIN}};
  const std::tuple<const char*, std::optional<float>, float> floats[] = {
      {"12.5", 12.5f, 12.5f}, {"-0.25dB", -0.25f, -0.25f}, {"3", 3.0f, 3.0f}, {"abc", no, 0}, {".", no, 0}, {"nan", no, 7.5f}, {"-nan", no, 7.5f},
      {"NAN(123)", no, 7.5f}, {"inf", no, 7.5f}, {"-Infinity", no, 7.5f}, {"1e39", no, 7.5f}, {"-1e39", no, 7.5f}};
  for (const auto& [word, c, decimal] : ints) EXPECT_TRUE(ParseCInt(word) == c && ParseDecimal(word) == decimal && DecimalOrZero(word) == decimal.value_or(0)) << word;
  for (const auto& [word, number, field] : floats) EXPECT_TRUE(ParseFloat(word) == number && FloatOrZero(word) == number.value_or(0.0f) && FloatField(word, 7.5f) == field) << word;
  // clang-format on
  EXPECT_EQ(ParseDecimalWide("4294967291"), 4294967291LL);
  // Any space or NUL ends a word; long words split across reads are whole, read by descriptor or through stdio.
  const char text[] = "  one\ttwo\n\n three\r\nfo\0ur\0\0five abc 12 x2.5 2.5 a b cc c d ";
  const std::string huge(100000, 'w'), split(4090, 'x');
  const std::string all = std::string(text, sizeof text - 1) + huge + " " + split + " y";
  for (const bool descriptor : {false, true}) {
    SCOPED_TRACE(descriptor);
    test::TypedInput typed(all);
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), &std::fclose);
    ASSERT_TRUE(std::fwrite(all.data(), 1, all.size(), file.get()) == all.size() &&
                std::fseek(file.get(), 0, SEEK_SET) == 0);
    ConsoleInput fromFile(file.get());
    ConsoleInput& in = descriptor ? fromFile : typed.get();
    for (const char* word : {"one", "two", "three", "fo", "ur", "five"}) EXPECT_EQ(in.ReadWord(), word);
    EXPECT_TRUE(in.ReadInt() == std::nullopt && in.ReadInt() == 12 && in.ReadFloat() == std::nullopt &&
                in.ReadFloat() == 2.5f);
    EXPECT_EQ(in.WaitFor("c"), "c");
    for (const std::string& word : {std::string("d"), huge, split, std::string("y")}) EXPECT_EQ(in.ReadWord(), word);
    EXPECT_THROW(in.WaitFor("c"), InputEnded);
    EXPECT_THROW(in.ReadInt(), InputEnded) << "and stays ended";
  }
}

}  // namespace
}  // namespace tapeloom
