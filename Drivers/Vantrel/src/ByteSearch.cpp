#include "ByteSearch.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace Vantrel {

namespace {

// Pictures hold a needle's first and last byte at the right distance about once in 65536 places.
size_t candidateLimit(size_t size) { return 64 + size / 256; }

const uint8_t* linearSearch(const uint8_t* data, size_t size, const uint8_t* pattern, size_t length) {
  if (size < length) return nullptr;
  return static_cast<const uint8_t*>(memmem(data, size, pattern, length));
}

bool matchesAt(const uint8_t* data, const Needle& needle, size_t at) {
  return std::memcmp(data + at + 1, needle.bytes + 1, needle.length - 1) == 0;
}

// The state of one pass: which needles are still looked for and how many false places were met.
struct Pass {
  const uint8_t* data;
  size_t size;
  Needle* needles;
  size_t count;
  size_t candidates = 0;
  size_t limit;
  bool done = false;  // needles[0] found: the caller needs nothing more

  // Checks the places of `mask` (bit i: data + at + i) for needle `n`.
  template <class Mask>
  void check(size_t n, size_t at, Mask mask) {
    Needle& needle = needles[n];
    while (mask != 0 && needle.at == Needle::kNotFound) {
      const size_t place = at + size_t(__builtin_ctzll(static_cast<unsigned long long>(mask)));
      mask &= mask - 1;
      if (matchesAt(data, needle, place)) {
        needle.at = place;
      } else if (++candidates > limit) {
        finishLinearly(at);  // from the block's start: the other needles were not checked in it yet
        return;
      }
    }
    if (n == 0 && needle.at != Needle::kNotFound) done = true;
  }

  // Every needle not found yet, in data[from, size), one after another in linear time.
  void finishLinearly(size_t from) {
    for (size_t n = 0; n < count; ++n) {
      Needle& needle = needles[n];
      if (needle.at != Needle::kNotFound || from >= size) continue;
      if (const uint8_t* found = linearSearch(data + from, size - from, needle.bytes, needle.length))
        needle.at = size_t(found - data);
    }
    done = true;
  }

  // Place by place, from `from` on, for the needles not found yet.
  void scalarFrom(size_t from) {
    for (size_t at = from; at < size && !done; ++at)
      for (size_t n = 0; n < count; ++n) {
        const Needle& needle = needles[n];
        if (needle.at != Needle::kNotFound || at + needle.length > size) continue;
        if (data[at] == needle.bytes[0] && data[at + needle.length - 1] == needle.bytes[needle.length - 1])
          check(n, at, 1u);
      }
  }
};

#if defined(__x86_64__)
// One block loop per needle count, so that the compiler keeps every needle's bytes in registers.
// A block's loads end at data + at + longest + width - 2, which stays below data + size while
// at + longest + width - 1 <= size. A needle found already costs a compare, not a branch.
template <size_t N>
__attribute__((target("avx2"))) size_t blocksAvx2(Pass& pass, size_t from, size_t longest) {
  __m256i firsts[N], lasts[N];
  size_t lengths[N];
  for (size_t n = 0; n < N; ++n) {
    lengths[n] = pass.needles[n].length;
    firsts[n] = _mm256_set1_epi8(static_cast<char>(pass.needles[n].bytes[0]));
    lasts[n] = _mm256_set1_epi8(static_cast<char>(pass.needles[n].bytes[lengths[n] - 1]));
  }
  const uint8_t* const data = pass.data;
  const size_t end = pass.size;
  size_t at = from;
  for (; at + longest + 31 <= end; at += 32) {
    const __m256i heads = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at));
    uint32_t masks[N];
    uint32_t any = 0;
#pragma GCC unroll 4
    for (size_t n = 0; n < N; ++n) {
      const __m256i tails = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + lengths[n] - 1));
      masks[n] = uint32_t(_mm256_movemask_epi8(
          _mm256_and_si256(_mm256_cmpeq_epi8(heads, firsts[n]), _mm256_cmpeq_epi8(tails, lasts[n]))));
      any |= masks[n];
    }
    if (any == 0) continue;
    // Needle 0 last: the others may lie before it in this very block.
    for (size_t n = N; n-- > 0 && !pass.done;)
      if (masks[n] != 0 && pass.needles[n].at == Needle::kNotFound) pass.check(n, at, masks[n]);
    if (pass.done) return at + 32;
  }
  return at;
}

// 16 places at a time; every x86-64 processor has SSE2.
template <size_t N>
size_t blocksSse2(Pass& pass, size_t from, size_t longest) {
  __m128i firsts[N], lasts[N];
  size_t lengths[N];
  for (size_t n = 0; n < N; ++n) {
    lengths[n] = pass.needles[n].length;
    firsts[n] = _mm_set1_epi8(static_cast<char>(pass.needles[n].bytes[0]));
    lasts[n] = _mm_set1_epi8(static_cast<char>(pass.needles[n].bytes[lengths[n] - 1]));
  }
  const uint8_t* const data = pass.data;
  const size_t end = pass.size;
  size_t at = from;
  for (; at + longest + 15 <= end; at += 16) {
    const __m128i heads = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    uint32_t masks[N];
    uint32_t any = 0;
#pragma GCC unroll 4
    for (size_t n = 0; n < N; ++n) {
      const __m128i tails = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + lengths[n] - 1));
      masks[n] =
          uint32_t(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(heads, firsts[n]), _mm_cmpeq_epi8(tails, lasts[n]))));
      any |= masks[n];
    }
    if (any == 0) continue;
    // Needle 0 last: the others may lie before it in this very block.
    for (size_t n = N; n-- > 0 && !pass.done;)
      if (masks[n] != 0 && pass.needles[n].at == Needle::kNotFound) pass.check(n, at, masks[n]);
    if (pass.done) return at + 16;
  }
  return at;
}

bool hasAvx2() {
  static const bool available = __builtin_cpu_supports("avx2");
  return available;
}
#endif

}  // namespace

void findNeedles(const uint8_t* data, size_t from, size_t size, Needle* needles, size_t count) {
  count = std::min<size_t>(count, 4);
  if (count == 0 || from >= size) return;
  Pass pass{data, size, needles, count, 0, candidateLimit(size - from)};
  if (needles[0].at != Needle::kNotFound) return;
  size_t longest = 0;
  for (size_t n = 0; n < count; ++n) longest = std::max(longest, needles[n].length);
  size_t at = from;
#if defined(__x86_64__)
  const bool avx2 = hasAvx2();
  switch (count) {
    case 1:
      at = avx2 ? blocksAvx2<1>(pass, from, longest) : blocksSse2<1>(pass, from, longest);
      break;
    case 2:
      at = avx2 ? blocksAvx2<2>(pass, from, longest) : blocksSse2<2>(pass, from, longest);
      break;
    case 3:
      at = avx2 ? blocksAvx2<3>(pass, from, longest) : blocksSse2<3>(pass, from, longest);
      break;
    default:
      at = avx2 ? blocksAvx2<4>(pass, from, longest) : blocksSse2<4>(pass, from, longest);
      break;
  }
#endif
  if (!pass.done) pass.scalarFrom(at);
}

}  // namespace Vantrel
