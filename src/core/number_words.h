// Reading numbers from the words that the user types and from settings text. Every reader
// takes the longest numeric prefix, as the C conversions do, and never reads past the text
// it is given.
#pragma once

#include <optional>
#include <string_view>

namespace tapeloom {

// The "%i" conversion: optional sign, then "0x" hexadecimal, leading-zero octal or decimal.
// Leading white space is skipped. Values beyond the int range saturate. nullopt when the text
// does not start with a number.
std::optional<int> ParseCInt(std::string_view text);

// A base-10 integer with leading white space skipped, stopping at the first non-digit;
// saturating. nullopt when there is no digit.
std::optional<int> ParseDecimal(std::string_view text);

// ParseDecimal without the int limit (saturating at the long long limits).
std::optional<long long> ParseDecimalWide(std::string_view text);

// ParseDecimal with 0 for text that holds no number (the settings file's rule).
int DecimalOrZero(std::string_view text);

// A floating-point number ("%f"): leading white space skipped, the longest prefix that reads
// as a number. nullopt when there is none, and for "nan", "inf" and values beyond the float
// range: they are no numbers to store, round or convert.
std::optional<float> ParseFloat(std::string_view text);

// ParseFloat with 0 for text that holds no number.
float FloatOrZero(std::string_view text);

// A float field of the settings file: the number when the text holds a finite one; `current`
// (the default) when it reads as a number that is not finite ("nan", "inf"); 0 when it holds
// no number at all.
float FloatField(std::string_view text, float current);

}  // namespace tapeloom
