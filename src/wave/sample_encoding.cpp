#include "wave/sample_encoding.h"

namespace tapeloom {

void CHAR_TO_NUM32(const unsigned char* bytes, std::int32_t* samples, int bytesPerSample, int count) {
  if (bytesPerSample == 3) {
    for (int n = 0; n < count; ++n, bytes += 3) samples[n] = UnpackSample24(bytes);
  } else if (bytesPerSample == 2) {
    for (int n = 0; n < count; ++n, bytes += 2) {
      samples[n] = (bytes[0] + static_cast<signed char>(bytes[1]) * 256) * 256;
    }
  } else {
    for (int n = 0; n < count; ++n) samples[n] = 0;
  }
}

void NUM24MONO_TO_CHAR(const std::int32_t* samples, unsigned char* bytes, int count) {
  for (int n = 0; n < count; ++n, bytes += 3) PackSample24(samples[n], bytes);
}

void NUM24STER_TO_CHAR(const std::int32_t* left, const std::int32_t* right, unsigned char* bytes, int frames) {
  for (int n = 0; n < frames; ++n, bytes += 6) {
    PackSample24(left[n], bytes);
    PackSample24(right[n], bytes + 3);
  }
}

void FLOAT_STER_TO_CHAR(const double* left, const double* right, unsigned char* bytes, int frames) {
  for (int n = 0; n < frames; ++n, bytes += 6) {
    PackSample24(MixValueToSample(left[n]), bytes);
    PackSample24(MixValueToSample(right[n]), bytes + 3);
  }
}

void BITS24_TO_BYTES3(std::int32_t& low, std::int32_t& middle, std::int32_t& high, std::int32_t value) {
  high = value / 65536;
  middle = value % 65536 / 256;
  low = value - 65536 * high - 256 * middle;
}

void TWOS_COMP24(std::int32_t& low, std::int32_t& middle, std::int32_t& high, int sign) {
  if (low > 127) low -= 256;
  if (middle > 127) middle -= 256;
  if (sign < 0) {
    // -d - 1, written as ~d: the same value, but defined for every d.
    low = ~low;
    middle = ~middle;
    high = ~high;
  }
}

}  // namespace tapeloom
