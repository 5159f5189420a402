// Words and numbers read from the console.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <memory>

#include "core/console_input.h"
#include "core/number_words.h"
#include "support/typed_input.h"

namespace tapeloom {
namespace {

TEST(NumberWords, CIntegerForms) {
  EXPECT_EQ(ParseCInt("42"), 42);
  EXPECT_EQ(ParseCInt("0x1F"), 31);
  EXPECT_EQ(ParseCInt("010"), 8);
  EXPECT_EQ(ParseCInt("-7"), -7);
  EXPECT_EQ(ParseCInt("+7"), 7);
  EXPECT_EQ(ParseCInt("12abc"), 12);
  EXPECT_EQ(ParseCInt("abc"), std::nullopt);
  EXPECT_EQ(ParseCInt(""), std::nullopt);
  EXPECT_EQ(ParseCInt("-"), std::nullopt);
  EXPECT_EQ(ParseCInt("99999999999999999999"), INT_MAX);
  EXPECT_EQ(ParseCInt("-99999999999"), INT_MIN);
}

TEST(NumberWords, DecimalIgnoresCPrefixes) {
  EXPECT_EQ(ParseDecimal("010"), 10);
  EXPECT_EQ(ParseDecimal("0x10"), 0);
  EXPECT_EQ(ParseDecimal(" \t 5,6"), 5);
  EXPECT_EQ(ParseDecimal("x"), std::nullopt);
  EXPECT_EQ(DecimalOrZero("x"), 0);
  EXPECT_EQ(ParseDecimalWide("4294967291"), 4294967291LL);
}

TEST(NumberWords, Floats) {
  EXPECT_FLOAT_EQ(*ParseFloat("12.5"), 12.5f);
  EXPECT_FLOAT_EQ(*ParseFloat("-0.25dB"), -0.25f);
  EXPECT_FLOAT_EQ(*ParseFloat("3"), 3.0f);
  EXPECT_EQ(ParseFloat("abc"), std::nullopt);
  EXPECT_EQ(ParseFloat("."), std::nullopt);
  EXPECT_FLOAT_EQ(FloatOrZero("abc"), 0.0f);
  // Not-a-number, infinities and values beyond the float range are no numbers.
  for (const char* word : {"nan", "-nan", "NAN(123)", "inf", "-Infinity", "1e39", "-1e39"}) {
    EXPECT_EQ(ParseFloat(word), std::nullopt) << word;
    EXPECT_FLOAT_EQ(FloatOrZero(word), 0.0f) << word;
    EXPECT_FLOAT_EQ(FloatField(word, 7.5f), 7.5f) << word;
  }
  EXPECT_FLOAT_EQ(FloatField("2.5", 7.5f), 2.5f);
  EXPECT_FLOAT_EQ(FloatField("quick", 7.5f), 0.0f);
}

// The console reads a stream with a descriptor (the terminal, a pipe, a file) itself, and any
// other stream through stdio: every case is read both ways.
class ConsoleInputTest : public testing::TestWithParam<bool> {
 protected:
  ConsoleInput& Feed(const std::string& text) {
    if (GetParam()) {
      file_.reset(std::tmpfile());
      EXPECT_EQ(std::fwrite(text.data(), 1, text.size(), file_.get()), text.size());
      std::rewind(file_.get());
      input_ = std::make_unique<ConsoleInput>(file_.get());
      return *input_;
    }
    typed_ = std::make_unique<test::TypedInput>(text);
    return typed_->get();
  }

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<test::TypedInput> typed_;
  std::unique_ptr<std::FILE, Closer> file_;
  std::unique_ptr<ConsoleInput> input_;
};

INSTANTIATE_TEST_SUITE_P(Streams, ConsoleInputTest, testing::Bool(), [](const testing::TestParamInfo<bool>& stream) {
  return stream.param ? "Descriptor" : "Stdio";
});

TEST_P(ConsoleInputTest, WordsAreSeparatedByAnyWhiteSpaceAndNulBytes) {
  // A NUL byte ends a word: no name typed can hold one, which the system would cut there.
  const char text[] = "  one\ttwo\n\n three\r\nfo\0ur\0\0five";
  ConsoleInput& in = Feed(std::string(text, sizeof text - 1));
  for (const char* word : {"one", "two", "three", "fo", "ur", "five"}) EXPECT_EQ(in.ReadWord(), word);
  EXPECT_THROW(in.ReadWord(), InputEnded);
  EXPECT_THROW(in.ReadWord(), InputEnded) << "and stays ended";
}

TEST_P(ConsoleInputTest, UnreadableNumbersAreConsumed) {
  ConsoleInput& in = Feed("abc 12 x2.5 2.5");
  EXPECT_EQ(in.ReadInt(), std::nullopt);
  EXPECT_EQ(in.ReadInt(), 12);
  EXPECT_EQ(in.ReadFloat(), std::nullopt);
  EXPECT_FLOAT_EQ(*in.ReadFloat(), 2.5f);
  EXPECT_THROW(in.ReadInt(), InputEnded);
}

TEST_P(ConsoleInputTest, WaitForSwallowsOtherWords) {
  ConsoleInput& in = Feed("a b cc c d");
  EXPECT_EQ(in.WaitFor("c"), "c");
  EXPECT_EQ(in.ReadWord(), "d");
  EXPECT_THROW(in.WaitFor("c"), InputEnded);
}

TEST_P(ConsoleInputTest, VeryLongWordsAreReadWhole) {
  // Longer than the blocks the console reads, and split across them.
  const std::string word(100000, 'w');
  ConsoleInput& in = Feed(word + " next " + std::string(4090, 'x') + " y");
  EXPECT_EQ(in.ReadWord(), word);
  EXPECT_EQ(in.ReadWord(), "next");
  EXPECT_EQ(in.ReadWord(), std::string(4090, 'x'));
  EXPECT_EQ(in.ReadWord(), "y");
}

}  // namespace
}  // namespace tapeloom
