// The run scan: the shortest closed run of a row and the start of its last
// run. It jumps from run to run with bit counts and measures all runs inside
// a word at once with shifts; once a run of at most 64 is known, it only
// tests each word for a shorter one, four words at a time with AVX2. The
// incremental form (Scanning, scanWords) follows a row as it is built or
// spread.
#pragma once

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <limits>

#include "bits.hpp"

constexpr std::int32_t MAXN = 10000;  // start value of k: no closed run shorter than this

// What one scan of the row finds: the shortest closed run (capped at MAXN) and
// the start of the last run, or -1 for a row without a set bit.
struct RunScan {
  std::int64_t k;
  std::int64_t pos;
};

// The positions of x where `len` consecutive set bits begin (len in 1..64),
// with `above` as the word above x: a run may go on into it.
inline Word runsAtLeast(Word x, Word above, int len) {
  int have = 1;  // x now marks the starts of `have` consecutive set bits, and so does above
  while (2 * have <= len) {
    x &= (x >> have) | (above << (wordBits - have));
    above &= above >> have;
    have *= 2;
  }
  // Two overlapping stretches of `have` bits cover len bits.
  const int rest = len - have;
  return rest == 0 ? x : x & ((x >> rest) | (above << (wordBits - rest)));
}

// Whether a run of x that begins at a bit of `starts` is shorter than len
// (len in 1..64), where each such run ends inside x or in `above`, the word
// above it. Adding its start to a run carries through it to the clear bit
// that closes it; (starts << len) - starts marks the len positions from each
// start, exactly as long as no run is shorter, and the first shorter run's
// closing bit among them in any case.
inline bool hasShorterRun(Word x, Word above, Word starts, int len) {
  const Word sumLow = x + starts;
  const Word sumHigh = above + (sumLow < x ? 1 : 0);
  const Word upLow = (starts << (len - 1)) << 1;
  const Word upHigh = starts >> (wordBits - len);
  const Word spanLow = upLow - starts;
  const Word spanHigh = upHigh - (upLow < starts ? 1 : 0);
  return ((sumLow & ~x & spanLow) | (sumHigh & ~above & spanHigh)) != 0;
}

#if defined(SPINDRA_AVX2)
[[gnu::target("avx2")]] inline __m256i loadFour(const Word* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Unsigned a > b in each word, from the signed comparison with the top bits
// flipped: all ones where it holds.
[[gnu::target("avx2")]] inline __m256i greaterUnsigned(__m256i a, __m256i b) {
  const __m256i sign = _mm256_set1_epi64x(std::numeric_limits<std::int64_t>::min());
  return _mm256_cmpgt_epi64(_mm256_xor_si256(a, sign), _mm256_xor_si256(b, sign));
}

// The first word from `from` on where a run shorter than len (1..64) begins,
// give or take three: hasShorterRun for four words at a time, each with the
// words next to it. Words from - 1 to `to` must be there (from at least 1).
[[gnu::target("avx2")]] inline std::size_t skipNoShorterAvx2(const Word* words, std::size_t from, std::size_t to,
                                                             int len) {
  const __m128i one = _mm_cvtsi32_si128(1);
  const __m128i top = _mm_cvtsi32_si128(wordBits - 1);
  const __m128i up = _mm_cvtsi32_si128(len);
  const __m128i down = _mm_cvtsi32_si128(wordBits - len);
  std::size_t i = from;
  if (len == 2) {  // a run of 1 is a start whose next bit is clear: half the work of any len
    for (; i + 4 <= to; i += 4) {
      const __m256i x = loadFour(words + i);
      const __m256i starts = _mm256_andnot_si256(
          _mm256_or_si256(_mm256_slli_epi64(x, 1), _mm256_srli_epi64(loadFour(words + i - 1), 63)), x);
      const __m256i second = _mm256_or_si256(_mm256_srli_epi64(x, 1), _mm256_slli_epi64(loadFour(words + i + 1), 63));
      const __m256i single = _mm256_andnot_si256(second, starts);
      if (!_mm256_testz_si256(single, single)) break;
    }
    return i;
  }
  for (; i + 4 <= to; i += 4) {
    const __m256i x = loadFour(words + i);
    const __m256i next = loadFour(words + i + 1);
    const __m256i starts = _mm256_andnot_si256(
        _mm256_or_si256(_mm256_sll_epi64(x, one), _mm256_srl_epi64(loadFour(words + i - 1), top)), x);
    const __m256i sumLow = _mm256_add_epi64(x, starts);
    const __m256i sumHigh = _mm256_sub_epi64(next, greaterUnsigned(x, sumLow));  // adds the carry
    const __m256i upLow = _mm256_sll_epi64(starts, up);                          // a shift by 64 clears a word
    const __m256i spanLow = _mm256_sub_epi64(upLow, starts);
    const __m256i spanHigh =
        _mm256_add_epi64(_mm256_srl_epi64(starts, down), greaterUnsigned(starts, upLow));  // less the borrow
    const __m256i hit = _mm256_or_si256(_mm256_and_si256(_mm256_andnot_si256(x, sumLow), spanLow),
                                        _mm256_and_si256(_mm256_andnot_si256(next, sumHigh), spanHigh));
    if (!_mm256_testz_si256(hit, hit)) break;
  }
  return i;
}

// The same, eight words at a time, give or take seven. The plain logic and
// arithmetic are written as operators on the vectors, and the shifts in their
// zero-masking forms with every lane kept: g++ 12 takes the intrinsics for a
// use of an uninitialized value.
[[gnu::target("avx512f")]] inline std::size_t skipNoShorterAvx512(const Word* words, std::size_t from, std::size_t to,
                                                                  int len) {
  const __m512i one = _mm512_set1_epi64(1);
  const __m512i top = _mm512_set1_epi64(wordBits - 1);
  const __m512i up = _mm512_set1_epi64(len);
  const __m512i down = _mm512_set1_epi64(wordBits - len);
  std::size_t i = from;
  if (len == 2) {  // a run of 1 is a start whose next bit is clear: half the work of any len
    for (; i + 8 <= to; i += 8) {
      const __m512i x = _mm512_loadu_si512(words + i);
      const __m512i starts = x & ~(_mm512_maskz_slli_epi64(0xFF, x, 1) |
                                   _mm512_maskz_srli_epi64(0xFF, _mm512_loadu_si512(words + i - 1), 63));
      const __m512i second =
          _mm512_maskz_srli_epi64(0xFF, x, 1) | _mm512_maskz_slli_epi64(0xFF, _mm512_loadu_si512(words + i + 1), 63);
      if (_mm512_test_epi64_mask(starts, ~second) != 0) break;
    }
    return i;
  }
  for (; i + 8 <= to; i += 8) {
    const __m512i x = _mm512_loadu_si512(words + i);
    const __m512i next = _mm512_loadu_si512(words + i + 1);
    const __m512i below = _mm512_loadu_si512(words + i - 1);
    const __m512i starts = x & ~(_mm512_maskz_sllv_epi64(0xFF, x, one) | _mm512_maskz_srlv_epi64(0xFF, below, top));
    const __m512i sumLow = x + starts;
    const __m512i sumHigh = _mm512_mask_add_epi64(next, _mm512_cmplt_epu64_mask(sumLow, x), next, one);  // the carry
    const __m512i upLow = _mm512_maskz_sllv_epi64(0xFF, starts, up);  // a shift by 64 clears a word
    const __m512i high = _mm512_maskz_srlv_epi64(0xFF, starts, down);
    const __m512i spanHigh =
        _mm512_mask_sub_epi64(high, _mm512_cmplt_epu64_mask(upLow, starts), high, one);  // the borrow
    const __m512i hit = (sumLow & ~x & (upLow - starts)) | (sumHigh & ~next & spanHigh);
    if (_mm512_test_epi64_mask(hit, hit) != 0) break;
  }
  return i;
}
#endif

#if defined(SPINDRA_AVX2)
[[gnu::target("sse2")]] inline __m128i loadTwo(const Word* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Whether any bit of v is set.
[[gnu::target("sse2")]] inline bool anySet(__m128i v) {
  return _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) != 0xFFFF;
}

// skipNoShorterAvx2, two words at a time with SSE2, give or take one. SSE2
// has no 64-bit compare: the carry and the borrow come from the words' top
// bits, as 1 or 0.
[[gnu::target("sse2")]] inline std::size_t skipNoShorterSse2(const Word* words, std::size_t from, std::size_t to,
                                                             int len) {
  const __m128i one = _mm_cvtsi32_si128(1);
  const __m128i top = _mm_cvtsi32_si128(wordBits - 1);
  const __m128i up = _mm_cvtsi32_si128(len);
  const __m128i down = _mm_cvtsi32_si128(wordBits - len);
  std::size_t i = from;
  for (; i + 2 <= to; i += 2) {
    const __m128i x = loadTwo(words + i);
    const __m128i next = loadTwo(words + i + 1);
    const __m128i starts =
        _mm_andnot_si128(_mm_or_si128(_mm_sll_epi64(x, one), _mm_srl_epi64(loadTwo(words + i - 1), top)), x);
    const __m128i sumLow = _mm_add_epi64(x, starts);
    const __m128i carry =
        _mm_srli_epi64(_mm_or_si128(_mm_and_si128(x, starts), _mm_andnot_si128(sumLow, _mm_or_si128(x, starts))), 63);
    const __m128i sumHigh = _mm_add_epi64(next, carry);
    const __m128i upLow = _mm_sll_epi64(starts, up);  // a shift by 64 clears a word
    const __m128i spanLow = _mm_sub_epi64(upLow, starts);
    const __m128i borrow = _mm_srli_epi64(
        _mm_or_si128(_mm_andnot_si128(upLow, starts), _mm_andnot_si128(_mm_xor_si128(upLow, starts), spanLow)), 63);
    const __m128i spanHigh = _mm_sub_epi64(_mm_srl_epi64(starts, down), borrow);
    const __m128i hit = _mm_or_si128(_mm_and_si128(_mm_andnot_si128(x, sumLow), spanLow),
                                     _mm_and_si128(_mm_andnot_si128(next, sumHigh), spanHigh));
    if (anySet(hit)) break;
  }
  return i;
}

// skipUniform, eight words a step with SSE2.
[[gnu::target("sse2")]] inline std::size_t skipUniformSse2(const Word* words, std::size_t i, std::size_t to,
                                                           Word uniform) {
  const __m128i same = _mm_set1_epi64x(static_cast<std::int64_t>(uniform));
  for (; i + 8 <= to; i += 8) {
    const __m128i differ = _mm_or_si128(
        _mm_or_si128(_mm_xor_si128(loadTwo(words + i), same), _mm_xor_si128(loadTwo(words + i + 2), same)),
        _mm_or_si128(_mm_xor_si128(loadTwo(words + i + 4), same), _mm_xor_si128(loadTwo(words + i + 6), same)));
    if (anySet(differ)) break;
  }
  while (i < to && words[i] == uniform) ++i;
  return i;
}
#endif

#if defined(SPINDRA_AVX2)
// skipUniform, four words a compare.
[[gnu::target("avx2")]] inline std::size_t skipUniformAvx2(const Word* words, std::size_t i, std::size_t to,
                                                           Word uniform) {
  const __m256i same = _mm256_set1_epi64x(static_cast<std::int64_t>(uniform));
  for (; i + 4 <= to; i += 4) {
    const int equal = _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(loadFour(words + i), same)));
    if (equal != 0xF) return i + static_cast<std::size_t>(std::countr_one(static_cast<unsigned>(equal)));
  }
  while (i < to && words[i] == uniform) ++i;
  return i;
}

// skipUniform, eight words a compare.
[[gnu::target("avx512f")]] inline std::size_t skipUniformAvx512(const Word* words, std::size_t i, std::size_t to,
                                                                Word uniform) {
  const __m512i same = _mm512_set1_epi64(static_cast<std::int64_t>(uniform));
  for (; i + 8 <= to; i += 8) {
    const __mmask8 differ = _mm512_cmpneq_epu64_mask(_mm512_loadu_si512(words + i), same);
    if (differ != 0) return i + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(differ)));
  }
  while (i < to && words[i] == uniform) ++i;
  return i;
}
#endif

#if defined(SPINDRA_NEON)
// Whether any bit of v is set.
[[SPINDRA_NEON_TARGET]] inline bool anySet(uint64x2_t v) {
#if defined(SPINDRA_NEON_32)
  return vget_lane_u64(vorr_u64(vget_low_u64(v), vget_high_u64(v)), 0) != 0;  // ARMv7: no maximum across lanes
#else
  return vmaxvq_u32(vreinterpretq_u32_u64(v)) != 0;
#endif
}

// All ones in each word where a < b, unsigned; zero elsewhere. ARMv7 has no
// 64-bit compare: there the top bit of the borrow of a - b is spread over the word.
[[SPINDRA_NEON_TARGET]] inline uint64x2_t lessThan(uint64x2_t a, uint64x2_t b) {
#if defined(SPINDRA_NEON_32)
  const uint64x2_t borrows = vorrq_u64(vbicq_u64(b, a), vbicq_u64(vsubq_u64(a, b), veorq_u64(a, b)));
  return vreinterpretq_u64_s64(vshrq_n_s64(vreinterpretq_s64_u64(borrows), 63));
#else
  return vcgtq_u64(b, a);
#endif
}

// skipNoShorterAvx2, two words at a time with NEON, give or take one. A
// shift by a negative count is a shift right, and by 64 either way clears a
// word; a comparison's all ones, added, subtracts one.
[[SPINDRA_NEON_TARGET]] inline std::size_t skipNoShorterNeon(const Word* words, std::size_t from, std::size_t to,
                                                             int len) {
  const int64x2_t one = vdupq_n_s64(1);
  const int64x2_t top = vdupq_n_s64(1 - wordBits);
  const int64x2_t up = vdupq_n_s64(len);
  const int64x2_t down = vdupq_n_s64(len - wordBits);
  std::size_t i = from;
  for (; i + 2 <= to; i += 2) {
    const uint64x2_t x = vld1q_u64(words + i);
    const uint64x2_t next = vld1q_u64(words + i + 1);
    const uint64x2_t starts = vbicq_u64(x, vorrq_u64(vshlq_u64(x, one), vshlq_u64(vld1q_u64(words + i - 1), top)));
    const uint64x2_t sumLow = vaddq_u64(x, starts);
    const uint64x2_t sumHigh = vsubq_u64(next, lessThan(sumLow, x));  // adds the carry
    const uint64x2_t upLow = vshlq_u64(starts, up);
    const uint64x2_t spanLow = vsubq_u64(upLow, starts);
    const uint64x2_t spanHigh = vaddq_u64(vshlq_u64(starts, down), lessThan(upLow, starts));  // less the borrow
    const uint64x2_t hit =
        vorrq_u64(vandq_u64(vbicq_u64(sumLow, x), spanLow), vandq_u64(vbicq_u64(sumHigh, next), spanHigh));
    if (anySet(hit)) break;
  }
  return i;
}

// skipUniform, eight words a step with NEON.
[[SPINDRA_NEON_TARGET]] inline std::size_t skipUniformNeon(const Word* words, std::size_t i, std::size_t to,
                                                           Word uniform) {
  const uint64x2_t same = vdupq_n_u64(uniform);
  for (; i + 8 <= to; i += 8) {
#if defined(SPINDRA_NEON_32)
    uint64x2x4_t x;  // ARMv7 has no load of four registers at once
    for (int j = 0; j < 4; ++j) x.val[j] = vld1q_u64(words + i + 2 * j);
#else
    const uint64x2x4_t x = vld1q_u64_x4(words + i);
#endif
    const uint64x2_t differ = vorrq_u64(vorrq_u64(veorq_u64(x.val[0], same), veorq_u64(x.val[1], same)),
                                        vorrq_u64(veorq_u64(x.val[2], same), veorq_u64(x.val[3], same)));
    if (anySet(differ)) break;
  }
  while (i < to && words[i] == uniform) ++i;
  return i;
}
#endif

#if defined(SPINDRA_VSX)
using Words2 = __vector unsigned long long;

// Words p[0] and p[1].
inline Words2 loadTwo(const Word* p) { return vec_xl(0, reinterpret_cast<const unsigned long long*>(p)); }

// The same, in either lane: for work that treats both lanes alike, the load
// as the processor makes it (lxvd2x), without the swap into the compiler's
// lane order.
inline Words2 loadTwoEither(const Word* p) { return vec_xl_be(0, reinterpret_cast<const unsigned long long*>(p)); }

// skipNoShorterAvx2, two words at a time with VSX, give or take one. A shift
// takes its count modulo 64, so a shift up by len (1..64) goes in two steps;
// a comparison's all ones, added, subtracts one.
inline std::size_t skipNoShorterVsx(const Word* words, std::size_t from, std::size_t to, int len) {
  const Words2 one = vec_splats(1ULL);
  const Words2 top = vec_splats(static_cast<unsigned long long>(wordBits - 1));
  const Words2 upLess1 = vec_splats(static_cast<unsigned long long>(len - 1));
  const Words2 down = vec_splats(static_cast<unsigned long long>(wordBits - len));
  std::size_t i = from;
  for (; i + 2 <= to; i += 2) {
    const Words2 x = loadTwoEither(words + i);
    const Words2 next = loadTwoEither(words + i + 1);
    const Words2 starts = vec_andc(x, vec_or(vec_sl(x, one), vec_sr(loadTwoEither(words + i - 1), top)));
    const Words2 sumLow = vec_add(x, starts);
    const Words2 sumHigh = vec_sub(next, reinterpret_cast<Words2>(vec_cmpgt(x, sumLow)));  // adds the carry
    const Words2 upLow = vec_sl(vec_sl(starts, upLess1), one);
    const Words2 spanLow = vec_sub(upLow, starts);
    const Words2 spanHigh = vec_add(vec_sr(starts, down), reinterpret_cast<Words2>(vec_cmpgt(starts, upLow)));
    const Words2 hit = vec_or(vec_and(vec_andc(sumLow, x), spanLow), vec_and(vec_andc(sumHigh, next), spanHigh));
    if (!vec_all_eq(hit, vec_splats(0ULL))) break;
  }
  return i;
}

// skipUniform, eight words a step with VSX.
inline std::size_t skipUniformVsx(const Word* words, std::size_t i, std::size_t to, Word uniform) {
  const Words2 same = vec_splats(static_cast<unsigned long long>(uniform));
  // A count of steps and one address, which POWER's vector loads take with
  // offsets kept in registers: the loop's own cost is two instructions.
  const Word* at = words + i;
  const auto lanes = [&](long offset) {
    return vec_xor(vec_xl_be(offset, reinterpret_cast<const unsigned long long*>(at)), same);
  };
  for (std::size_t steps = i < to ? (to - i) / 8 : 0; steps > 0; --steps, at += 8) {
    const Words2 differ = vec_or(vec_or(lanes(0), lanes(16)), vec_or(lanes(32), lanes(48)));
    if (!vec_all_eq(differ, vec_splats(0ULL))) break;
  }
  i = static_cast<std::size_t>(at - words);
  while (i < to && words[i] == uniform) ++i;
  return i;
}
#endif

#if defined(SPINDRA_VX)
using WordsVx = unsigned long long __attribute__((vector_size(16)));

// Words p[0] and p[1]. (__builtin_memcpy, here and in the other forms for
// the vector facility: the C library's checked memcpy cannot be taken into a
// function compiled for another processor.)
[[SPINDRA_VX_TARGET]] inline WordsVx loadTwoVx(const Word* p) {
  WordsVx v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

// Whether any bit of v is set.
[[SPINDRA_VX_TARGET]] inline bool anySet(WordsVx v) { return (v[0] | v[1]) != 0; }

// skipNoShorterAvx2, two words at a time with the vector facility, give or
// take one. A shift takes its count modulo 64, so a shift up by len (1..64)
// goes in two steps; a comparison's all ones, added, subtracts one.
[[SPINDRA_VX_TARGET]] inline std::size_t skipNoShorterVx(const Word* words, std::size_t from, std::size_t to, int len) {
  std::size_t i = from;
  for (; i + 2 <= to; i += 2) {
    const WordsVx x = loadTwoVx(words + i);
    const WordsVx next = loadTwoVx(words + i + 1);
    const WordsVx starts = x & ~((x << 1) | (loadTwoVx(words + i - 1) >> (wordBits - 1)));
    const WordsVx sumLow = x + starts;
    const WordsVx sumHigh = next - reinterpret_cast<WordsVx>(x > sumLow);  // adds the carry
    const WordsVx upLow = (starts << (len - 1)) << 1;
    const WordsVx spanHigh = (starts >> (wordBits - len)) + reinterpret_cast<WordsVx>(starts > upLow);
    const WordsVx hit = (sumLow & ~x & (upLow - starts)) | (sumHigh & ~next & spanHigh);
    if (anySet(hit)) break;
  }
  return i;
}

// skipUniform, eight words a step with the vector facility.
[[SPINDRA_VX_TARGET]] inline std::size_t skipUniformVx(const Word* words, std::size_t i, std::size_t to, Word uniform) {
  const WordsVx same = {uniform, uniform};
  for (; i + 8 <= to; i += 8) {
    const WordsVx differ = (loadTwoVx(words + i) ^ same) | (loadTwoVx(words + i + 2) ^ same) |
                           (loadTwoVx(words + i + 4) ^ same) | (loadTwoVx(words + i + 6) ^ same);
    if (anySet(differ)) break;
  }
  while (i < to && words[i] == uniform) ++i;
  return i;
}
#endif

#if defined(SPINDRA_RVV)
using WordsRvv = std::uint64_t __attribute__((vector_size(64)));

// Words p[0] to p[7].
[[SPINDRA_RVV_TARGET]] inline WordsRvv loadEight(const Word* p) {
  WordsRvv v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

// skipNoShorterAvx2, eight words at a time with the vector extension, give
// or take seven. A shift takes its count modulo 64, so a shift up by len
// (1..64) goes in two steps; a comparison's all ones, added, subtracts one.
[[SPINDRA_RVV_TARGET]] inline std::size_t skipNoShorterRvv(const Word* words, std::size_t from, std::size_t to,
                                                           int len) {
  std::size_t i = from;
  for (; i + 8 <= to; i += 8) {
    const WordsRvv x = loadEight(words + i);
    const WordsRvv next = loadEight(words + i + 1);
    const WordsRvv starts = x & ~((x << 1) | (loadEight(words + i - 1) >> (wordBits - 1)));
    const WordsRvv sumLow = x + starts;
    const WordsRvv sumHigh = next - reinterpret_cast<WordsRvv>(x > sumLow);  // adds the carry
    const WordsRvv upLow = (starts << (len - 1)) << 1;
    const WordsRvv spanHigh = (starts >> (wordBits - len)) + reinterpret_cast<WordsRvv>(starts > upLow);
    const WordsRvv hit = (sumLow & ~x & (upLow - starts)) | (sumHigh & ~next & spanHigh);
    if (__builtin_reduce_or(hit) != 0) break;
  }
  return i;
}

// skipUniform, eight words a step with the vector extension.
[[SPINDRA_RVV_TARGET]] inline std::size_t skipUniformRvv(const Word* words, std::size_t i, std::size_t to,
                                                         Word uniform) {
  for (; i + 8 <= to; i += 8)
    if (__builtin_reduce_or(loadEight(words + i) ^ uniform) != 0) break;
  while (i < to && words[i] == uniform) ++i;
  return i;
}
#endif

// The first of words [from, to) that is not `uniform`, or `to`: a stretch of
// a run, or between runs, that the scan goes past.
inline std::size_t skipUniform(const Word* words, std::size_t from, std::size_t to, Word uniform) {
#if defined(SPINDRA_AVX2)
  if (avx512Here) return skipUniformAvx512(words, from, to, uniform);
  if (avx2Here) return skipUniformAvx2(words, from, to, uniform);
  if (sse2Here) return skipUniformSse2(words, from, to, uniform);
#endif
#if defined(SPINDRA_NEON)
  if (neonHere) return skipUniformNeon(words, from, to, uniform);
#endif
#if defined(SPINDRA_VSX)
  if (vsxHere) return skipUniformVsx(words, from, to, uniform);
#endif
#if defined(SPINDRA_VX)
  if (vxHere) return skipUniformVx(words, from, to, uniform);
#endif
#if defined(SPINDRA_RVV)
  if (rvvHere) return skipUniformRvv(words, from, to, uniform);
#endif
  while (from < to && words[from] == uniform) ++from;
  return from;
}

// The first word from `from` on where a run shorter than len (1..64) may
// begin, give or take skipSlack words, or `to` at the latest; words from - 1
// to `to` must be there (from at least 1). The words after it are tested one
// at a time.
constexpr std::size_t skipSlack = 8;
inline std::size_t skipNoShorter([[maybe_unused]] const Word* words, std::size_t from, [[maybe_unused]] std::size_t to,
                                 [[maybe_unused]] int len) {
#if defined(SPINDRA_AVX2)
  if (avx512Here) return skipNoShorterAvx512(words, from, to, len);
  if (avx2Here) return skipNoShorterAvx2(words, from, to, len);
  if (sse2Here) return skipNoShorterSse2(words, from, to, len);
#endif
#if defined(SPINDRA_NEON)
  if (neonHere) return skipNoShorterNeon(words, from, to, len);
#endif
#if defined(SPINDRA_VSX)
  if (vsxHere) return skipNoShorterVsx(words, from, to, len);
#endif
#if defined(SPINDRA_VX)
  if (vxHere) return skipNoShorterVx(words, from, to, len);
#endif
#if defined(SPINDRA_RVV)
  if (rvvHere) return skipNoShorterRvv(words, from, to, len);
#endif
  return from;
}

// The length of the shortest run of x that begins at a bit of `starts`, if it
// is shorter than cap; cap otherwise. Each such run must end inside x, or in
// `above`, the word above it.
inline std::int64_t shortestRun(Word x, Word above, Word starts, std::int64_t cap) {
  if (cap <= wordBits && (starts & ~runsAtLeast(x, above, static_cast<int>(cap))) == 0) return cap;
  // Some run is at most hi long: find the smallest length that one of them has.
  int lo = 1;
  int hi = static_cast<int>(std::min<std::int64_t>(cap, wordBits)) - 1;
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if ((starts & ~runsAtLeast(x, above, mid + 1)) != 0) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return lo;
}

// The start of the last run of the row, or -1 if no position is set.
inline std::int64_t lastRunStart(const BitRow& row) {
  std::size_t i = row.count;
  while (i > 0 && row.words[i - 1] == 0) --i;
  if (i == 0) return -1;
  --i;
  const int top = wordBits - 1 - std::countl_zero(row.words[i]);
  Word clears = ~row.words[i] & ((Word{2} << top) - 1);  // clear bits at or below the top set bit
  while (clears == 0) {
    if (i == 0) return 0;
    clears = ~row.words[--i];
  }
  return static_cast<std::int64_t>(i) * wordBits + wordBits - std::countl_zero(clears);
}

// After a round with shift k every closed run is at least 2k long: the least
// length that the next round's scan can find.
inline std::int64_t leastAfter(std::int64_t k) { return std::min<std::int64_t>(2 * k, MAXN); }

// The most words that a record of the words not all ones holds: 32 KiB of
// their places.
constexpr std::size_t unfilledMost = 4096;

// The words of a row that are not all ones (within the row), from the bottom
// up; some may have filled since. Every other word of the row is all ones
// where the record is `whole`; it is not where a scan went past clear words,
// went on without taking words one by one, or met more than unfilledMost
// (count is then past it).
struct Unfilled {
  std::size_t count = 0;
  bool whole = false;
  std::size_t at[unfilledMost];
};

// Notes word i as not all ones.
inline void noteUnfilled(Unfilled& unfilled, std::size_t i) {
  if (unfilled.count < unfilledMost) unfilled.at[unfilled.count] = i;
  unfilled.count = std::min(unfilled.count + 1, unfilledMost + 1);
}

// Gives the record up, where there is one: a scan went past words that it
// did not note.
inline void loseUnfilled(Unfilled* unfilled) {
  if (unfilled != nullptr) unfilled->count = unfilledMost + 1;
}

// A scan of a row in progress, a word at a time from the bottom: the
// shortest closed run so far, capped at MAXN.
//
// In two phases. While no closed run of at most 64 has been seen, runs inside
// a word are measured all at once with shifts, and a run that crosses into the
// next word is carried over. From then on only a run shorter than the
// shortest so far matters, and such a run ends at the latest in the word above
// the one it begins in: each word where a run begins is tested with the word
// above it, and nothing is carried.
struct Scanning {
  std::int64_t k = MAXN;
  std::int64_t carried = -1;     // the start of a run that reaches the top of the last word taken
  Unfilled* unfilled = nullptr;  // where the words taken that are not all ones are noted, if anywhere
};

// Takes word i of a row, x, between `below` and `above`, the words next to it.
// Past the row's end counts as set, so that a run that reaches its last
// position stays open; a word past those held is clear.
inline void scanWord(Scanning& scan, std::size_t i, Word below, Word x, Word above) {
  if (scan.unfilled != nullptr && x != allOnes) noteUnfilled(*scan.unfilled, i);
  const auto base = static_cast<std::int64_t>(i) * wordBits;
  if (scan.carried >= 0) {  // the run ends in x, unless it fills x
    if (x == allOnes && scan.k > wordBits) return;
    if (x != allOnes) scan.k = std::min(scan.k, base + std::countr_one(x) - scan.carried);
    scan.carried = -1;
    if (scan.k > wordBits) x &= x + 1;  // drop the run just closed
  }
  if (scan.k > wordBits) {
    if (x == 0) return;
    Word starts = x & ~(x << 1);
    if (x >> (wordBits - 1)) {  // the top run goes on into the next word
      scan.carried = base + wordBits - std::countl_one(x);
      starts ^= std::bit_floor(starts);
    }
    if (starts != 0) scan.k = shortestRun(x, 0, starts, scan.k);
  } else {
    const Word starts = x & ~((x << 1) | (below >> (wordBits - 1)));
    if (starts != 0) scan.k = shortestRun(x, above, starts, scan.k);
  }
}

// Scans words [from, to) of a row, whose words from - 1 to `to` are there and
// final; stops once the shortest closed run is atLeast long. While no closed
// run of at most 64 has been seen, whole words inside a run or between runs
// are skipped; from then on the words go by without a branch but the one
// taken where a shorter run begins.
inline void scanWords(Scanning& scan, const Word* words, std::size_t from, std::size_t to, std::int64_t atLeast) {
  std::size_t i = from;
  for (; i < to && scan.k > atLeast && (scan.k > wordBits || scan.carried >= 0); ++i) {
    if (scan.k > wordBits) {
      const Word uniform = scan.carried >= 0 ? allOnes : 0;
      const std::size_t past = skipUniform(words, i, to - 1, uniform);
      if (past > i && uniform == 0) loseUnfilled(scan.unfilled);  // clear words gone by
      i = past;
    }
    scanWord(scan, i, i > 0 ? words[i - 1] : 0, words[i], words[i + 1]);
  }
  if (i == to || scan.k <= atLeast) return;
  assert(i > 0);                // the first phase has taken a word at least
  loseUnfilled(scan.unfilled);  // the words go by without being taken one by one
  auto k = static_cast<int>(scan.k);
  while (i < to) {
    i = skipNoShorter(words, i, to, k);
    const std::size_t stretch = std::min(to, i + skipSlack);  // the words to test one at a time
    for (Word below = words[i - 1]; i < stretch; ++i) {
      const Word x = words[i];
      const Word starts = x & ~((x << 1) | (below >> (wordBits - 1)));
      if (starts != 0 && hasShorterRun(x, words[i + 1], starts, k)) {
        k = static_cast<int>(shortestRun(x, words[i + 1], starts, k));
        if (k <= atLeast) {
          scan.k = k;
          return;
        }
      }
      below = x;
    }
  }
  scan.k = k;
}

// Finds the shortest closed run of the row (capped at MAXN) and the start of
// its last run. atLeast is a length that no closed run of the row is shorter
// than (see leastAfter); the scan stops as soon as it finds a run that short.
inline RunScan scanRow(const BitRow& row, std::int64_t atLeast = 1) {
  assert(clearPastEnd(row) && atLeast >= 1);
  const Word* const words = row.words.get();
  const std::size_t count = row.count;
  const bool reachesEnd = count == wordsFor(row.n);  // else positions from 64 * count on are clear
  const Word pastEnd = ~lowBits(bitOf(row.n - 1) + 1);
  const auto wordAt = [&](std::size_t j) {
    if (j + 1 < count) return words[j];
    if (j + 1 == count) return reachesEnd ? words[j] | pastEnd : words[j];
    return reachesEnd ? allOnes : Word{0};
  };
  Scanning scan;
  // The last two words held, and the one past them, where the row's end shows.
  const std::size_t ends = count < 2 ? 0 : count - 2;
  scanWords(scan, words, 0, ends, atLeast);
  for (std::size_t i = ends; i <= count && scan.k > atLeast; ++i)
    scanWord(scan, i, i > 0 ? wordAt(i - 1) : 0, wordAt(i), wordAt(i + 1));
  assert(scan.k >= atLeast);
  return {scan.k, lastRunStart(row)};
}
