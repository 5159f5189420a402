// The bodies of the kernels declared in block_kernels.h. This file is compiled once with the
// build's own flags, into tapeloom::base, and on 32-bit ARM a second time with NEON enabled,
// into tapeloom::neon (TAPELOOM_KERNEL_FORM names the namespace; top-level CMakeLists.txt).
// block_kernels.cpp picks one of them when the program starts. Everything here lives in that
// namespace or in an unnamed one: an inline function shared with the rest of the program and
// compiled here with NEON could be the copy the linker keeps for a processor without it.
#include "mix/kernel_forms.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#if defined(__ARM_NEON)
#include <arm_neon.h>
#endif

#if !defined(TAPELOOM_KERNEL_FORM)
#define TAPELOOM_KERNEL_FORM base
#endif

namespace tapeloom::TAPELOOM_KERNEL_FORM {
namespace {

constexpr int kFrames = static_cast<int>(kKernelFrames);
constexpr float kOutputLow = -8388608.0f;
constexpr float kOutputHigh = 8388607.0f;
// Bus values on their way into the master are limited here only so that the master sum
// cannot overflow; real gains stay far below (a bus of 256 full-scale tracks at +12 dB is
// about 2^41).
constexpr float kMasterFeedLimit = 140737488355328.0f;  // 2^47
constexpr std::int64_t kMasterFeedScale = 256;
constexpr std::uint32_t kMagnitudeBits = 0x7fffffffu;
constexpr std::uint32_t kLow24 = 0xffffffu;
constexpr double kTwoTo31 = 2147483648.0;
constexpr double kTwoTo32 = 4294967296.0;
constexpr std::uint32_t kSignBit = 0x800000u;

// Gains as the multiplier type: non-negative gains as 32 bits, so that the product is a
// widening 32 × 32-bit multiply; any gain as its 64-bit two's complement, which gives the
// right product modulo 2^64.
template <typename Gain>
Gain AsGain(std::int32_t gain) {
  if constexpr (sizeof(Gain) == sizeof(std::uint32_t)) {
    return static_cast<Gain>(gain);
  } else {
    return static_cast<Gain>(static_cast<std::int64_t>(gain));
  }
}

// Adds up to four tracks per pass, so the accumulators are read and written once for
// every four tracks. The first pass of a bus stores instead of adding. The pointers and
// gains are plain locals so that the compiler keeps them out of the loop.
template <typename Gain, int K, bool kFirst>
[[gnu::always_inline]] inline void SumTaps(const TrackTap* taps, std::uint64_t* accL, std::uint64_t* accR) {
  const TrackTap& t0 = taps[0];
  const TrackTap& t1 = taps[K > 1 ? 1 : 0];
  const TrackTap& t2 = taps[K > 2 ? 2 : 0];
  const TrackTap& t3 = taps[K > 3 ? 3 : 0];
  const std::uint32_t* const s0 = t0.samples;
  const std::uint32_t* const s1 = t1.samples;
  const std::uint32_t* const s2 = t2.samples;
  const std::uint32_t* const s3 = t3.samples;
  const Gain l0 = AsGain<Gain>(t0.gainL), r0 = AsGain<Gain>(t0.gainR);
  const Gain l1 = AsGain<Gain>(t1.gainL), r1 = AsGain<Gain>(t1.gainR);
  const Gain l2 = AsGain<Gain>(t2.gainL), r2 = AsGain<Gain>(t2.gainR);
  const Gain l3 = AsGain<Gain>(t3.gainL), r3 = AsGain<Gain>(t3.gainR);
  for (int i = 0; i < kFrames; ++i) {
    const std::uint64_t u0 = s0[i];
    std::uint64_t left = u0 * l0;
    std::uint64_t right = u0 * r0;
    if constexpr (K > 1) {
      const std::uint64_t u = s1[i];
      left += u * l1;
      right += u * r1;
    }
    if constexpr (K > 2) {
      const std::uint64_t u = s2[i];
      left += u * l2;
      right += u * r2;
    }
    if constexpr (K > 3) {
      const std::uint64_t u = s3[i];
      left += u * l3;
      right += u * r3;
    }
    if constexpr (kFirst) {
      accL[i] = left;
      accR[i] = right;
    } else {
      accL[i] += left;
      accR[i] += right;
    }
  }
}

template <typename Gain, bool kFirst>
[[gnu::always_inline]] inline void AccumulateCount(std::span<const TrackTap> group, std::uint64_t* accL,
                                                   std::uint64_t* accR) {
  switch (group.size()) {
    case 1: SumTaps<Gain, 1, kFirst>(group.data(), accL, accR); break;
    case 2: SumTaps<Gain, 2, kFirst>(group.data(), accL, accR); break;
    case 3: SumTaps<Gain, 3, kFirst>(group.data(), accL, accR); break;
    default: SumTaps<Gain, 4, kFirst>(group.data(), accL, accR); break;
  }
}

template <typename Gain>
[[gnu::always_inline]] inline void AccumulateWith(std::span<const TrackTap> group, std::uint64_t* accL,
                                                  std::uint64_t* accR, bool first) {
  if (first) {
    AccumulateCount<Gain, true>(group, accL, accR);
  } else {
    AccumulateCount<Gain, false>(group, accL, accR);
  }
}

inline std::int64_t ExactSum(std::uint64_t acc, std::uint64_t correction) {
  return static_cast<std::int64_t>(acc - correction);
}

// 32-bit targets have no instruction that converts between 64-bit integers and floats and
// call a library routine for it; two 32-bit conversions through double are much cheaper
// there, and give the same results for every sum below 2^53 (see SplitToFloat).
constexpr bool kNativeWideConversions = sizeof(void*) >= sizeof(std::int64_t);

inline float ToFloat(std::int64_t sum) {
  if constexpr (kNativeWideConversions) {
    return static_cast<float>(sum);
  } else {
    return SplitToFloat(sum);
  }
}

inline std::int64_t TruncateLimited(float value) {
  if constexpr (kNativeWideConversions) {
    return static_cast<std::int64_t>(value);
  } else {
    return SplitTruncate(value);
  }
}

// The value is never NaN: the gains are finite and the sums are integers.
inline float Limit(float value, float low, float high) { return std::min(std::max(value, low), high); }

inline std::uint32_t MagnitudeBits(float value) { return std::bit_cast<std::uint32_t>(value) & kMagnitudeBits; }

// Packs four samples into 12 bytes: three 32-bit stores instead of twelve byte stores.
inline void PackFour(const std::array<std::uint32_t, 4>& sample, unsigned char* bytes) {
  if constexpr (std::endian::native == std::endian::little) {
    // One word at a time: copying a three-word array lets the compiler build it on the
    // stack and read it back with a wider load, which stalls store forwarding.
    const std::uint32_t w0 = (sample[0] & kLow24) | sample[1] << 24;
    const std::uint32_t w1 = (sample[1] >> 8 & 0xffffu) | sample[2] << 16;
    const std::uint32_t w2 = (sample[2] >> 16 & 0xffu) | sample[3] << 8;
    std::memcpy(bytes, &w0, sizeof w0);
    std::memcpy(bytes + 4, &w1, sizeof w1);
    std::memcpy(bytes + 8, &w2, sizeof w2);
  } else {
    for (std::size_t k = 0; k < sample.size(); ++k) {
      bytes[3 * k] = static_cast<unsigned char>(sample[k]);
      bytes[3 * k + 1] = static_cast<unsigned char>(sample[k] >> 8);
      bytes[3 * k + 2] = static_cast<unsigned char>(sample[k] >> 16);
    }
  }
}

template <bool kExtra>
std::uint32_t ScaleSideScalar(const std::uint64_t* acc, std::uint64_t correction, const std::int64_t* extra, float gain,
                              unsigned char* region) {
  std::uint32_t peak = 0;
  for (int i = 0; i < kFrames; i += 4) {
    std::array<std::uint32_t, 4> sample;
    for (int k = 0; k < 4; ++k) {
      std::int64_t sum = ExactSum(acc[i + k], correction);
      if constexpr (kExtra) sum += extra[i + k];
      const float scaled = ToFloat(sum) * gain;
      peak = std::max(peak, MagnitudeBits(scaled));
      sample[static_cast<std::size_t>(k)] =
          static_cast<std::uint32_t>(static_cast<std::int32_t>(Limit(scaled, kOutputLow, kOutputHigh)));
    }
    PackFour(sample, region + 3 * i);
  }
  return peak;
}

// One frame of a bus on its way into the master: 256 × trunc((float)sum × gain), the value
// limited to ±2^47 first. Gives the scaled value for the peak.
inline std::int64_t FeedOne(std::uint64_t acc, std::uint64_t correction, float gain, float& scaled) {
  scaled = ToFloat(ExactSum(acc, correction)) * gain;
  return kMasterFeedScale * TruncateLimited(Limit(scaled, -kMasterFeedLimit, kMasterFeedLimit));
}

template <bool kFirst>
std::uint32_t FeedMasterScalar(const std::uint64_t* acc, std::uint64_t correction, float gain, std::int64_t* master,
                               int from, int to) {
  std::uint32_t peak = 0;
  for (int i = from; i < to; ++i) {
    float scaled = 0.0f;
    const std::int64_t feed = FeedOne(acc[i], correction, gain, scaled);
    peak = std::max(peak, MagnitudeBits(scaled));
    if constexpr (kFirst) {
      master[i] = feed;
    } else {
      master[i] += feed;
    }
  }
  return peak;
}

#if defined(__SSE2__)
// The x86 vector forms of decoding and of the output stage. x86-64 guarantees SSE2, which has
// no byte shuffle and no conversion from 64-bit integers, so both are built from 64-bit shifts
// and 32-bit conversions; they give the same bits as the scalar forms above.

inline __m128i Load8(const unsigned char* bytes) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)); }

// Four packed samples (12 bytes, nothing read beyond them) to four offset samples.
inline __m128i DecodeFour(const unsigned char* bytes) {
  // Samples 0 and 1 in bits 0-47 of the low half, samples 2 and 3 in those of the high half.
  const __m128i pairs = _mm_unpacklo_epi64(Load8(bytes), _mm_srli_epi64(Load8(bytes + 4), 16));
  const __m128i even = _mm_and_si128(pairs, _mm_set_epi32(0, 0xffffff, 0, 0xffffff));
  const __m128i odd = _mm_and_si128(_mm_slli_epi64(pairs, 8), _mm_set_epi32(0xffffff, 0, 0xffffff, 0));
  return _mm_xor_si128(_mm_or_si128(even, odd), _mm_set1_epi32(static_cast<int>(kSignBit)));
}

// Two exact 64-bit sums to single precision, rounded once as a direct conversion rounds. A
// sum v below 2^51 in magnitude added to the bits of 1.5 × 2^52 gives the bits of the double
// 1.5 × 2^52 + v, exactly; taking 1.5 × 2^52 away leaves v as a double. `range` collects bits
// above bit 51 when a sum lies beyond that.
inline __m128 PairToFloat(__m128i sums, __m128i& range) {
  const __m128i magic = _mm_set1_epi64x(0x4338000000000000LL);
  range = _mm_or_si128(range, _mm_add_epi64(sums, _mm_set1_epi64x(std::int64_t{1} << 51)));
  const __m128d wide = _mm_sub_pd(_mm_castsi128_pd(_mm_add_epi64(sums, magic)), _mm_castsi128_pd(magic));
  return _mm_cvtpd_ps(wide);
}

// Four samples (their low 24 bits) to 12 bytes.
inline void StoreFour(__m128i samples, unsigned char* bytes) {
  const __m128i low24 = _mm_and_si128(samples, _mm_set1_epi32(0xffffff));
  // Each half: its two samples in bits 0-47.
  const __m128i pairs = _mm_or_si128(_mm_and_si128(low24, _mm_set_epi32(0, -1, 0, -1)),
                                     _mm_srli_epi64(_mm_and_si128(low24, _mm_set_epi32(-1, 0, -1, 0)), 8));
  const __m128i high = _mm_srli_si128(pairs, 8);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes), _mm_or_si128(pairs, _mm_slli_epi64(high, 48)));
  const auto last = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_epi64(high, 16)));
  std::memcpy(bytes + 8, &last, sizeof last);
}

template <bool kExtra>
std::uint32_t ScaleSide(const std::uint64_t* acc, std::uint64_t correction, const std::int64_t* extra, float gain,
                        unsigned char* region) {
  const __m128i offset = _mm_set1_epi64x(static_cast<long long>(correction));
  const __m128 scale = _mm_set1_ps(gain);
  const __m128 low = _mm_set1_ps(kOutputLow);
  const __m128 high = _mm_set1_ps(kOutputHigh);
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(static_cast<int>(kMagnitudeBits)));
  __m128 peak = _mm_setzero_ps();
  __m128i range = _mm_setzero_si128();
  for (int i = 0; i < kFrames; i += 4) {
    __m128i first = _mm_sub_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(acc + i)), offset);
    __m128i second = _mm_sub_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(acc + i + 2)), offset);
    if constexpr (kExtra) {
      first = _mm_add_epi64(first, _mm_loadu_si128(reinterpret_cast<const __m128i*>(extra + i)));
      second = _mm_add_epi64(second, _mm_loadu_si128(reinterpret_cast<const __m128i*>(extra + i + 2)));
    }
    const __m128 scaled = _mm_mul_ps(_mm_movelh_ps(PairToFloat(first, range), PairToFloat(second, range)), scale);
    // For floats that are not NaN, the larger magnitude has the larger bit pattern.
    peak = _mm_max_ps(peak, _mm_and_ps(scaled, magnitude));
    StoreFour(_mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(scaled, low), high)), region + 3 * i);
  }
  // Sums of 2^51 and more need the direct conversion: no mix of audio comes near, but any
  // gains may.
  alignas(16) std::array<std::uint64_t, 2> beyond;
  _mm_store_si128(reinterpret_cast<__m128i*>(beyond.data()), range);
  if (((beyond[0] | beyond[1]) >> 52) != 0) return ScaleSideScalar<kExtra>(acc, correction, extra, gain, region);
  alignas(16) std::array<std::uint32_t, 4> lanes;
  _mm_store_ps(reinterpret_cast<float*>(lanes.data()), peak);
  return std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
}
#endif

#if defined(__x86_64__)
// Where the processor has AVX2 (chosen when the program runs; the build stays x86-64
// baseline), decoding shuffles bytes and the sums multiply four samples at once. The same
// bits as the forms above.

[[gnu::target("avx2")]] void DecodeOffsetSamplesAvx2(const unsigned char* region, std::uint32_t* samples) {
  // Each half of the shuffle makes four samples of 12 bytes; the fourth byte of each is 0.
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3, 4, 5,
                                          -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i sign = _mm256_set1_epi32(static_cast<int>(kSignBit));
  // Each step loads 16 bytes at 3i and at 3i + 12, 4 beyond its samples: the last eight
  // samples are decoded without reading past the region.
  int i = 0;
  for (; i + 8 < kFrames; i += 8) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(region + 3 * i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(region + 3 * i + 12));
    const __m256i bytes = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples + i),
                        _mm256_xor_si256(_mm256_shuffle_epi8(bytes, spread), sign));
  }
  for (; i < kFrames; i += 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + i), DecodeFour(region + 3 * i));
  }
}

[[gnu::target("avx2")]] void AccumulateUnsignedAvx2(std::span<const TrackTap> group, std::uint64_t* accL,
                                                    std::uint64_t* accR, bool first) {
  AccumulateWith<std::uint32_t>(group, accL, accR, first);
}

// PairToFloat and WholePairToInt64 four lanes at a time (the range is checked by the caller).
[[gnu::target("avx2")]] inline __m128 QuadToFloatAvx2(__m256i sums) {
  const __m256i magic = _mm256_set1_epi64x(0x4338000000000000LL);
  return _mm256_cvtpd_ps(_mm256_sub_pd(_mm256_castsi256_pd(_mm256_add_epi64(sums, magic)), _mm256_castsi256_pd(magic)));
}

[[gnu::target("avx2")]] inline __m256i WholeQuadToInt64Avx2(__m128 whole) {
  const __m256i magic = _mm256_set1_epi64x(0x4338000000000000LL);
  return _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(_mm256_cvtps_pd(whole), _mm256_castsi256_pd(magic))),
                          magic);
}

// The master feed eight frames at a time, as FeedFour does it four at a time; rounding toward
// zero in the vector unit stands for the conversion through 32 bits.
template <bool kFirst>
[[gnu::target("avx2")]] inline bool FeedEightAvx2(const std::uint64_t* acc, __m256i offset, __m256 scale,
                                                  std::int64_t* master, __m256& peak) {
  const __m256i half = _mm256_set1_epi64x(std::int64_t{1} << 51);
  const __m256 limit = _mm256_set1_ps(kMasterFeedLimit);
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(static_cast<int>(kMagnitudeBits)));
  const __m256i first = _mm256_sub_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(acc)), offset);
  const __m256i second = _mm256_sub_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(acc + 4)), offset);
  const __m256i range = _mm256_or_si256(_mm256_add_epi64(first, half), _mm256_add_epi64(second, half));
  const __m256i beyond = _mm256_srli_epi64(range, 52);
  if (_mm256_testz_si256(beyond, beyond) == 0) return false;
  const __m256 scaled = _mm256_mul_ps(_mm256_set_m128(QuadToFloatAvx2(second), QuadToFloatAvx2(first)), scale);
  peak = _mm256_max_ps(peak, _mm256_and_ps(scaled, magnitude));
  const __m256 limited = _mm256_min_ps(_mm256_max_ps(scaled, _mm256_sub_ps(_mm256_setzero_ps(), limit)), limit);
  const __m256 whole = _mm256_round_ps(limited, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
  __m256i low = _mm256_slli_epi64(WholeQuadToInt64Avx2(_mm256_castps256_ps128(whole)), 8);  // × 256
  __m256i high = _mm256_slli_epi64(WholeQuadToInt64Avx2(_mm256_extractf128_ps(whole, 1)), 8);
  auto* out = reinterpret_cast<__m256i*>(master);
  if constexpr (!kFirst) {
    low = _mm256_add_epi64(low, _mm256_loadu_si256(out));
    high = _mm256_add_epi64(high, _mm256_loadu_si256(out + 1));
  }
  _mm256_storeu_si256(out, low);
  _mm256_storeu_si256(out + 1, high);
  return true;
}

template <bool kFirst>
[[gnu::target("avx2")]] std::uint32_t FeedMasterAvx2(const std::uint64_t* acc, std::uint64_t correction, float gain,
                                                     std::int64_t* master) {
  const __m256i offset = _mm256_set1_epi64x(static_cast<long long>(correction));
  const __m256 scale = _mm256_set1_ps(gain);
  __m256 peak = _mm256_setzero_ps();
  std::uint32_t scalarPeak = 0;
  for (int i = 0; i < kFrames; i += 8) {
    if (!FeedEightAvx2<kFirst>(acc + i, offset, scale, master + i, peak)) {
      scalarPeak = std::max(scalarPeak, FeedMasterScalar<kFirst>(acc, correction, gain, master, i, i + 8));
    }
  }
  alignas(32) std::array<std::uint32_t, 8> lanes;
  _mm256_store_ps(reinterpret_cast<float*>(lanes.data()), peak);
  return std::max(scalarPeak, *std::max_element(lanes.begin(), lanes.end()));
}

// Eight samples (their low 24 bits) to 24 bytes: each half packs its four samples into its
// first 12 bytes, and the second half's store covers what the first one wrote beyond them.
[[gnu::target("avx2")]] inline void StoreEightAvx2(__m256i samples, unsigned char* bytes) {
  const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8, 9,
                                        10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i packed = _mm256_shuffle_epi8(samples, pack);
  const __m128i high = _mm256_extracti128_si256(packed, 1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), _mm256_castsi256_si128(packed));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes + 12), high);
  const auto last = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(high, 8)));
  std::memcpy(bytes + 20, &last, sizeof last);
}

// The output stage eight frames at a time, as ScaleSide does it four at a time.
template <bool kExtra>
[[gnu::target("avx2")]] std::uint32_t ScaleSideAvx2(const std::uint64_t* acc, std::uint64_t correction,
                                                    const std::int64_t* extra, float gain, unsigned char* region) {
  const __m256i offset = _mm256_set1_epi64x(static_cast<long long>(correction));
  const __m256i half = _mm256_set1_epi64x(std::int64_t{1} << 51);
  const __m256 scale = _mm256_set1_ps(gain);
  const __m256 low = _mm256_set1_ps(kOutputLow);
  const __m256 high = _mm256_set1_ps(kOutputHigh);
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(static_cast<int>(kMagnitudeBits)));
  __m256 peak = _mm256_setzero_ps();
  __m256i range = _mm256_setzero_si256();
  for (int i = 0; i < kFrames; i += 8) {
    __m256i first = _mm256_sub_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(acc + i)), offset);
    __m256i second = _mm256_sub_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(acc + i + 4)), offset);
    if constexpr (kExtra) {
      first = _mm256_add_epi64(first, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(extra + i)));
      second = _mm256_add_epi64(second, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(extra + i + 4)));
    }
    range = _mm256_or_si256(range, _mm256_or_si256(_mm256_add_epi64(first, half), _mm256_add_epi64(second, half)));
    const __m256 scaled = _mm256_mul_ps(_mm256_set_m128(QuadToFloatAvx2(second), QuadToFloatAvx2(first)), scale);
    peak = _mm256_max_ps(peak, _mm256_and_ps(scaled, magnitude));
    StoreEightAvx2(_mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(scaled, low), high)), region + 3 * i);
  }
  // Sums of 2^51 and more need the direct conversion, as in ScaleSide.
  const __m256i beyond = _mm256_srli_epi64(range, 52);
  if (_mm256_testz_si256(beyond, beyond) == 0) return ScaleSideScalar<kExtra>(acc, correction, extra, gain, region);
  alignas(32) std::array<std::uint32_t, 8> lanes;
  _mm256_store_ps(reinterpret_cast<float*>(lanes.data()), peak);
  return *std::max_element(lanes.begin(), lanes.end());
}
#endif

#if !defined(__SSE2__) && !defined(__ARM_NEON)
template <bool kExtra>
std::uint32_t ScaleSide(const std::uint64_t* acc, std::uint64_t correction, const std::int64_t* extra, float gain,
                        unsigned char* region) {
  return ScaleSideScalar<kExtra>(acc, correction, extra, gain, region);
}
#endif

#if defined(__SSE2__)
// Two floats that hold whole numbers of magnitude at most 2^51, as 64-bit integers: in double
// precision 1.5 × 2^52 + v is exact, and its bits less those of 1.5 × 2^52 are v.
inline __m128i WholePairToInt64(__m128 whole) {
  const __m128d magic = _mm_castsi128_pd(_mm_set1_epi64x(0x4338000000000000LL));
  return _mm_sub_epi64(_mm_castpd_si128(_mm_add_pd(_mm_cvtps_pd(whole), magic)), _mm_castpd_si128(magic));
}

// Feeds four frames into the master, or returns false, having changed nothing, when one of
// their sums lies beyond 2^51 and needs the direct conversion.
template <bool kFirst>
inline bool FeedFour(const std::uint64_t* acc, __m128i offset, __m128 scale, std::int64_t* master, __m128& peak) {
  const __m128 limit = _mm_set1_ps(kMasterFeedLimit);
  const __m128 exact = _mm_set1_ps(8388608.0f);  // 2^23: from here on every float is whole
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(static_cast<int>(kMagnitudeBits)));
  const __m128i first = _mm_sub_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(acc)), offset);
  const __m128i second = _mm_sub_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(acc + 2)), offset);
  __m128i range = _mm_setzero_si128();
  const __m128 scaled = _mm_mul_ps(_mm_movelh_ps(PairToFloat(first, range), PairToFloat(second, range)), scale);
  const __m128i beyond = _mm_srli_epi64(range, 52);
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(beyond, _mm_setzero_si128())) != 0xffff) return false;
  peak = _mm_max_ps(peak, _mm_and_ps(scaled, magnitude));
  const __m128 limited = _mm_min_ps(_mm_max_ps(scaled, _mm_sub_ps(_mm_setzero_ps(), limit)), limit);
  // Truncation: below 2^23 through 32 bits, above it the value is whole already.
  const __m128 small = _mm_cmplt_ps(_mm_and_ps(limited, magnitude), exact);
  const __m128 whole =
      _mm_or_ps(_mm_and_ps(small, _mm_cvtepi32_ps(_mm_cvttps_epi32(limited))), _mm_andnot_ps(small, limited));
  __m128i low = _mm_slli_epi64(WholePairToInt64(whole), 8);  // × 256
  __m128i high = _mm_slli_epi64(WholePairToInt64(_mm_movehl_ps(whole, whole)), 8);
  auto* out = reinterpret_cast<__m128i*>(master);
  if constexpr (!kFirst) {
    low = _mm_add_epi64(low, _mm_loadu_si128(out));
    high = _mm_add_epi64(high, _mm_loadu_si128(out + 1));
  }
  _mm_storeu_si128(out, low);
  _mm_storeu_si128(out + 1, high);
  return true;
}

template <bool kFirst>
std::uint32_t FeedMasterVector(const std::uint64_t* acc, std::uint64_t correction, float gain, std::int64_t* master) {
  const __m128i offset = _mm_set1_epi64x(static_cast<long long>(correction));
  const __m128 scale = _mm_set1_ps(gain);
  __m128 peak = _mm_setzero_ps();
  std::uint32_t scalarPeak = 0;
  for (int i = 0; i < kFrames; i += 4) {
    if (!FeedFour<kFirst>(acc + i, offset, scale, master + i, peak)) {
      scalarPeak = std::max(scalarPeak, FeedMasterScalar<kFirst>(acc, correction, gain, master, i, i + 4));
    }
  }
  alignas(16) std::array<std::uint32_t, 4> lanes;
  _mm_store_ps(reinterpret_cast<float*>(lanes.data()), peak);
  return std::max({scalarPeak, lanes[0], lanes[1], lanes[2], lanes[3]});
}
#endif

#if defined(__ARM_NEON)
// The NEON forms of decoding and summing, for 32-bit ARM processors that have NEON (chosen
// when the program starts). Both are integer code with the same bits as the forms above. GCC
// 12 vectorises the plain loops too, but it neither fuses the widening multiply with the add
// (VMULL and VADD where one VMLAL does) nor loads the 64-bit sums whole, and its decoding
// widens bytes in six steps: the forms here take 30 to 45 % fewer instructions.

// Sixteen samples per step: VLD3 splits 48 bytes into the low, middle and high bytes of
// sixteen samples, and zipping them with each other and with a zero top byte (bytes, then
// halfwords) lays the samples out as 32-bit words in order. Reads exactly the region.
void DecodeOffsetSamplesNeon(const unsigned char* region, std::uint32_t* samples) {
  const uint8x16_t sign = vdupq_n_u8(0x80);
  const uint8x16_t zero = vdupq_n_u8(0);
  for (int i = 0; i < kFrames; i += 16) {
    const uint8x16x3_t bytes = vld3q_u8(region + 3 * i);
    const uint8x16x2_t low = vzipq_u8(bytes.val[0], bytes.val[1]);
    const uint8x16x2_t high = vzipq_u8(veorq_u8(bytes.val[2], sign), zero);
    const uint16x8x2_t first = vzipq_u16(vreinterpretq_u16_u8(low.val[0]), vreinterpretq_u16_u8(high.val[0]));
    const uint16x8x2_t second = vzipq_u16(vreinterpretq_u16_u8(low.val[1]), vreinterpretq_u16_u8(high.val[1]));
    vst1q_u32(samples + i, vreinterpretq_u32_u16(first.val[0]));
    vst1q_u32(samples + i + 4, vreinterpretq_u32_u16(first.val[1]));
    vst1q_u32(samples + i + 8, vreinterpretq_u32_u16(second.val[0]));
    vst1q_u32(samples + i + 12, vreinterpretq_u32_u16(second.val[1]));
  }
}

// SumTaps with non-negative gains, four frames per step: each tap's two gains sit in one
// register, and every product goes into its sum with one VMLAL (2 lanes of 32 × 32 → 64 bits).
template <std::size_t K, bool kFirst>
void SumTapsNeon(const TrackTap* taps, std::uint64_t* accL, std::uint64_t* accR) {
  std::array<const std::uint32_t*, K> samples;
  std::array<uint32x2_t, K> gains;  // lane 0 left, lane 1 right
  // Unrolled in every build (-O2 keeps loops), so that the taps stay in registers.
#pragma GCC unroll 4
  for (std::size_t k = 0; k < K; ++k) {
    samples[k] = taps[k].samples;
    const std::array<std::uint32_t, 2> pair = {static_cast<std::uint32_t>(taps[k].gainL),
                                               static_cast<std::uint32_t>(taps[k].gainR)};
    gains[k] = vld1_u32(pair.data());
  }
  // The pointers advance with the loads, which ARM does in the load itself.
  for (int step = 0; step < kFrames / 4; ++step) {
    uint64x2_t left01, left23, right01, right23;
    const uint32x4_t u = vld1q_u32(samples[0]);
    samples[0] += 4;
    if constexpr (kFirst) {
      left01 = vmull_lane_u32(vget_low_u32(u), gains[0], 0);
      left23 = vmull_lane_u32(vget_high_u32(u), gains[0], 0);
      right01 = vmull_lane_u32(vget_low_u32(u), gains[0], 1);
      right23 = vmull_lane_u32(vget_high_u32(u), gains[0], 1);
    } else {
      left01 = vmlal_lane_u32(vld1q_u64(accL), vget_low_u32(u), gains[0], 0);
      left23 = vmlal_lane_u32(vld1q_u64(accL + 2), vget_high_u32(u), gains[0], 0);
      right01 = vmlal_lane_u32(vld1q_u64(accR), vget_low_u32(u), gains[0], 1);
      right23 = vmlal_lane_u32(vld1q_u64(accR + 2), vget_high_u32(u), gains[0], 1);
    }
#pragma GCC unroll 4
    for (std::size_t k = 1; k < K; ++k) {
      const uint32x4_t v = vld1q_u32(samples[k]);
      samples[k] += 4;
      left01 = vmlal_lane_u32(left01, vget_low_u32(v), gains[k], 0);
      left23 = vmlal_lane_u32(left23, vget_high_u32(v), gains[k], 0);
      right01 = vmlal_lane_u32(right01, vget_low_u32(v), gains[k], 1);
      right23 = vmlal_lane_u32(right23, vget_high_u32(v), gains[k], 1);
    }
    vst1q_u64(accL, left01);
    vst1q_u64(accL + 2, left23);
    vst1q_u64(accR, right01);
    vst1q_u64(accR + 2, right23);
    accL += 4;
    accR += 4;
  }
}

template <bool kFirst>
void SumGroupNeon(std::span<const TrackTap> group, std::uint64_t* accL, std::uint64_t* accR) {
  switch (group.size()) {
    case 1: SumTapsNeon<1, kFirst>(group.data(), accL, accR); break;
    case 2: SumTapsNeon<2, kFirst>(group.data(), accL, accR); break;
    case 3: SumTapsNeon<3, kFirst>(group.data(), accL, accR); break;
    default: SumTapsNeon<4, kFirst>(group.data(), accL, accR); break;
  }
}

void AccumulateUnsignedNeon(std::span<const TrackTap> group, std::uint64_t* accL, std::uint64_t* accR, bool first) {
  if (first) {
    SumGroupNeon<true>(group, accL, accR);
  } else {
    SumGroupNeon<false>(group, accL, accR);
  }
}

// The output stages in NEON. Its single-precision arithmetic flushes subnormal inputs and
// results to zero and always rounds to nearest; neither changes a bit here. Every value
// converted or added is an integer (never subnormal), and a scaled value is subnormal only
// when its magnitude is below 2^-126, or when the gain is (a subnormal gain times a sum below
// 2^47 stays below 2^-79): truncated, any such value gives 0, as its flushed zero does, and
// so does PeakFromBits of its bits. The float bits the stages return may then be those of 0
// where the plain forms return those of the subnormal value.

// Four exact sums to single precision, rounded once as a direct conversion rounds, for sums
// of magnitude below 2^47: s = a × 2^24 + b with 0 ≤ b < 2^24 and |a| ≤ 2^23, both parts
// convert exactly, a × 2^24 is exact, and the one addition rounds the exact sum to nearest
// (VMLA rounds the product and the sum separately, and the product needs no rounding).
inline float32x4_t QuadToFloatNeon(int64x2_t s01, int64x2_t s23, float32x4_t twoTo24) {
  const int32x4_t high = vcombine_s32(vshrn_n_s64(s01, 24), vshrn_n_s64(s23, 24));
  const uint32x4_t low =
      vandq_u32(vreinterpretq_u32_s32(vcombine_s32(vmovn_s64(s01), vmovn_s64(s23))), vdupq_n_u32(kLow24));
  return vmlaq_f32(vcvtq_f32_u32(low), vcvtq_f32_s32(high), twoTo24);
}

// Bits 48 and up of s + 2^47, which are all 0 exactly when |s| lies within 2^47 (or s is
// -2^47), collected over the sums of a part.
inline uint64x2_t RangeBits(uint64x2_t range, int64x2_t s01, int64x2_t s23) {
  const int64x2_t bias = vdupq_n_s64(std::int64_t{1} << 47);
  return vorrq_u64(range, vreinterpretq_u64_s64(vorrq_s64(vaddq_s64(s01, bias), vaddq_s64(s23, bias))));
}

inline bool WithinRange(uint64x2_t range) {
  // The high words of both lanes in one 64-bit value, moved to the core registers once.
  const std::uint64_t highWords = vget_lane_u64(vreinterpret_u64_u32(vshrn_n_u64(range, 32)), 0);
  return (highWords & 0xffff0000ffff0000u) == 0;
}

inline std::uint32_t LargestLane(uint32x4_t lanes) {
  const uint32x2_t pairs = vpmax_u32(vget_low_u32(lanes), vget_high_u32(lanes));
  return vget_lane_u32(vpmax_u32(pairs, pairs), 0);
}

// The sums of four frames less the correction.
inline void LoadSums(const std::uint64_t* acc, uint64x2_t offset, int64x2_t& s01, int64x2_t& s23) {
  s01 = vreinterpretq_s64_u64(vsubq_u64(vld1q_u64(acc), offset));
  s23 = vreinterpretq_s64_u64(vsubq_u64(vld1q_u64(acc + 2), offset));
}

template <bool kExtra>
std::uint32_t ScaleSide(const std::uint64_t* acc, std::uint64_t correction, const std::int64_t* extra, float gain,
                        unsigned char* region) {
  const uint64x2_t offset = vdupq_n_u64(correction);
  const float32x4_t twoTo24 = vdupq_n_f32(16777216.0f);
  const float32x4_t scale = vdupq_n_f32(gain);
  const float32x4_t low = vdupq_n_f32(kOutputLow);
  const float32x4_t high = vdupq_n_f32(kOutputHigh);
  const uint32x4_t magnitude = vdupq_n_u32(kMagnitudeBits);
  uint32x4_t peak = vdupq_n_u32(0);
  uint64x2_t range = vdupq_n_u64(0);
  for (int i = 0; i < kFrames; i += 8) {
    std::array<uint32x4_t, 2> samples;
    for (std::size_t half = 0; half < 2; ++half) {
      const int at = i + 4 * static_cast<int>(half);
      int64x2_t s01, s23;
      LoadSums(acc + at, offset, s01, s23);
      if constexpr (kExtra) {
        s01 = vaddq_s64(s01, vld1q_s64(extra + at));
        s23 = vaddq_s64(s23, vld1q_s64(extra + at + 2));
      }
      range = RangeBits(range, s01, s23);
      const float32x4_t scaled = vmulq_f32(QuadToFloatNeon(s01, s23, twoTo24), scale);
      // For floats that are not NaN, the larger magnitude has the larger bit pattern.
      peak = vmaxq_u32(peak, vandq_u32(vreinterpretq_u32_f32(scaled), magnitude));
      samples[half] = vreinterpretq_u32_s32(vcvtq_s32_f32(vminq_f32(vmaxq_f32(scaled, low), high)));
    }
    // Eight samples to 24 bytes: their low, middle and high bytes, stored interleaved.
    const uint16x8_t low16 = vcombine_u16(vmovn_u32(samples[0]), vmovn_u32(samples[1]));
    uint8x8x3_t bytes;
    bytes.val[0] = vmovn_u16(low16);
    bytes.val[1] = vshrn_n_u16(low16, 8);
    bytes.val[2] = vmovn_u16(vcombine_u16(vshrn_n_u32(samples[0], 16), vshrn_n_u32(samples[1], 16)));
    vst3_u8(region + 3 * i, bytes);
  }
  // Sums of 2^47 and more need the direct conversion: no mix of audio comes near, but any
  // gains may.
  if (!WithinRange(range)) return ScaleSideScalar<kExtra>(acc, correction, extra, gain, region);
  return LargestLane(peak);
}

// The master feed four frames at a time. A part with a sum beyond 2^47 goes through the plain
// form; it is found first, in a pass over the sums that stays in the vector unit (moving a
// value to the core registers stalls the pipeline on some cores, so it happens once a part).
template <bool kFirst>
std::uint32_t FeedMasterNeon(const std::uint64_t* acc, std::uint64_t correction, float gain, std::int64_t* master) {
  const uint64x2_t offset = vdupq_n_u64(correction);
  uint64x2_t range = vdupq_n_u64(0);
  for (int i = 0; i < kFrames; i += 4) {
    int64x2_t s01, s23;
    LoadSums(acc + i, offset, s01, s23);
    range = RangeBits(range, s01, s23);
  }
  if (!WithinRange(range)) return FeedMasterScalar<kFirst>(acc, correction, gain, master, 0, kFrames);
  const float32x4_t twoTo24 = vdupq_n_f32(16777216.0f);
  const float32x4_t twoToMinus24 = vdupq_n_f32(1.0f / 16777216.0f);
  const float32x4_t scale = vdupq_n_f32(gain);
  const float32x4_t limit = vdupq_n_f32(kMasterFeedLimit);
  const float32x4_t negativeLimit = vdupq_n_f32(-kMasterFeedLimit);
  const uint32x4_t magnitude = vdupq_n_u32(kMagnitudeBits);
  uint32x4_t peak = vdupq_n_u32(0);
  for (int i = 0; i < kFrames; i += 4) {
    int64x2_t s01, s23;
    LoadSums(acc + i, offset, s01, s23);
    const float32x4_t scaled = vmulq_f32(QuadToFloatNeon(s01, s23, twoTo24), scale);
    peak = vmaxq_u32(peak, vandq_u32(vreinterpretq_u32_f32(scaled), magnitude));
    const float32x4_t limited = vminq_f32(vmaxq_f32(scaled, negativeLimit), limit);
    // trunc(limited) = q × 2^24 + trunc(r), with q = trunc(limited / 2^24) (|q| ≤ 2^23) and
    // r = limited − q × 2^24, which is exact and has the sign of limited. Times 256 that is
    // q × 2^32 + trunc(r) × 2^8.
    const int32x4_t q = vcvtq_s32_f32(vmulq_f32(limited, twoToMinus24));
    const int32x4_t rest = vcvtq_s32_f32(vmlsq_f32(limited, vcvtq_f32_s32(q), twoTo24));
    int64x2_t first = vaddq_s64(vshlq_n_s64(vmovl_s32(vget_low_s32(q)), 32), vshll_n_s32(vget_low_s32(rest), 8));
    int64x2_t second = vaddq_s64(vshlq_n_s64(vmovl_s32(vget_high_s32(q)), 32), vshll_n_s32(vget_high_s32(rest), 8));
    if constexpr (!kFirst) {
      first = vaddq_s64(first, vld1q_s64(master + i));
      second = vaddq_s64(second, vld1q_s64(master + i + 2));
    }
    vst1q_s64(master + i, first);
    vst1q_s64(master + i + 2, second);
  }
  return LargestLane(peak);
}
#endif

template <bool kFirst>
std::uint32_t FeedMaster(const std::uint64_t* acc, std::uint64_t correction, float gain, std::int64_t* master) {
#if defined(__SSE2__)
  return FeedMasterVector<kFirst>(acc, correction, gain, master);
#elif defined(__ARM_NEON)
  return FeedMasterNeon<kFirst>(acc, correction, gain, master);
#else
  return FeedMasterScalar<kFirst>(acc, correction, gain, master, 0, kFrames);
#endif
}

bool NonNegative(std::span<const TrackTap> group) {
  return std::all_of(group.begin(), group.end(), [](const TrackTap& tap) { return tap.gainL >= 0 && tap.gainR >= 0; });
}

void Decode(const unsigned char* region, std::uint32_t* samples) {
  // Flipping bit 23 turns the two's complement value into value + 8388608.
#if defined(__SSE2__)
  for (int i = 0; i < kFrames; i += 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + i), DecodeFour(region + 3 * i));
  }
  return;
#elif defined(__ARM_NEON)
  return DecodeOffsetSamplesNeon(region, samples);
#endif
  if constexpr (std::endian::native == std::endian::little) {
    // Four samples from three 32-bit words: a third of the loads of reading bytes.
    for (int i = 0; i < kFrames; i += 4) {
      std::array<std::uint32_t, 3> w;
      std::memcpy(w.data(), region + 3 * i, sizeof w);
      samples[i] = (w[0] & kLow24) ^ kSignBit;
      samples[i + 1] = ((w[0] >> 24 | w[1] << 8) & kLow24) ^ kSignBit;
      samples[i + 2] = ((w[1] >> 16 | w[2] << 16) & kLow24) ^ kSignBit;
      samples[i + 3] = (w[2] >> 8) ^ kSignBit;
    }
  } else {
    for (int i = 0; i < kFrames; ++i) {
      samples[i] = static_cast<std::uint32_t>(region[3 * i]) | static_cast<std::uint32_t>(region[3 * i + 1]) << 8 |
                   static_cast<std::uint32_t>(region[3 * i + 2] ^ 0x80u) << 16;
    }
  }
}

void Accumulate(std::span<const TrackTap> group, std::uint64_t* accL, std::uint64_t* accR, bool first) {
  if (NonNegative(group)) {
#if defined(__ARM_NEON)
    return AccumulateUnsignedNeon(group, accL, accR, first);
#endif
    AccumulateWith<std::uint32_t>(group, accL, accR, first);
  } else {
    AccumulateWith<std::uint64_t>(group, accL, accR, first);
  }
}

std::uint32_t ScaleRegion(const std::uint64_t* acc, std::uint64_t correction, const std::int64_t* extra, float gain,
                          unsigned char* region) {
  if (extra != nullptr) return ScaleSide<true>(acc, correction, extra, gain, region);
  return ScaleSide<false>(acc, correction, nullptr, gain, region);
}

std::uint32_t ScaleMaster(const std::uint64_t* acc, std::uint64_t correction, float gain, std::int64_t* master,
                          bool first) {
  if (first) return FeedMaster<true>(acc, correction, gain, master);
  return FeedMaster<false>(acc, correction, gain, master);
}

#if defined(__x86_64__)
// The same kernels with the AVX2 paths, where they have one.
void AccumulateGroupAvx2(std::span<const TrackTap> group, std::uint64_t* accL, std::uint64_t* accR, bool first) {
  if (NonNegative(group)) return AccumulateUnsignedAvx2(group, accL, accR, first);
  Accumulate(group, accL, accR, first);
}

std::uint32_t ScaleToRegionAvx2(const std::uint64_t* acc, std::uint64_t correction, const std::int64_t* extra,
                                float gain, unsigned char* region) {
  if (extra != nullptr) return ScaleSideAvx2<true>(acc, correction, extra, gain, region);
  return ScaleSideAvx2<false>(acc, correction, nullptr, gain, region);
}

std::uint32_t ScaleIntoMasterAvx2(const std::uint64_t* acc, std::uint64_t correction, float gain, std::int64_t* master,
                                  bool first) {
  if (first) return FeedMasterAvx2<true>(acc, correction, gain, master);
  return FeedMasterAvx2<false>(acc, correction, gain, master);
}
#endif

}  // namespace

const KernelTable kKernels = {
    .decodeOffsetSamples = &Decode,
    .accumulateGroup = &Accumulate,
    .scaleToRegion = &ScaleRegion,
    .scaleIntoMaster = &ScaleMaster,
};

#if defined(__x86_64__)
const KernelTable kAvx2Kernels = {
    .decodeOffsetSamples = &DecodeOffsetSamplesAvx2,
    .accumulateGroup = &AccumulateGroupAvx2,
    .scaleToRegion = &ScaleToRegionAvx2,
    .scaleIntoMaster = &ScaleIntoMasterAvx2,
};

bool HaveAvx2() {
  __builtin_cpu_init();  // this may run before the library's own constructors
  return __builtin_cpu_supports("avx2") != 0;
}
#endif

float SplitToFloat(std::int64_t value) {
  // value = high × 2^32 + low with low taken as signed: both parts and their sum are exact
  // in double below 2^53, so the one rounding is the final one to single precision.
  const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  const auto high = static_cast<std::int32_t>((value - low) >> 32);
  return static_cast<float>(static_cast<double>(high) * kTwoTo32 + static_cast<double>(low));
}

std::int64_t SplitTruncate(float value) {
  // value = quotient × 2^31 + rest, where the quotient is truncated toward zero, so the rest
  // has the sign of value, lies below 2^31 and is exact in double.
  const double wide = value;
  const auto quotient = static_cast<std::int32_t>(wide / kTwoTo31);
  const double rest = wide - static_cast<double>(quotient) * kTwoTo31;
  return static_cast<std::int64_t>(quotient) * (std::int64_t{1} << 31) + static_cast<std::int32_t>(rest);
}

}  // namespace tapeloom::TAPELOOM_KERNEL_FORM
