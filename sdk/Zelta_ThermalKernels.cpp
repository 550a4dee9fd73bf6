#include "Zelta_ThermalKernels.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace Zelta {
namespace {

constexpr unsigned kRawMask = 0x3FFF;

#define ZELTA_ALWAYS_INLINE inline __attribute__((always_inline))

// Plain loops, which the compiler vectorises with the instructions of the function they are
// inlined into.
ZELTA_ALWAYS_INLINE float celsius(unsigned raw, Zelta_CelsiusScale scale) {
  return (static_cast<float>(raw & kRawMask) - scale.offset) / scale.divisor;
}

ZELTA_ALWAYS_INLINE uint16_t planesLoop(const uint8_t* low, const uint8_t* high, float* out, size_t n,
                                        Zelta_CelsiusScale scale) {
  uint8_t bits = 0;
  for (size_t i = 0; i < n; ++i) {
    bits |= high[i];
    out[i] = celsius(low[i] | high[i] << 8, scale);
  }
  return static_cast<uint16_t>((bits << 8) & ~kRawMask);
}

ZELTA_ALWAYS_INLINE uint16_t pairsLoop(const uint8_t* bytes, float* out, size_t n, Zelta_CelsiusScale scale) {
  uint8_t bits = 0;
  for (size_t i = 0; i < n; ++i) {
    bits |= bytes[2 * i + 1];
    out[i] = celsius(bytes[2 * i] | bytes[2 * i + 1] << 8, scale);
  }
  return static_cast<uint16_t>((bits << 8) & ~kRawMask);
}

ZELTA_ALWAYS_INLINE uint16_t valuesLoop(const uint16_t* raw, float* out, size_t n, Zelta_CelsiusScale scale) {
  uint16_t bits = 0;
  for (size_t i = 0; i < n; ++i) {
    bits |= raw[i];
    out[i] = celsius(raw[i], scale);
  }
  return static_cast<uint16_t>(bits & ~kRawMask);
}

uint16_t planesBaseline(const uint8_t* low, const uint8_t* high, float* out, size_t n, Zelta_CelsiusScale scale) {
  return planesLoop(low, high, out, n, scale);
}
uint16_t pairsBaseline(const uint8_t* bytes, float* out, size_t n, Zelta_CelsiusScale scale) {
  return pairsLoop(bytes, out, n, scale);
}
uint16_t valuesBaseline(const uint16_t* raw, float* out, size_t n, Zelta_CelsiusScale scale) {
  return valuesLoop(raw, out, n, scale);
}

#if defined(__x86_64__)
#define ZELTA_AVX2 __attribute__((target("avx2")))

ZELTA_AVX2 ZELTA_ALWAYS_INLINE void store8(__m256i raw, __m256 offset, __m256 divisor, float* out) {
  _mm256_storeu_ps(out, _mm256_div_ps(_mm256_sub_ps(_mm256_cvtepi32_ps(raw), offset), divisor));
}

// 32 pixels per step with few instructions (the compiler's loop spends more on widening the
// bytes than on the arithmetic): the dwords of both planes are reordered once so that the
// in-lane unpacks yield the pixels in row order, 8 per register.
ZELTA_AVX2 uint16_t planesAvx2(const uint8_t* low, const uint8_t* high, float* out, size_t n,
                               Zelta_CelsiusScale scale) {
  const __m256 offset = _mm256_set1_ps(scale.offset);
  const __m256 divisor = _mm256_set1_ps(scale.divisor);
  const __m256i rawBits = _mm256_set1_epi8(static_cast<char>(kRawMask >> 8));
  const __m256i order = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m256i zero = _mm256_setzero_si256();
  __m256i bits = zero;
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i highBytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(high + i));
    bits = _mm256_or_si256(bits, highBytes);
    const __m256i l = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(low + i)), order);
    const __m256i h = _mm256_permutevar8x32_epi32(_mm256_and_si256(highBytes, rawBits), order);
    const __m256i first = _mm256_unpacklo_epi8(l, h);   // pixels 0-3 and 8-11 | 4-7 and 12-15
    const __m256i second = _mm256_unpackhi_epi8(l, h);  // pixels 16-19 and 24-27 | 20-23 and 28-31
    store8(_mm256_unpacklo_epi16(first, zero), offset, divisor, out + i);
    store8(_mm256_unpackhi_epi16(first, zero), offset, divisor, out + i + 8);
    store8(_mm256_unpacklo_epi16(second, zero), offset, divisor, out + i + 16);
    store8(_mm256_unpackhi_epi16(second, zero), offset, divisor, out + i + 24);
  }
  alignas(32) uint8_t lanes[32];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), bits);
  uint16_t above = planesLoop(low + i, high + i, out + i, n - i, scale);
  for (const uint8_t lane : lanes) above |= static_cast<uint16_t>((lane << 8) & ~kRawMask);
  return above;
}
ZELTA_AVX2 uint16_t pairsAvx2(const uint8_t* bytes, float* out, size_t n, Zelta_CelsiusScale scale) {
  return pairsLoop(bytes, out, n, scale);
}
ZELTA_AVX2 uint16_t valuesAvx2(const uint16_t* raw, float* out, size_t n, Zelta_CelsiusScale scale) {
  return valuesLoop(raw, out, n, scale);
}
#endif

}  // namespace

Zelta_CelsiusScale celsiusScale(int gain) {
  return gain == 0 ? Zelta_CelsiusScale{6828.75f, 25.0f} : Zelta_CelsiusScale{682.875f, 2.5f};
}

const std::vector<Zelta_CelsiusKernels>& celsiusKernels() {
  static const std::vector<Zelta_CelsiusKernels> kernels = [] {
    std::vector<Zelta_CelsiusKernels> list;
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2")) list.push_back({"avx2", planesAvx2, pairsAvx2, valuesAvx2});
#endif
    list.push_back({"baseline", planesBaseline, pairsBaseline, valuesBaseline});
    return list;
  }();
  return kernels;
}

}  // namespace Zelta
