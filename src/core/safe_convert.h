// Float-to-integer conversions that are defined for every input: out-of-range values
// saturate at the integer limits and NaN becomes 0, where a plain cast would be undefined.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace tapeloom {

// Truncates toward zero, saturating.
template <typename Int>
Int TruncateSaturating(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLow = static_cast<double>(std::numeric_limits<Int>::min());
  constexpr double kHigh = static_cast<double>(std::numeric_limits<Int>::max());
  if (value <= kLow) return std::numeric_limits<Int>::min();
  if (value >= kHigh) return std::numeric_limits<Int>::max();
  return static_cast<Int>(value);
}

inline std::int32_t TruncateToInt32(double value) { return TruncateSaturating<std::int32_t>(value); }

}  // namespace tapeloom
