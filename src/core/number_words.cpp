#include "core/number_words.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

namespace tapeloom {
namespace {

std::optional<long long> ParseWide(std::string_view text, int base) {
  const std::string copy(text);  // strtoll needs a terminated string
  const char* begin = copy.c_str();
  char* end = nullptr;
  const long long value = std::strtoll(begin, &end, base);  // saturates at the long long limits
  if (end == begin) return std::nullopt;
  return value;
}

std::optional<int> ParseInteger(std::string_view text, int base) {
  const auto value = ParseWide(text, base);
  if (!value) return std::nullopt;
  if (*value > INT_MAX) return INT_MAX;
  if (*value < INT_MIN) return INT_MIN;
  return static_cast<int>(*value);
}

}  // namespace

std::optional<int> ParseCInt(std::string_view text) { return ParseInteger(text, 0); }

std::optional<int> ParseDecimal(std::string_view text) { return ParseInteger(text, 10); }

std::optional<long long> ParseDecimalWide(std::string_view text) { return ParseWide(text, 10); }

int DecimalOrZero(std::string_view text) { return ParseDecimal(text).value_or(0); }

namespace {

// strtof's reading: nullopt when the text does not start with a number.
std::optional<float> ReadFloat(std::string_view text) {
  const std::string copy(text);
  const char* begin = copy.c_str();
  char* end = nullptr;
  const float value = std::strtof(begin, &end);
  if (end == begin) return std::nullopt;
  return value;
}

}  // namespace

std::optional<float> ParseFloat(std::string_view text) {
  const std::optional<float> value = ReadFloat(text);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return value;
}

float FloatOrZero(std::string_view text) { return ParseFloat(text).value_or(0.0f); }

float FloatField(std::string_view text, float current) {
  const std::optional<float> value = ReadFloat(text);
  if (!value) return 0.0f;
  return std::isfinite(*value) ? *value : current;
}

}  // namespace tapeloom
