// Spreading: the pass that copies every set position k positions up, in
// place, and the sweep that runs several rounds of it in one trip through the
// row. Both shift whole words, four at a time with AVX2.
#pragma once

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <type_traits>

#include "scan.hpp"

// What one spreading pass did: whether some set position had its target
// inside the row, and whether the row gained a position it did not have.
struct Spread {
  bool reached;
  bool grew;
};

// Spreads the row in place: every set position i with i + k < n also sets
// i + k. One pass over the words from the top down: word i takes the words k
// positions below it, shifted into place, and those are still as the pass
// found them, since they lie below it. Spreading in place needs no second row;
// building one costs more in page faults alone than all the passes of a long
// row.
//
// With k = 64q + r, word i takes the top r bits of word i - q - 1 into its
// bottom and the rest of word i - q above them. For example k = 70 (q = 1,
// r = 6) on a row of n = 200 positions, words 0 to 3: word 3 takes bits 58..63
// of word 1 (positions 122..127) into its bits 0..5 (positions 192..197) and
// word 2 shifted up by 6 above them, and is then cut at n, so only its bits
// 0..7 stay; word 2 takes word 0 and word 1 the same way; word 1 (i = q) takes
// only word 0 shifted up by 6, sources 0..57 landing on 70..127; word 0 (i < q)
// takes nothing.
inline Spread spreadRow(BitRow& row, std::int64_t k) {
  const auto count = static_cast<std::ptrdiff_t>(row.count);
  if (k >= row.n || count == 0) return {false, false};  // no step, or no set bit to spread
  const auto q = static_cast<std::ptrdiff_t>(wordOf(k));
  const int r = bitOf(k);
  const auto last = static_cast<std::ptrdiff_t>(wordsFor(row.n)) - 1;             // the row's last word
  resizeWords(row, static_cast<std::size_t>(std::min(last + 1, count + q + 1)));  // the words a spread bit can reach
  Word* const words = row.words.get();
  Word reached = 0;  // every source bit that lands inside the row
  Word gained = 0;   // every landing bit that was clear
  const auto put = [&](std::ptrdiff_t i, Word up) {
    reached |= up;
    gained |= up & ~words[i];
    words[i] |= up;
  };
  // The source bits that land in word i > q; the shift by 63 - r and then 1
  // is a shift by 64 - r that stays defined for r = 0.
  const auto landing = [&](std::ptrdiff_t i) {
    return (words[i - q] << r) | ((words[i - q - 1] >> 1) >> (wordBits - 1 - r));
  };
  auto i = static_cast<std::ptrdiff_t>(row.count) - 1;
  if (i == last) {  // cut at n
    put(i, (i > q ? landing(i) : words[0] << r) & lowBits(bitOf(row.n - 1) + 1));
    --i;
  }
  for (; i > q; --i) put(i, landing(i));
  if (i == q) put(q, words[0] << r);
  assert(clearPastEnd(row));
  return {reached != 0, gained != 0};
}

// --- sweeps of several rounds ----------------------------------------------------
//
// A long row spread round by round costs a trip through memory for every
// round. A sweep runs several rounds in one trip from the bottom of the row
// up, a block of words at a time: each round in turn spreads the block while
// it is in the cache, and the scan of the newest round's row follows right
// behind. A round joins the sweep as soon as its shift is known, and that is
// early on most rows: after a round with shift k no closed run is shorter
// than 2k (leastAfter), so a run of exactly 2k found near the bottom settles
// the next shift. The new round then catches up on the words already swept.
//
// A sweep may also follow the reader, before the row is whole: it then spreads
// and scans each stretch of the row right after it is packed, while it is
// still in the cache. It starts with no round, only the scan of the row as
// read, whose least length is 1: a run of 1 settles the first round's shift.

// The words a sweep takes at a time: 16 KiB, which the first-level cache
// holds while every round of the sweep spreads them.
constexpr std::size_t sweepBlock = 2048;

// The most words under a block that a round with a shift below MAXN takes from.
constexpr std::size_t underMost = (MAXN - 1) / wordBits + 1;

// The most rounds of one sweep: shifts from 1 up, each at least twice the one
// before, all below MAXN.
constexpr std::size_t sweepRounds = std::bit_width(static_cast<unsigned>(MAXN - 1));

// The words under a block that all rounds of a sweep take from together: their
// shifts add up to less than 2 MAXN.
constexpr std::size_t underAll = 2 * MAXN / wordBits + sweepRounds;

// A round of a sweep: its shift k = 64q + r, and where in Sweeping::unders
// its q + 1 words under the block at hand lie, as the round found them (the
// round has spread them since).
struct Stage {
  std::ptrdiff_t q;
  int r;
  std::size_t under;
};

// Word i of a row, from `top` down to `bottom` (not included), takes word
// i - q shifted up by r, and the top r bits of word i - q - 1 below them. From
// the top down, each step reads only words below it that no step so far has
// written. The shift by 63 - r and then 1 is a shift by 64 - r that stays
// defined for r = 0. Not inlined: a 32-bit machine holds each word in two
// registers, and inside the sweep's large functions they ran out (ARMv7 took
// two more instructions a word).
[[gnu::noinline]] inline void spreadWordsPlain(Word* words, std::ptrdiff_t top, std::ptrdiff_t bottom, std::ptrdiff_t q,
                                               int r) {
  for (std::ptrdiff_t i = top; i > bottom; --i)
    words[i] |= (words[i - q] << r) | ((words[i - q - 1] >> 1) >> (wordBits - 1 - r));
}

#if defined(SPINDRA_AVX2)
// The same, four words at a time with SSE2: the steps of words i - 3 to i
// read words from i - q - 4 to i, all of them before any is written.
[[gnu::target("sse2")]] inline void spreadWordsSse2(Word* words, std::ptrdiff_t top, std::ptrdiff_t bottom,
                                                    std::ptrdiff_t q, int r) {
  const __m128i up = _mm_cvtsi32_si128(r);
  const __m128i down = _mm_cvtsi32_si128(wordBits - r);  // a shift by 64 clears a word
  std::ptrdiff_t i = top;
  for (; i - 3 > bottom; i -= 4) {
    Word* const at = words + i - 3;
    // What words at[0] to at[3] take from those q and q + 1 below them.
    const __m128i lower = _mm_or_si128(_mm_sll_epi64(loadTwo(at - q), up), _mm_srl_epi64(loadTwo(at - q - 1), down));
    const __m128i upper =
        _mm_or_si128(_mm_sll_epi64(loadTwo(at + 2 - q), up), _mm_srl_epi64(loadTwo(at + 1 - q), down));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm_or_si128(loadTwo(at), lower));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 2), _mm_or_si128(loadTwo(at + 2), upper));
  }
  spreadWordsPlain(words, i, bottom, q, r);
}
#endif

#if defined(SPINDRA_AVX2)
// The same, four words at a time: the steps of words i - 3 to i read words
// from i - q - 4 to i, all of them before any is written.
[[gnu::target("avx2")]] inline void spreadWordsAvx2(Word* words, std::ptrdiff_t top, std::ptrdiff_t bottom,
                                                    std::ptrdiff_t q, int r) {
  const __m128i up = _mm_cvtsi32_si128(r);
  const __m128i down = _mm_cvtsi32_si128(wordBits - r);  // a shift by 64 clears a word
  std::ptrdiff_t i = top;
  for (; i - 3 > bottom; i -= 4) {
    auto* const at = reinterpret_cast<__m256i*>(words + i - 3);
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i - 3 - q));
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i - 4 - q));
    const __m256i taken = _mm256_or_si256(_mm256_sll_epi64(high, up), _mm256_srl_epi64(low, down));
    _mm256_storeu_si256(at, _mm256_or_si256(_mm256_loadu_si256(at), taken));
  }
  spreadWordsPlain(words, i, bottom, q, r);
}

// The same, eight words at a time.
[[gnu::target("avx512f")]] inline void spreadWordsAvx512(Word* words, std::ptrdiff_t top, std::ptrdiff_t bottom,
                                                         std::ptrdiff_t q, int r) {
  const __m512i up = _mm512_set1_epi64(r);
  const __m512i down = _mm512_set1_epi64(wordBits - r);  // a shift by 64 clears a word
  std::ptrdiff_t i = top;
  for (; i - 7 > bottom; i -= 8) {
    Word* const at = words + i - 7;
    const __m512i high = _mm512_loadu_si512(words + i - 7 - q);
    const __m512i low = _mm512_loadu_si512(words + i - 8 - q);
    // The shifts in their zero-masking forms with every lane kept: g++ 12
    // takes the plain ones for a use of an uninitialized value.
    const __m512i taken = _mm512_maskz_sllv_epi64(0xFF, high, up) | _mm512_maskz_srlv_epi64(0xFF, low, down);
    _mm512_storeu_si512(at, _mm512_loadu_si512(at) | taken);
  }
  spreadWordsPlain(words, i, bottom, q, r);
}
#endif

#if defined(SPINDRA_NEON)
// The same, four words at a time with NEON: the steps of words i - 3 to i
// read words from i - q - 4 to i, all of them before any is written. A
// shift by a negative count is a shift right, and by 64 either way clears
// a word.
[[SPINDRA_NEON_TARGET]] inline void spreadWordsNeon(Word* words, std::ptrdiff_t top, std::ptrdiff_t bottom,
                                                    std::ptrdiff_t q, int r) {
  const int64x2_t up = vdupq_n_s64(r);
  const int64x2_t down = vdupq_n_s64(r - wordBits);
  std::ptrdiff_t i = top;
  for (; i - 3 > bottom; i -= 4) {
    Word* const at = words + i - 3;
    // What words at[0] to at[3] take from those q and q + 1 below them.
    const uint64x2_t lower = vorrq_u64(vshlq_u64(vld1q_u64(at - q), up), vshlq_u64(vld1q_u64(at - q - 1), down));
    const uint64x2_t upper = vorrq_u64(vshlq_u64(vld1q_u64(at + 2 - q), up), vshlq_u64(vld1q_u64(at + 1 - q), down));
    vst1q_u64(at, vorrq_u64(vld1q_u64(at), lower));
    vst1q_u64(at + 2, vorrq_u64(vld1q_u64(at + 2), upper));
  }
  spreadWordsPlain(words, i, bottom, q, r);
}
#endif

#if defined(SPINDRA_VSX)
// The same, four words at a time with VSX. A shift takes its count modulo
// 64: a shift down by 64 - r cannot clear a word, so whole words (r = 0, as
// every shift from 64 on is where the shifts double) go by a loop of their own.
inline void spreadWordsVsx(Word* words, std::ptrdiff_t top, std::ptrdiff_t bottom, std::ptrdiff_t q, int r) {
  const Words2 up = vec_splats(static_cast<unsigned long long>(r));
  const Words2 down = vec_splats(static_cast<unsigned long long>(wordBits - r));
  auto* const out = reinterpret_cast<unsigned long long*>(words);
  std::ptrdiff_t i = top;
  if (r == 0) {
    for (; i - 3 > bottom; i -= 4) {
      Word* const at = words + i - 3;
      const Words2 lower = loadTwo(at - q);  // what words at[0] to at[3] take from those q below them
      const Words2 upper = loadTwo(at + 2 - q);
      vec_xst(vec_or(loadTwo(at), lower), 0, out + (i - 3));
      vec_xst(vec_or(loadTwo(at + 2), upper), 0, out + (i - 1));
    }
  }
  for (; i - 3 > bottom; i -= 4) {
    Word* const at = words + i - 3;
    // What words at[0] to at[3] take from those q and q + 1 below them.
    const Words2 lower = vec_or(vec_sl(loadTwo(at - q), up), vec_sr(loadTwo(at - q - 1), down));
    const Words2 upper = vec_or(vec_sl(loadTwo(at + 2 - q), up), vec_sr(loadTwo(at + 1 - q), down));
    vec_xst(vec_or(loadTwo(at), lower), 0, out + (i - 3));
    vec_xst(vec_or(loadTwo(at + 2), upper), 0, out + (i - 1));
  }
  spreadWordsPlain(words, i, bottom, q, r);
}
#endif

#if defined(SPINDRA_VX)
// Stores v at p[0] and p[1].
[[SPINDRA_VX_TARGET]] inline void storeTwoVx(Word* p, WordsVx v) { __builtin_memcpy(p, &v, sizeof v); }

// The same, four words at a time with the vector facility. A shift takes its
// count modulo 64, so the one down by 64 - r goes in two steps, as in
// spreadWordsPlain.
[[SPINDRA_VX_TARGET]] inline void spreadWordsVx(Word* words, std::ptrdiff_t top, std::ptrdiff_t bottom,
                                                std::ptrdiff_t q, int r) {
  // Pointers, each to the lowest of the words it reads or writes, rather
  // than an index: the loads' and stores' displacements are then positive, as
  // this machine's take them. Neither is moved past the last step.
  std::ptrdiff_t i = top;
  if (i - 3 > bottom) {
    Word* at = words + i - 3;
    const Word* from = at - q - 1;
    for (;;) {
      // What words at[0] to at[3] take from those q and q + 1 below them, from[0] to from[4].
      const WordsVx lower = (loadTwoVx(from + 1) << r) | ((loadTwoVx(from) >> 1) >> (wordBits - 1 - r));
      const WordsVx upper = (loadTwoVx(from + 3) << r) | ((loadTwoVx(from + 2) >> 1) >> (wordBits - 1 - r));
      storeTwoVx(at, loadTwoVx(at) | lower);
      storeTwoVx(at + 2, loadTwoVx(at + 2) | upper);
      i -= 4;
      if (i - 3 <= bottom) break;
      at -= 4;
      from -= 4;
    }
  }
  spreadWordsPlain(words, i, bottom, q, r);
}
#endif

#if defined(SPINDRA_RVV)
// Stores v at p[0] to p[7].
[[SPINDRA_RVV_TARGET]] inline void storeEight(Word* p, WordsRvv v) { __builtin_memcpy(p, &v, sizeof v); }

// The same, eight words at a time with the vector extension: the steps of
// words i - 7 to i read words from i - q - 8 to i, all of them before any is
// written. A shift takes its count modulo 64, so the one down by 64 - r goes
// in two steps, as in spreadWordsPlain.
[[SPINDRA_RVV_TARGET]] inline void spreadWordsRvv(Word* words, std::ptrdiff_t top, std::ptrdiff_t bottom,
                                                  std::ptrdiff_t q, int r) {
  std::ptrdiff_t i = top;
  for (; i - 7 > bottom; i -= 8) {
    Word* const at = words + i - 7;
    const WordsRvv taken = (loadEight(at - q) << r) | ((loadEight(at - q - 1) >> 1) >> (wordBits - 1 - r));
    storeEight(at, loadEight(at) | taken);
  }
  spreadWordsPlain(words, i, bottom, q, r);
}
#endif

// Word i of a row, from `top` down to `bottom` (not included), takes word
// i - q shifted up by r, and the top r bits of word i - q - 1 below them:
// spreadWordsPlain in the widest form this machine has, the one place where
// that is chosen.
inline void spreadWords(Word* words, std::ptrdiff_t top, std::ptrdiff_t bottom, std::ptrdiff_t q, int r) {
#if defined(SPINDRA_AVX2)
  if (avx512Here) return spreadWordsAvx512(words, top, bottom, q, r);
  if (avx2Here) return spreadWordsAvx2(words, top, bottom, q, r);
  if (sse2Here) return spreadWordsSse2(words, top, bottom, q, r);
#endif
#if defined(SPINDRA_NEON)
  if (neonHere) return spreadWordsNeon(words, top, bottom, q, r);
#endif
#if defined(SPINDRA_VSX)
  if (vsxHere) return spreadWordsVsx(words, top, bottom, q, r);
#endif
#if defined(SPINDRA_VX)
  if (vxHere) return spreadWordsVx(words, top, bottom, q, r);
#endif
#if defined(SPINDRA_RVV)
  if (rvvHere) return spreadWordsRvv(words, top, bottom, q, r);
#endif
  spreadWordsPlain(words, top, bottom, q, r);
}

// Spreads words [from, to) of a row by the stage's shift: word i takes the
// words i - q - 1 and i - q as the round found them, from the block itself
// where they lie in it, which is spread from the top down so that they are
// still as found, and from `under` (the stage's words) where they lie under
// it. Leaves in `under` the words under `to`.
inline void spreadBlock(Word* words, std::ptrdiff_t from, std::ptrdiff_t to, const Stage& stage, Word* under) {
  const std::ptrdiff_t q = stage.q;
  const int r = stage.r;
  const std::ptrdiff_t base = from - q - 1;  // under[0] is word base
  const auto found = [&](std::ptrdiff_t j) { return j >= from ? words[j] : under[j - base]; };
  Word next[underMost];
  for (std::ptrdiff_t t = 0; t <= q; ++t) next[t] = found(to - q - 1 + t);
  const std::ptrdiff_t inside = std::min(to - 1, from + q);  // steps above it take their words from the block
  spreadWords(words, to - 1, inside, q, r);
  for (std::ptrdiff_t i = inside; i >= from; --i)  // word i - q - 1 lies under the block
    words[i] |= (found(i - q) << r) | ((under[i - from] >> 1) >> (wordBits - 1 - r));
  std::copy(next, next + q + 1, under);
}

#if defined(SPINDRA_AVX2)
// Spreads words [from, to) of a row by `count` stages whose shifts are all
// below 64 (q = 0), in one pass from the bottom up: eight words at a time go
// through every stage in registers, and are loaded and stored once. A stage
// takes each word and the one below it as it found them: the word below is
// the last lane of the eight before, or for the first its word under the
// block, which it leaves as the word under `to`. to - from is a multiple of 8.
[[gnu::target("avx512f")]] inline void spreadShortAvx512(Word* words, std::ptrdiff_t from, std::ptrdiff_t to,
                                                         const Stage* stages, Word* unders, std::int64_t count) {
  __m512i below[sweepRounds];  // each stage's eight words before those at hand, as it found them
  __m512i up[sweepRounds];
  __m512i down[sweepRounds];
  for (std::int64_t s = 0; s < count; ++s) {
    below[s] = _mm512_set1_epi64(static_cast<std::int64_t>(unders[stages[s].under]));
    up[s] = _mm512_set1_epi64(stages[s].r);
    down[s] = _mm512_set1_epi64(wordBits - stages[s].r);  // a shift by 64 clears a word
  }
  for (std::ptrdiff_t i = from; i < to; i += 8) {
    __m512i x = _mm512_loadu_si512(words + i);
    for (std::int64_t s = 0; s < count; ++s) {
      // The zero-masking forms with every lane kept: g++ 12 takes the plain
      // ones for a use of an uninitialized value.
      const __m512i lower = _mm512_maskz_alignr_epi64(0xFF, x, below[s], 7);  // word j - 1 in lane j
      below[s] = x;
      x |= _mm512_maskz_sllv_epi64(0xFF, x, up[s]) | _mm512_maskz_srlv_epi64(0xFF, lower, down[s]);
    }
    _mm512_storeu_si512(words + i, x);
  }
  for (std::int64_t s = 0; s < count; ++s) unders[stages[s].under] = static_cast<Word>(below[s][7]);
}
#endif

#if defined(SPINDRA_AVX2)
// spreadShortAvx512 with AVX2, four words at a time, for `count` stages: word
// j - 1 comes into lane j by turning the four words round by one lane and
// taking lane 0 from the four before, turned the same way. to - from is a
// multiple of 4.
template <int count>
[[gnu::target("avx2")]] inline void spreadShortAvx2(Word* words, std::ptrdiff_t from, std::ptrdiff_t to,
                                                    const Stage* stages, Word* unders) {
  __m256i below[count];  // each stage's four words before those at hand as it found them, turned: word 3 in lane 0
  __m128i up[count];
  __m128i down[count];
  for (int s = 0; s < count; ++s) {
    below[s] = _mm256_set1_epi64x(static_cast<std::int64_t>(unders[stages[s].under]));
    up[s] = _mm_cvtsi32_si128(stages[s].r);
    down[s] = _mm_cvtsi32_si128(wordBits - stages[s].r);  // a shift by 64 clears a word
  }
  for (std::ptrdiff_t i = from; i < to; i += 4) {
    auto* const at = reinterpret_cast<__m256i*>(words + i);
    __m256i x = _mm256_loadu_si256(at);
    for (int s = 0; s < count; ++s) {
      const __m256i turned = _mm256_permute4x64_epi64(x, 0x93);          // words 3, 0, 1, 2
      const __m256i lower = _mm256_blend_epi32(turned, below[s], 0x03);  // word j - 1 in lane j
      below[s] = turned;
      x = _mm256_or_si256(x, _mm256_or_si256(_mm256_sll_epi64(x, up[s]), _mm256_srl_epi64(lower, down[s])));
    }
    _mm256_storeu_si256(at, x);
  }
  for (int s = 0; s < count; ++s) {
    Word turned[4];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(turned), below[s]);
    unders[stages[s].under] = turned[0];
  }
}
#endif

#if defined(SPINDRA_NEON)
// spreadShortAvx512 with NEON, four words at a time, for `count` stages: each
// stage's words below and shifts stay in registers. to - from is a multiple
// of 4. A shift by a negative count is a shift right, and by 64 clears a word.
template <int count>
[[SPINDRA_NEON_TARGET]] inline void spreadShortNeon(Word* words, std::ptrdiff_t from, std::ptrdiff_t to,
                                                    const Stage* stages, Word* unders) {
  uint64x2_t below[count];  // each stage's two words before those at hand, as it found them
  int64x2_t up[count];
  int64x2_t down[count];
  for (int s = 0; s < count; ++s) {
    below[s] = vdupq_n_u64(unders[stages[s].under]);
    up[s] = vdupq_n_s64(stages[s].r);
    down[s] = vdupq_n_s64(stages[s].r - wordBits);
  }
  for (std::ptrdiff_t i = from; i < to; i += 4) {
    uint64x2_t low = vld1q_u64(words + i);
    uint64x2_t high = vld1q_u64(words + i + 2);
    for (int s = 0; s < count; ++s) {
      const uint64x2_t underLow = vextq_u64(below[s], low, 1);  // word j - 1 in lane j
      const uint64x2_t underHigh = vextq_u64(low, high, 1);
      below[s] = high;
      low = vorrq_u64(low, vorrq_u64(vshlq_u64(low, up[s]), vshlq_u64(underLow, down[s])));
      high = vorrq_u64(high, vorrq_u64(vshlq_u64(high, up[s]), vshlq_u64(underHigh, down[s])));
    }
    vst1q_u64(words + i, low);
    vst1q_u64(words + i + 2, high);
  }
  for (int s = 0; s < count; ++s) unders[stages[s].under] = vgetq_lane_u64(below[s], 1);
}
#endif

#if defined(SPINDRA_VSX)
// spreadShortNeon with VSX, eight words at a time: the same steps, with the
// shifts' counts below 64. to - from is a multiple of 8.
template <int count>
inline void spreadShortVsx(Word* words, std::ptrdiff_t from, std::ptrdiff_t to, const Stage* stages, Word* unders) {
  Words2 below[count];  // each stage's two words before those at hand, as it found them
  Words2 up[count];
  Words2 down[count];
  for (int s = 0; s < count; ++s) {
    below[s] = vec_splats(static_cast<unsigned long long>(unders[stages[s].under]));
    up[s] = vec_splats(static_cast<unsigned long long>(stages[s].r));
    down[s] = vec_splats(static_cast<unsigned long long>(wordBits - stages[s].r));
  }
  auto* const out = reinterpret_cast<unsigned long long*>(words);
  const Words2 between = {1, 2};  // word 1 of the first and word 0 of the second
  for (std::ptrdiff_t i = from; i < to; i += 8) {
    Words2 x[4];
    for (int j = 0; j < 4; ++j) x[j] = loadTwo(words + i + 2 * j);
    for (int s = 0; s < count; ++s) {
      Words2 under[4];  // word j - 1 in lane j
      under[0] = __builtin_shuffle(below[s], x[0], between);
      for (int j = 1; j < 4; ++j) under[j] = __builtin_shuffle(x[j - 1], x[j], between);
      below[s] = x[3];
      for (int j = 0; j < 4; ++j) x[j] = vec_or(x[j], vec_or(vec_sl(x[j], up[s]), vec_sr(under[j], down[s])));
    }
    for (int j = 0; j < 4; ++j) vec_xst(x[j], 0, out + i + 2 * j);
  }
  for (int s = 0; s < count; ++s) unders[stages[s].under] = below[s][1];
}
#endif

#if defined(SPINDRA_VX)
// spreadShortNeon with the vector facility: the same steps, with the shifts'
// counts below 64.
template <int count>
[[SPINDRA_VX_TARGET]] inline void spreadShortVx(Word* words, std::ptrdiff_t from, std::ptrdiff_t to,
                                                const Stage* stages, Word* unders) {
  WordsVx below[count];  // each stage's two words before those at hand, as it found them
  int up[count];
  for (int s = 0; s < count; ++s) {
    below[s] = WordsVx{unders[stages[s].under], unders[stages[s].under]};
    up[s] = stages[s].r;
  }
  const WordsVx between = {1, 2};  // word 1 of the first and word 0 of the second
  for (std::ptrdiff_t i = from; i < to; i += 4) {
    WordsVx low = loadTwoVx(words + i);
    WordsVx high = loadTwoVx(words + i + 2);
    for (int s = 0; s < count; ++s) {
      const WordsVx underLow = __builtin_shuffle(below[s], low, between);  // word j - 1 in lane j
      const WordsVx underHigh = __builtin_shuffle(low, high, between);
      below[s] = high;
      low |= (low << up[s]) | (underLow >> (wordBits - up[s]));
      high |= (high << up[s]) | (underHigh >> (wordBits - up[s]));
    }
    storeTwoVx(words + i, low);
    storeTwoVx(words + i + 2, high);
  }
  for (int s = 0; s < count; ++s) unders[stages[s].under] = below[s][1];
}
#endif

#if defined(SPINDRA_RVV)
// spreadShortAvx512 with the vector extension, eight words at a time: word
// j - 1 comes into lane j with the word before those at hand in lane 0, and
// each stage keeps of the eight only the last, as it found it. to - from is
// a multiple of 8.
[[SPINDRA_RVV_TARGET]] inline void spreadShortRvv(Word* words, std::ptrdiff_t from, std::ptrdiff_t to,
                                                  const Stage* stages, Word* unders, std::int64_t count) {
  Word below[sweepRounds];  // each stage's word before those at hand, as it found it
  for (std::int64_t s = 0; s < count; ++s) below[s] = unders[stages[s].under];
  for (std::ptrdiff_t i = from; i < to; i += 8) {
    WordsRvv x = loadEight(words + i);
    for (std::int64_t s = 0; s < count; ++s) {
      const WordsRvv under = __builtin_shufflevector(WordsRvv{} + below[s], x, 0, 8, 9, 10, 11, 12, 13, 14);
      below[s] = x[7];
      x |= (x << stages[s].r) | (under >> (wordBits - stages[s].r));
    }
    storeEight(words + i, x);
  }
  for (std::int64_t s = 0; s < count; ++s) unders[stages[s].under] = below[s];
}
#endif

// The most stages that the AVX2, NEON and VSX forms keep in registers: the
// rounds give no more than six with shifts below 64 (1, 2, 4, 8, 16, 32).
// ARMv7 has half of AArch64's 32 vector registers, and spills some of them:
// six still take fewer instructions there than four (1.27 against 1.30 a byte).
constexpr int shortStagesMost = 6;

// --- the rounds below 64 at once -------------------------------------------------
//
// A sweep's rounds with shifts below 64 have shifts 1, 2, 4 ... w / 2 on most
// rows whose runs are short and random. Their shifts add up to every count
// from 0 to w - 1, so together they set each position with a set one among
// the w - 1 below it or at it. Taken as lanes of w bits, the row they leave
// has in each lane every bit from its lowest set one up (x | -x), and every
// bit under the place of the highest set one of the lane below (a set bit h
// of the lane below reaches bits 0 to h - 1 of this one); nothing further
// below reaches it. Six such rounds (w = 64) take a few operations a word
// where their stages take some thirty; four and five (w = 16 and 32) are
// taken so where AVX2 or AVX-512 has lanes of that width. Where the next
// rounds have shifts 64 and 128 (w = 128 and 256: m = 2 and 4 words), a word
// j is all ones where words j - m + 1 to j - 1 have a set one, and takes
// from word j - m what its highest set one reaches: AVX2 and AVX-512 take
// seven and eight rounds so.

// The bits of x under the place of its highest set bit: for x = 0x30 (bits
// 4 and 5), 0x1F; none for x = 0.
inline Word underHighest(Word x) { return x == 0 ? 0 : (allOnes >> std::countl_zero(x)) >> 1; }

// Word j after the rounds with shifts 1, 2, 4 ... width / 2 (width 16, 32
// or 64), from word j (x) and word j - 1 (below) as they found them: within
// x, shifted up by 0 to width - 1 (for 64, every bit from its lowest set one
// up), and from below, what the top `width` bits reach.
inline Word doubledWord(Word x, Word below, int width) {
  if (width == wordBits) {
    x |= Word{0} - x;
  } else {
    for (int shift = 1; shift < width; shift *= 2) x |= x << shift;
  }
  return x | underHighest(below >> (wordBits - width));
}

// Word j after the rounds with shifts 1 to 32m (m = 2 or 4 words), from word
// j (x), the words j - m + 1 to j - 1 or-ed together (near) and word j - m
// (far) as they found them: within x, every bit from its lowest set one up;
// all of it where a near word has a set one (it reaches 1 to 64m - 1 up);
// and what the highest set one of the far word reaches.
inline Word doubledWideWord(Word x, Word near, Word far) {
  return x | (Word{0} - x) | (near != 0 ? allOnes : underHighest(far));
}

#if defined(SPINDRA_AVX2)
// Lanes of 16, 32 or 64 bits: x - y in each, and x shifted down by `shift`.
template <int lane>
[[gnu::target("avx2")]] inline __m256i laneSub(__m256i x, __m256i y) {
  if constexpr (lane == 16) return _mm256_sub_epi16(x, y);
  if constexpr (lane == 32) return _mm256_sub_epi32(x, y);
  if constexpr (lane == 64) return _mm256_sub_epi64(x, y);
}
template <int lane>
[[gnu::target("avx2")]] inline __m256i laneDown(__m256i x, int shift) {
  if constexpr (lane == 16) return _mm256_srli_epi16(x, shift);
  if constexpr (lane == 32) return _mm256_srli_epi32(x, shift);
  if constexpr (lane == 64) return _mm256_srli_epi64(x, shift);
}

// Words [from, to) after the rounds with shifts 1 to lane / 2, four at a time
// with AVX2, from the top down and as far as whole steps go above the words
// that they read under them (for lanes of 128 and 256 bits, 2 and 4 words:
// the lanes are then the words, and the lane below the far word); returns
// the lowest word done. Each lane's lane below it is loaded from lane / 8
// bytes lower. The bits under the place of its highest set one are those of
// it shifted down by one with every bit below a set one set.
template <int lane>
[[gnu::target("avx2")]] inline std::ptrdiff_t spreadDoublingAvx2(Word* words, std::ptrdiff_t from, std::ptrdiff_t to) {
  constexpr int width = std::min(lane, wordBits);
  constexpr std::ptrdiff_t reach = std::max(1, lane / wordBits);  // the words under a word that it reads
  std::ptrdiff_t i = to;
  for (; i - 4 - reach >= from; i -= 4) {
    auto* const at = reinterpret_cast<__m256i*>(words + i - 4);
    const __m256i x = _mm256_loadu_si256(at);
    const auto* const lanesBelow = reinterpret_cast<const __m256i*>(reinterpret_cast<const char*>(at) - lane / 8);
    __m256i under = laneDown<width>(_mm256_loadu_si256(lanesBelow), 1);
    for (int shift = 1; shift < width; shift *= 2) under = _mm256_or_si256(under, laneDown<width>(under, shift));
    if constexpr (reach > 1) {
      __m256i near = _mm256_setzero_si256();
      for (std::ptrdiff_t m = 1; m < reach; ++m)
        near = _mm256_or_si256(near, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i - 4 - m)));
      const __m256i clear = _mm256_cmpeq_epi64(near, _mm256_setzero_si256());
      under = _mm256_or_si256(under, _mm256_xor_si256(clear, _mm256_set1_epi64x(-1)));
    }
    const __m256i fromLowest = _mm256_or_si256(x, laneSub<width>(_mm256_setzero_si256(), x));
    _mm256_storeu_si256(at, _mm256_or_si256(fromLowest, under));
  }
  return i;
}

// The same, eight words at a time with AVX-512: for lanes of 32 bits and
// more, the bits under the highest set one are all ones shifted down by the
// leading zeros of the lane shifted down by one (by the lane's width, none).
template <int lane>
[[gnu::target("avx512f,avx512bw,avx512cd")]] inline std::ptrdiff_t spreadDoublingAvx512(Word* words,
                                                                                        std::ptrdiff_t from,
                                                                                        std::ptrdiff_t to) {
  constexpr std::ptrdiff_t reach = std::max(1, lane / wordBits);  // the words under a word that it reads
  const __m512i ones = _mm512_set1_epi64(-1);
  std::ptrdiff_t i = to;
  for (; i - 8 - reach >= from; i -= 8) {
    const __m512i x = _mm512_loadu_si512(words + i - 8);
    const __m512i below = _mm512_loadu_si512(reinterpret_cast<const char*>(words + i - 8) - lane / 8);
    // The zero-masking forms with every lane kept: g++ 12 takes the plain
    // ones for a use of an uninitialized value.
    __m512i under;
    __m512i fromLowest;
    if constexpr (lane == 16) {
      under = _mm512_maskz_srli_epi16(~0U, below, 1);
      for (int shift = 1; shift < lane; shift *= 2) under |= _mm512_maskz_srli_epi16(~0U, under, shift);
      fromLowest = x | _mm512_maskz_sub_epi16(~0U, _mm512_setzero_si512(), x);
    } else if constexpr (lane == 32) {
      under = _mm512_maskz_srlv_epi32(0xFFFF, ones,
                                      _mm512_maskz_lzcnt_epi32(0xFFFF, _mm512_maskz_srli_epi32(0xFFFF, below, 1)));
      fromLowest = x | _mm512_maskz_sub_epi32(0xFFFF, _mm512_setzero_si512(), x);
    } else {
      under =
          _mm512_maskz_srlv_epi64(0xFF, ones, _mm512_maskz_lzcnt_epi64(0xFF, _mm512_maskz_srli_epi64(0xFF, below, 1)));
      fromLowest = x | (_mm512_setzero_si512() - x);
      if constexpr (reach > 1) {
        __m512i near = _mm512_setzero_si512();
        for (std::ptrdiff_t m = 1; m < reach; ++m) near |= _mm512_loadu_si512(words + i - 8 - m);
        under = _mm512_mask_mov_epi64(under, _mm512_test_epi64_mask(near, near), ones);
      }
    }
    _mm512_storeu_si512(words + i - 8, fromLowest | under);
  }
  return i;
}
#endif

#if defined(SPINDRA_AVX2)
// spreadDoublingAvx2 for six rounds (lanes of 64 bits), two words at a time
// with SSE2.
[[gnu::target("sse2")]] inline std::ptrdiff_t spreadDoublingSse2(Word* words, std::ptrdiff_t from, std::ptrdiff_t to) {
  std::ptrdiff_t i = to;
  for (; i - 2 > from; i -= 2) {
    Word* const at = words + i - 2;
    const __m128i x = loadTwo(at);
    __m128i under = _mm_srli_epi64(loadTwo(at - 1), 1);
    for (const int shift : {1, 2, 4, 8, 16, 32}) under = _mm_or_si128(under, _mm_srli_epi64(under, shift));
    const __m128i fromLowest = _mm_or_si128(x, _mm_sub_epi64(_mm_setzero_si128(), x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm_or_si128(fromLowest, under));
  }
  return i;
}
#endif

#if defined(SPINDRA_NEON)
// The same with NEON, whose shifts by a constant take it as written.
[[SPINDRA_NEON_TARGET]] inline std::ptrdiff_t spreadDoublingNeon(Word* words, std::ptrdiff_t from, std::ptrdiff_t to) {
  std::ptrdiff_t i = to;
  for (; i - 2 > from; i -= 2) {
    Word* const at = words + i - 2;
    const uint64x2_t x = vld1q_u64(at);
    uint64x2_t under = vshrq_n_u64(vld1q_u64(at - 1), 1);
    under = vorrq_u64(under, vshrq_n_u64(under, 1));
    under = vorrq_u64(under, vshrq_n_u64(under, 2));
    under = vorrq_u64(under, vshrq_n_u64(under, 4));
    under = vorrq_u64(under, vshrq_n_u64(under, 8));
    under = vorrq_u64(under, vshrq_n_u64(under, 16));
    under = vorrq_u64(under, vshrq_n_u64(under, 32));
    vst1q_u64(at, vorrq_u64(vorrq_u64(x, vsubq_u64(vdupq_n_u64(0), x)), under));
  }
  return i;
}
#endif

#if defined(SPINDRA_RVV)
// The same with the vector extension, eight words at a time.
[[SPINDRA_RVV_TARGET]] inline std::ptrdiff_t spreadDoublingRvv(Word* words, std::ptrdiff_t from, std::ptrdiff_t to) {
  std::ptrdiff_t i = to;
  for (; i - 8 > from; i -= 8) {
    const WordsRvv x = loadEight(words + i - 8);
    WordsRvv under = loadEight(words + i - 9) >> 1;
    for (const int shift : {1, 2, 4, 8, 16, 32}) under |= under >> shift;
    storeEight(words + i - 8, x | (WordsRvv{} - x) | under);
  }
  return i;
}
#endif

// The most stages that double from 1 which spreadDoubling can take: shifts 1
// to 128.
constexpr std::int64_t doublingAll = 8;

// How many of a sweep's first `count` stages have shifts 1, 2, 4 ... in turn
// (up to doublingAll).
inline std::int64_t doublingFromOne(const Stage* stages, std::int64_t count) {
  std::int64_t s = 0;
  while (s < std::min(count, doublingAll) && stages[s].q * wordBits + stages[s].r == std::int64_t{1} << s) ++s;
  return s;
}

// The fewest such stages that spreadDoubling takes on this machine: six, or
// four where AVX2 or AVX-512 has lanes of 16 and 32 bits.
inline std::int64_t doublingLeast() {
#if defined(SPINDRA_AVX2)
  if (avx2Here || avx512Here) return 4;
#endif
  return shortStagesMost;
}

// The most that it takes: eight (shifts up to 128) where AVX2 or AVX-512 has
// a form for them, else six.
inline std::int64_t doublingMost() {
#if defined(SPINDRA_AVX2)
  if (avx2Here || avx512Here) return doublingAll;
#endif
  return shortStagesMost;
}

// The fewest words of a block on which spreadDoubling takes seven or eight
// stages: their words under the block's end come from the block's own.
constexpr std::ptrdiff_t doublingWideBlock = 8;

// Spreads words [from, to) of a row by the first `count` stages of a sweep,
// whose shifts are 1, 2, 4 ... (count 4 to 8; past 6 only on a block of
// doublingWideBlock words or more), at once, with the widest form this
// machine has of it: the one place where that is chosen. Leaves each stage's
// words under `to` as that stage found them, worked out before the block
// changes: for the stages below 64 from the block's two top words alone
// (nothing below them reaches the top one), for those of 64 and 128 from
// the words that the stages before them leave there.
inline void spreadDoubling(Word* words, std::ptrdiff_t from, std::ptrdiff_t to, const Stage* stages, Word* unders,
                           std::int64_t count) {
  assert(count >= 4 && count <= doublingAll && doublingFromOne(stages, count) == count);
  assert(count <= shortStagesMost || to - from >= doublingWideBlock);
  const Word under = unders[stages[0].under];
  Word found[6 + 2 + 3];  // each stage's words under `to`, as it will find them, one after another
  Word low = to - 2 >= from ? words[to - 2] : under;
  Word high = words[to - 1];
  for (std::int64_t s = 0; s < std::min<std::int64_t>(count, shortStagesMost); ++s) {
    found[s] = high;
    const int r = stages[s].r;
    high |= (high << r) | (low >> (wordBits - r));
    low |= low << r;
  }
  if (count > shortStagesMost) {  // the round of 64 finds words to - 2 and to - 1 as the six before it leave them
    found[6] = doubledWord(words[to - 2], words[to - 3], wordBits);
    found[7] = high;
  }
  if (count > shortStagesMost + 1) {  // the round of 128, words to - 3 to to - 1 as the seven leave them
    for (std::ptrdiff_t t = 0; t < 3; ++t) {
      const std::ptrdiff_t j = to - 3 + t;
      found[8 + t] = doubledWideWord(words[j], words[j - 1], words[j - 2]);
    }
  }
  const int width = 1 << count;
  std::ptrdiff_t done = to;  // words [done, to) are spread
#if defined(SPINDRA_AVX2)
  if (avx512Here) {
    done = width == 16    ? spreadDoublingAvx512<16>(words, from, to)
           : width == 32  ? spreadDoublingAvx512<32>(words, from, to)
           : width == 64  ? spreadDoublingAvx512<64>(words, from, to)
           : width == 128 ? spreadDoublingAvx512<128>(words, from, to)
                          : spreadDoublingAvx512<256>(words, from, to);
  } else if (avx2Here) {
    done = width == 16    ? spreadDoublingAvx2<16>(words, from, to)
           : width == 32  ? spreadDoublingAvx2<32>(words, from, to)
           : width == 64  ? spreadDoublingAvx2<64>(words, from, to)
           : width == 128 ? spreadDoublingAvx2<128>(words, from, to)
                          : spreadDoublingAvx2<256>(words, from, to);
  } else if (sse2Here && width == wordBits) {
    done = spreadDoublingSse2(words, from, to);
  }
#endif
#if defined(SPINDRA_NEON)
  if (neonHere && width == wordBits) done = spreadDoublingNeon(words, from, to);
#endif
#if defined(SPINDRA_RVV)
  if (rvvHere && width == wordBits) done = spreadDoublingRvv(words, from, to);
#endif
  if (width == wordBits) {  // the width named, so that the word's own shifts go
    for (std::ptrdiff_t j = done - 1; j > from; --j) words[j] = doubledWord(words[j], words[j - 1], wordBits);
    words[from] = doubledWord(words[from], under, wordBits);
  } else if (width < wordBits) {
    for (std::ptrdiff_t j = done - 1; j > from; --j) words[j] = doubledWord(words[j], words[j - 1], width);
    words[from] = doubledWord(words[from], under, width);
  } else {
    const std::ptrdiff_t far = width / wordBits;  // the word under word j that its result takes from: j - far
    for (std::ptrdiff_t j = done - 1; j >= from + far; --j) {
      Word near = 0;
      for (std::ptrdiff_t m = 1; m < far; ++m) near |= words[j - m];
      words[j] = doubledWideWord(words[j], near, words[j - far]);
    }
    // The words under these lie under the block, where only each round's
    // words as it found them are kept: they go through the rounds one by one.
    for (std::int64_t s = 0; s < count; ++s) spreadBlock(words, from, from + far, stages[s], unders + stages[s].under);
  }
  for (std::int64_t s = 0, at = 0; s < count; at += stages[s].q + 1, ++s)
    std::copy(found + at, found + at + stages[s].q + 1, unders + stages[s].under);
}

// Calls form(std::integral_constant<int, c>{}) for c = count, in 1 to `most`
// (at most 6): for forms that keep each stage in registers of its own.
template <int most, typename Form>
inline void withStages(std::int64_t count, Form form) {
  static_assert(most >= 1 && most <= 6);
  switch (std::min<std::int64_t>(count, most)) {
    case 1:
      return form(std::integral_constant<int, 1>{});
    case 2:
      return form(std::integral_constant<int, std::min(2, most)>{});
    case 3:
      return form(std::integral_constant<int, std::min(3, most)>{});
    case 4:
      return form(std::integral_constant<int, std::min(4, most)>{});
    case 5:
      return form(std::integral_constant<int, std::min(5, most)>{});
    default:
      return form(std::integral_constant<int, most>{});
  }
}

// Spreads words [from, to) of a row by the first stages of a sweep (of
// `count`) together, with the widest form this machine has of it: the one
// place where that is chosen. Takes those whose shifts are below 64 (q = 0),
// at once where they double from 1, with those of 64 and 128 that follow
// where the machine takes them so. Returns the stages it took, none where
// the machine has no such form or the block is too short; those it took, it
// took over the whole block.
inline std::int64_t spreadShort([[maybe_unused]] Word* words, [[maybe_unused]] std::ptrdiff_t from,
                                [[maybe_unused]] std::ptrdiff_t to, [[maybe_unused]] const Stage* stages,
                                [[maybe_unused]] Word* unders, std::int64_t count) {
  std::int64_t shortest = 0;
  while (shortest < count && stages[shortest].q == 0) ++shortest;
  if (shortest == 0) return 0;
  const std::int64_t most = to - from >= doublingWideBlock ? doublingMost() : shortStagesMost;
  const std::int64_t doubling = std::min(doublingFromOne(stages, count), most);
  if (doubling >= doublingLeast() && doubling >= shortest) {
    spreadDoubling(words, from, to, stages, unders, doubling);
    return doubling;
  }
  std::int64_t taken = 0;
  std::ptrdiff_t whole = from;  // words [from, whole) were taken by the form
#if defined(SPINDRA_AVX2)
  if (avx512Here && to - from >= 8) {
    whole = from + (to - from) / 8 * 8;
    taken = shortest;
    spreadShortAvx512(words, from, whole, stages, unders, taken);
  } else if (avx2Here && to - from >= 4) {
    whole = from + (to - from) / 4 * 4;
    taken = std::min<std::int64_t>(shortest, shortStagesMost);
    withStages<shortStagesMost>(
        taken, [&](auto n) { spreadShortAvx2<decltype(n)::value>(words, from, whole, stages, unders); });
  }
#endif
#if defined(SPINDRA_NEON)
  if (neonHere && to - from >= 4) {
    whole = from + (to - from) / 4 * 4;
    taken = std::min<std::int64_t>(shortest, shortStagesMost);
    withStages<shortStagesMost>(
        taken, [&](auto n) { spreadShortNeon<decltype(n)::value>(words, from, whole, stages, unders); });
  }
#endif
#if defined(SPINDRA_RVV)
  if (rvvHere && to - from >= 8) {
    whole = from + (to - from) / 8 * 8;
    taken = shortest;
    spreadShortRvv(words, from, whole, stages, unders, taken);
  }
#endif
#if defined(SPINDRA_VX)
  if (vxHere && to - from >= 4) {
    whole = from + (to - from) / 4 * 4;
    taken = std::min<std::int64_t>(shortest, shortStagesMost);
    withStages<shortStagesMost>(taken,
                                [&](auto n) { spreadShortVx<decltype(n)::value>(words, from, whole, stages, unders); });
  }
#endif
#if defined(SPINDRA_VSX)
  if (vsxHere && to - from >= 8) {
    whole = from + (to - from) / 8 * 8;
    taken = std::min<std::int64_t>(shortest, shortStagesMost);
    withStages<shortStagesMost>(
        taken, [&](auto n) { spreadShortVsx<decltype(n)::value>(words, from, whole, stages, unders); });
  }
#endif
  for (std::int64_t s = 0; s < taken; ++s) spreadBlock(words, whole, to, stages[s], unders + stages[s].under);
  return taken;
}

// Spreads words [from, to) of a row by every stage of a sweep, in turn; the
// first stages, whose shifts are below 64 (and 64 and 128 after them),
// together where the machine has a form for that.
inline void spreadStages(Word* words, std::ptrdiff_t from, std::ptrdiff_t to, const Stage* stages, Word* unders,
                         std::int64_t count) {
  for (std::int64_t s = spreadShort(words, from, to, stages, unders, count); s < count; ++s)
    spreadBlock(words, from, to, stages[s], unders + stages[s].under);
}

// --- rows that are nearly all ones ------------------------------------------------
//
// On many rows the rounds that the reader settles leave the row all ones but
// for a few gaps, and the next shift shows only at its end: the round after
// the reader would go over the whole row again, a trip through memory for
// the few words it can change. The scan that follows a sweep notes the words
// it leaves not all ones, and a round that has that record spreads and scans
// those words alone.

// Runs the round with shift k (below MAXN) on a row that is all ones but for
// the words of a whole record (Unfilled), the only ones it can change: from
// the top down, so that each takes the words below it as the round found
// them.
// Keeps the record whole for the row it leaves, without the words it
// filled, and returns the shortest closed run of that row (capped at MAXN):
// the scan takes the recorded words, and of the all-ones words between them
// the first, where a run may start.
inline std::int64_t spreadUnfilled(BitRow& row, Unfilled& unfilled, std::int64_t k) {
  assert(unfilled.whole && unfilled.count <= unfilledMost && row.count == wordsFor(row.n) && k < MAXN);
  const auto q = static_cast<std::ptrdiff_t>(wordOf(k));
  const int r = bitOf(k);
  Word* const words = row.words.get();
  for (std::size_t j = unfilled.count; j-- > 0;) {
    const auto i = static_cast<std::ptrdiff_t>(unfilled.at[j]);
    const Word high = i - q >= 0 ? words[i - q] : 0;
    const Word low = i - q - 1 >= 0 ? words[i - q - 1] : 0;
    words[i] |= (high << r) | ((low >> 1) >> (wordBits - 1 - r));
  }
  const auto last = static_cast<std::ptrdiff_t>(wordsFor(row.n)) - 1;
  words[last] &= lowBits(bitOf(row.n - 1) + 1);  // cut at n
  const Word pastEnd = ~lowBits(bitOf(row.n - 1) + 1);
  const auto wordAt = [&](std::ptrdiff_t j) {  // past the end counts as set, so that a run that reaches it stays open
    return j > last ? allOnes : j == last ? words[j] | pastEnd : words[j];
  };
  const auto take = [&](Scanning& scan, std::ptrdiff_t j) {
    scanWord(scan, static_cast<std::size_t>(j), j > 0 ? wordAt(j - 1) : 0, wordAt(j), wordAt(j + 1));
  };
  const std::int64_t atLeast = leastAfter(k);
  Scanning scan;
  std::ptrdiff_t next = 0;  // the lowest word that the scan has not taken
  std::size_t kept = 0;
  for (std::size_t j = 0; j < unfilled.count; ++j) {
    const auto i = static_cast<std::ptrdiff_t>(unfilled.at[j]);
    if (wordAt(i) == allOnes) continue;
    unfilled.at[kept++] = static_cast<std::size_t>(i);
    if (atLeast < MAXN && scan.k > atLeast) {
      if (i > next) take(scan, next);
      take(scan, i);
      next = i + 1;
    }
  }
  unfilled.count = kept;
  return atLeast < MAXN ? scan.k : MAXN;
}

// What one sweep did: the rounds it ran, and the shortest closed run of the
// row it left (capped at MAXN).
struct Sweep {
  std::int64_t rounds;
  std::int64_t k;
};

// A sweep in progress over a row, whole or still being read: its rounds, how
// far it has spread them, and how far the scan of the newest round's row has
// got. Words [0, swept) are spread by every round so far.
struct Sweeping {
  Stage stages[sweepRounds];
  Word unders[underAll];  // each round's words under the block, one after another
  std::size_t underUsed = 0;
  std::int64_t rounds = 0;
  std::ptrdiff_t above = 0;  // the words past those held that the rounds can have set: the sum of their q + 1
  std::ptrdiff_t swept = 0;
  Scanning scan;  // of the newest round's row, over words [0, scanned)
  std::ptrdiff_t scanned = 0;
  std::int64_t atLeast = 1;  // no closed run of the newest round's row is shorter
  bool joins = true;         // whether a round joins once its shift is known, or the sweep only scans
  std::size_t block = sweepBlock;
  Unfilled* unfilled = nullptr;  // where the scan notes the words it takes, if anywhere
};

// Starts the scan of the newest round's row over, from its first word.
inline void restartScan(Sweeping& sweep) {
  sweep.scan = {};
  sweep.scan.unfilled = sweep.unfilled;
  if (sweep.unfilled != nullptr) sweep.unfilled->count = 0;
  sweep.scanned = 0;
}

// Joins a round with shift k, the shortest closed run of the newest round's
// row (below MAXN and n), to the sweep; it catches up on the words already
// swept. Returns false, and joins nothing, where the sweep has no room left
// for the round: that holds only if a shift were ever less than twice the
// one before, and then the round is the next sweep's first.
inline bool joinSweep(Sweeping& sweep, BitRow& row, std::int64_t k) {
  const auto q = static_cast<std::ptrdiff_t>(wordOf(k));
  if (sweep.rounds == static_cast<std::int64_t>(sweepRounds) ||
      sweep.underUsed + static_cast<std::size_t>(q) + 1 > underAll)
    return false;
  Stage& stage = sweep.stages[sweep.rounds++];
  stage = {q, bitOf(k), sweep.underUsed};
  sweep.underUsed += static_cast<std::size_t>(q) + 1;
  sweep.above += q + 1;
  Word* const under = sweep.unders + stage.under;
  std::fill(under, under + q + 1, Word{0});  // under the row's start, all clear
  const auto block = static_cast<std::ptrdiff_t>(sweep.block);
  for (std::ptrdiff_t from = 0; from < sweep.swept; from += block)
    spreadBlock(row.words.get(), from, std::min(sweep.swept, from + block), stage, under);
  restartScan(sweep);
  sweep.atLeast = leastAfter(k);
  return true;
}

// The words of the newest round's row that may be set: while the row is read,
// only the words held, which are packed and final; once it is whole, up to
// those the rounds can have set past them.
inline std::ptrdiff_t sweepReach(const Sweeping& sweep, const BitRow& row, bool whole) {
  const auto held = static_cast<std::ptrdiff_t>(row.count);
  return whole ? std::min(static_cast<std::ptrdiff_t>(wordsFor(row.n)), held + sweep.above) : held;
}

// Takes the sweep as far as the row allows: the row is whole, or is being
// read and ends on a word's edge. The scan stays below the row's last word
// (while the row is read, the last word so far), where its end shows.
inline void advanceSweep(Sweeping& sweep, BitRow& row, bool whole) {
  const auto last = static_cast<std::ptrdiff_t>(wordsFor(row.n)) - 1;
  const auto block = static_cast<std::ptrdiff_t>(sweep.block);
  for (;;) {
    const std::ptrdiff_t reach = sweepReach(sweep, row, whole);
    Word* const words = row.words.get();
    const std::ptrdiff_t upTo = std::max(sweep.scanned, std::min(sweep.swept, last) - 1);
    if (sweep.atLeast < MAXN && sweep.scan.k > sweep.atLeast) {
      scanWords(sweep.scan, words, static_cast<std::size_t>(sweep.scanned), static_cast<std::size_t>(upTo),
                sweep.atLeast);
      sweep.scanned = upTo;
    }
    if (sweep.joins && sweep.scan.k <= sweep.atLeast && sweep.atLeast < MAXN && joinSweep(sweep, row, sweep.scan.k))
      continue;
    if (sweep.swept >= reach) return;
    const std::ptrdiff_t to = std::min(reach, sweep.swept + block);
    growWords(row, static_cast<std::size_t>(to));  // room for the words past those held that the rounds set
    spreadStages(row.words.get(), sweep.swept, to, sweep.stages, sweep.unders, sweep.rounds);
    sweep.swept = to;
  }
}

// Ends a sweep once the row is whole: spreads and scans the rest, and the
// last words, where the row's end shows. Returns the rounds run and the
// shortest closed run of the row they leave; with no round run, that of the
// row as it was.
inline Sweep endSweep(Sweeping& sweep, BitRow& row) {
  if (row.n == 0) return {0, MAXN};
  const auto last = static_cast<std::ptrdiff_t>(wordsFor(row.n)) - 1;
  advanceSweep(sweep, row, true);
  const std::ptrdiff_t reach = sweepReach(sweep, row, true);
  Word* const words = row.words.get();
  // The newest round's word j, where the row's end shows: past it counts as set.
  const Word pastEnd = ~lowBits(bitOf(row.n - 1) + 1);
  const auto wordAt = [&](std::ptrdiff_t j) {
    if (j < reach) return j == last ? words[j] | pastEnd : words[j];
    return reach > last ? allOnes : Word{0};
  };
  Scanning& scan = sweep.scan;
  std::ptrdiff_t i = sweep.scanned;
  for (; i <= reach && sweep.atLeast < MAXN && scan.k > sweep.atLeast; ++i)
    scanWord(scan, static_cast<std::size_t>(i), i > 0 ? wordAt(i - 1) : 0, wordAt(i), wordAt(i + 1));
  if (reach > last) words[last] &= lowBits(bitOf(row.n - 1) + 1);  // cut at n
  row.count = static_cast<std::size_t>(reach);
  assert(clearPastEnd(row));
  if (sweep.unfilled != nullptr)  // the scan took every word of the row that is not all ones
    sweep.unfilled->whole = sweep.unfilled->count <= unfilledMost && i > last && reach > last;
  return {sweep.rounds, sweep.atLeast < MAXN ? scan.k : MAXN};
}

// Runs rounds of spreading on the row in one sweep, `block` words at a time,
// the first with shift k, the shortest closed run of the row (below MAXN).
// Every round with a shift below MAXN sets the position that closes its
// shortest run, and a round that follows it in the sweep sees its whole row,
// so the row ends as the same rounds one by one leave it. With a record of
// the words not all ones, whole, runs the one round on those words alone;
// else the sweep leaves a new record there.
inline Sweep sweepRow(BitRow& row, std::int64_t k, std::size_t block = sweepBlock, Unfilled* unfilled = nullptr) {
  assert(clearPastEnd(row) && k < MAXN && k < row.n);
  if (unfilled != nullptr && unfilled->whole) return {1, spreadUnfilled(row, *unfilled, k)};
  Sweeping sweep;
  sweep.block = block;
  sweep.unfilled = unfilled;
  joinSweep(sweep, row, k);
  return endSweep(sweep, row);
}
