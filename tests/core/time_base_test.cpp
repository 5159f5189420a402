#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "core/console_input.h"
#include "core/number_words.h"
#include "core/time_base.h"
#include "support/typed_input.h"

namespace tapeloom {

constexpr SamplePosition kLast = 2147482624;  // the last whole 1024-frame period in 32 bits

// Periods round up within 0 and 32 bits; measure.beat both ways (0), one way (1), or to frames (2: saturated).
// clang-format off
TEST(TimeBase, RoundingToPeriodsAndMeasuresAndBeats) {
  const std::tuple<int, std::uint32_t, float, SamplePosition> secs[] = {{1024, 44100, 1, 45056}, {256, 48000, 1, 48128}, {128, 48000, 1, 48000}, {1024, 48000, 0.001f, 1024}, {1000, 5, 0.0001f, 1000}, {1024, 48000, 0, 0},
      {1024, 48000, -3, 0}, {1024, 48000, -0.0f, 0}, {1024, 48000, NAN, 0}, {1024, 48000, 44000, 2112000000}, {1024, 48000, 1.0e6f, kLast}, {1024, 48000, HUGE_VALF, kLast}, {5, 1, 33554436.0f, 33554435}, {1, 1, 33554433.0f, 33554431}};
  for (const auto& [period, sr, time, want] : secs) EXPECT_EQ(QUANTIZE(period, sr, time), want) << time;
  for (const auto& [p, n, w] : {std::tuple{1024, -5LL, 0}, {1024, 1LL, 1024}, {1024, 1024LL, 1024}, {1024, 1025LL, 2048}, {940, 94001LL, 94940}, {1024, 0LL + INT_MAX, kLast}, {1024, 1LL << 40, kLast}}) EXPECT_EQ(QUANTIZE_SAMPLES(p, n), w);
  for (const auto& [from, by, want] : {std::tuple{1000, -2000LL, 0}, {1000, 24LL, 1024}, {INT_MAX - 10, 5LL, INT_MAX - 5}, {INT_MAX - 10, 100LL, kLast}}) EXPECT_EQ(MovePosition(from, by, 1024), want) << by;
  const std::tuple<int, float, SamplePosition, std::uint32_t, int, float, int> musical[] = {{4, 120, 0, 48000, 1, 1, 0}, {4, 120, 96000, 48000, 2, 1, 0}, {4, 120, 144000, 48000, 2, 3, 0}, {3, 90, 12000, 48000, 1, 1.375f, 0},
      {4, 120, 228000, 48000, 3, 2.5f, 0}, {4, 100, 26460, 44100, 1, 2, 0}, {4, 120, 95999, 48000, 1, 4.99998f, 1}, {4, 120, 12000, 48001, 1, 1.5f, 2}, {4, 120, -192000, 48000, -1, 1, 2}, {4, 120, INT_MAX, 48000, INT_MAX, 1, 2}};
  for (const auto& [sig, bpm, frame, sr, m, b, way] : musical)
    EXPECT_TRUE((way == 2 || (SampleToMeasures(sig, bpm, frame, sr).measure == m && std::abs(SampleToMeasures(sig, bpm, frame, sr).beat - b) < 1e-4f)) && (way == 1 || MeasuresToSample(sig, bpm, m, b, sr) == frame)) << frame;
  for (const auto& [sig, t, bpm, m, b] : {std::tuple{4, 2.0f, 120.0f, 2, 1.0f}, {4, 0.0f, 120.0f, 1, 1.0f}, {7, 5.25f, 60.0f, 1, 6.25f}}) EXPECT_TRUE(TimeToMeasures(sig, t, bpm).measure == m && TimeToMeasures(sig, t, bpm).beat == b) << t;
  EXPECT_TRUE(LastWholePeriod(1024) == kLast && QuantizeOverflows(1024, 48000, 1.0e6f) && !QuantizeOverflows(1024, 48000, 44000.0f) && MeasuresToTime(4, 120, 3, 2.5f) == 4.75f && PositionToSeconds(48128, 48000) == 48128.0f / 48000.0f);
  const std::int32_t before = StampAt(std::time(nullptr)), now = NewTime();  // stamps count from the takes' epoch
  EXPECT_TRUE(std::abs(now - before - 1) <= 1 && StampAt(1349971740) == 86400 && StampAt(1349885280) == -60);
}

// NaN, inf, huge floats are no numbers; a space or NUL ends a word; words split across reads stay whole.
TEST(ConsoleInput, NumberWordsAndTheWordsNumbersAndWaitsOfAStream) {
  const std::tuple<const char*, std::optional<int>, std::optional<int>> ints[] = {{"42", 42, 42}, {"0x1F", 31, 0}, {"010", 8, 10}, {"-7", -7, -7}, {"+7", 7, 7}, {"12abc", 12, 12}, {"abc", {}, {}}, {"", {}, {}}, {"-", {}, {}},
      {" \t 5,6", 5, 5}, {"99999999999999999999", INT_MAX, INT_MAX}, {"-99999999999", INT_MIN, INT_MIN}};
  const std::tuple<const char*, std::optional<float>, float> floats[] = {{"12.5", 12.5f, 12.5f}, {"-0.25dB", -0.25f, -0.25f}, {"3", 3.0f, 3.0f}, {"abc", {}, 0}, {".", {}, 0}, {"nan", {}, 7.5f}, {"-nan", {}, 7.5f},
      {"NAN(123)", {}, 7.5f}, {"inf", {}, 7.5f}, {"-Infinity", {}, 7.5f}, {"1e39", {}, 7.5f}, {"-1e39", {}, 7.5f}};
  for (auto [w, c, d] : ints) EXPECT_TRUE(ParseCInt(w) == c && ParseDecimal(w) == d && DecimalOrZero(w) == d.value_or(0)) << w;
  for (auto [w, f, field] : floats) EXPECT_TRUE(ParseFloat(w) == f && FloatOrZero(w) == f.value_or(0.0f) && FloatField(w, 7.5f) == field) << w;
  EXPECT_EQ(ParseDecimalWide("4294967291"), 4294967291LL);
  const char text[] = "  abc 12 x2.5 2.5 a b cc c one\ttwo\n\n three\r\nfo\0ur\0\0five d ";
  const std::string big(100000, 'w'), tail(4090, 'x'), all = std::string(text, sizeof text - 1) + big + " " + tail + " y";
  const std::vector<std::string> words = {"one", "two", "three", "fo", "ur", "five", "d", big, tail, "y"};
  std::FILE* file = std::tmpfile();
  ASSERT_TRUE(std::fwrite(all.data(), 1, all.size(), file) == all.size() && std::fseek(file, 0, SEEK_SET) == 0);
  test::TypedInput typed(all); ConsoleInput fromFile(file);
  for (ConsoleInput* in : {&typed.get(), &fromFile}) {
    EXPECT_TRUE(!in->ReadInt() && in->ReadInt() == 12 && !in->ReadFloat() && in->ReadFloat() == 2.5f && in->WaitFor("c") == "c");
    for (const std::string& word : words) EXPECT_EQ(in->ReadWord(), word);
    EXPECT_THROW(in->WaitFor("c"), InputEnded);
    EXPECT_THROW(in->ReadInt(), InputEnded) << "and stays ended";
  }
  std::fclose(file);
}
// clang-format on

}  // namespace tapeloom
