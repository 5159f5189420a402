// Conversions between packed samples (3 bytes, little-endian two's complement, as on disk and
// at the sound device) and the signed 32-bit integers that mixing, scaling and crossfading
// work on. They run inside the block loops of the mixer, the export and the crossfade: no
// allocation, one pass, and a count of 0 or less converts nothing.
//
// Packing keeps the low 24 bits and does not clip: 8388608 is written as -8388608. Callers
// whose values can leave the 24-bit range limit them first.
#pragma once

#include <cstdint>

#include "core/safe_convert.h"
#include "wave/byte_order.h"

namespace tapeloom {

inline constexpr std::int32_t kSampleMax = 8388607;   // full scale, as the peak reports use it
inline constexpr std::int32_t kSampleMin = -8388608;  // the most negative 24-bit value
inline constexpr int kBytesPerSample = 3;

// One sample: bits 0-23 of the value's two's complement, low byte first.
inline void PackSample24(std::int32_t value, unsigned char* bytes) { Decon3(static_cast<std::uint32_t>(value), bytes); }

// One packed sample, sign-extended from bit 23.
inline std::int32_t UnpackSample24(const unsigned char* bytes) {
  return static_cast<std::int32_t>(bytes[0] | bytes[1] << 8) + static_cast<signed char>(bytes[2]) * 65536;
}

// A mix result to an integer sample value: truncated toward zero from 0 up; below 0 the
// ceiling for values of -1 and less and -1 for values between -1 and 0, so that quiet
// negative values do not collapse onto 0 (only values within about 1e-16 of 0, where
// -1 - x rounds to -1, give 0). Beyond the 32-bit range the result saturates; NaN gives 0.
inline std::int32_t MixValueToSample(double x) {
  if (x < 0.0) return -1 - TruncateToInt32(-1.0 - x);
  return TruncateToInt32(x);
}

// Unpacks count samples of bytesPerSample bytes each. 3: 24-bit samples. 2: 16-bit samples,
// scaled up to the 24-bit range (× 256). Wave readers accept only 24-bit files, so no other
// width reaches here; for any other width the count samples are set to silence rather than
// left holding whatever they held.
void CHAR_TO_NUM32(const unsigned char* bytes, std::int32_t* samples, int bytesPerSample, int count);

// Packs count mono samples, 3 bytes each.
void NUM24MONO_TO_CHAR(const std::int32_t* samples, unsigned char* bytes, int count);

// Packs count stereo frames, 6 bytes each, the left sample first.
void NUM24STER_TO_CHAR(const std::int32_t* left, const std::int32_t* right, unsigned char* bytes, int frames);

// Packs count stereo frames of mix results, each value converted by MixValueToSample.
void FLOAT_STER_TO_CHAR(const double* left, const double* right, unsigned char* bytes, int frames);

// Splits a value into three base-256 digits by truncating division: high = value ÷ 65536,
// middle = (value rem 65536) ÷ 256, low = the rest. A negative value gives digits of 0 or
// less; high is not limited to one byte.
void BITS24_TO_BYTES3(std::int32_t& low, std::int32_t& middle, std::int32_t& high, std::int32_t value);

// Turns the digits of a magnitude (from BITS24_TO_BYTES3) into the digits of a signed value,
// whose low eight bits are the packed bytes. With sign -1 the magnitude is that of the
// value's complement, -value - 1. A low or middle digit above 127 first has 256 subtracted;
// then a negative sign turns each digit d into -d - 1. Any negative sign counts as -1, any
// other as +1.
void TWOS_COMP24(std::int32_t& low, std::int32_t& middle, std::int32_t& high, int sign);

}  // namespace tapeloom
