// The word kernels over a row: appending bits, the run scan and the spreading
// pass. Each takes the row it works on and makes no system call of its own
// (growing a row's memory aside), so tests and the fuzz target call them on
// rows of their own.
//
// Every kernel works a word at a time: the scan jumps from run to run with bit
// counts and measures all runs inside a word at once with shifts, the pass
// shifts whole words.
#pragma once

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <limits>
#include <memory>

#include "memory.hpp"

// On x86-64 the kernels that take most of a long row's time also come
// compiled for AVX2, for the machines that have it: they then take four words
// at a time where SSE2 takes two. SPINDRA_PORTABLE leaves them out, so that
// the tests run the plain code on any machine.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(SPINDRA_PORTABLE)
#define SPINDRA_AVX2 1
#include <immintrin.h>
// glibc found out what the machine has as the program started; asking the
// processor again costs tens of microseconds under some hypervisors. Its
// header is C rather than C++ for clang.
#if defined(__GLIBC__) && !defined(__clang__) && __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#endif

// Whether this machine runs AVX2 (and its system saves the AVX registers).
inline bool haveAvx2() {
#if defined(CPU_FEATURE_ACTIVE)
  return CPU_FEATURE_ACTIVE(AVX2);
#else
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#endif
}

// Whether the kernels take their AVX2 form on this machine: looked up once.
inline const bool avx2Here = haveAvx2();
#endif

constexpr std::int32_t MAXN = 10000;  // start value of k: no closed run shorter than this

constexpr Word allOnes = ~Word{0};

// What one scan of the row finds: the shortest closed run (capped at MAXN) and
// the start of the last run, or -1 for a row without a set bit.
struct RunScan {
  std::int64_t k;
  std::int64_t pos;
};

// What one spreading pass did: whether some set position had its target
// inside the row, and whether the row gained a position it did not have.
struct Spread {
  bool reached;
  bool grew;
};

// --- bit row -------------------------------------------------------------------

inline std::size_t wordOf(std::int64_t i) { return static_cast<std::size_t>(i) / wordBits; }
inline int bitOf(std::int64_t i) { return static_cast<int>(static_cast<std::uint64_t>(i) % wordBits); }

// The low `count` bits set (count in 0..64).
inline Word lowBits(int count) { return count == wordBits ? allOnes : (Word{1} << count) - 1; }

// The number of words that hold n positions.
inline std::size_t wordsFor(std::int64_t n) { return (static_cast<std::size_t>(n) + wordBits - 1) / wordBits; }

// The row's invariant: no word held past the words that n positions take, and
// no bit set at n or above.
inline bool clearPastEnd(const BitRow& row) {
  if (row.count != wordsFor(row.n)) return row.count < wordsFor(row.n);
  return bitOf(row.n) == 0 || row.words[row.count - 1] >> bitOf(row.n) == 0;
}

// Holds `want` words (at least the words held), the new ones clear: fresh
// memory is, so they need no writing.
inline void resizeWords(BitRow& row, std::size_t want) {
  assert(want >= row.count);
  growWords(row, want);
  row.count = want;
}

// Appends the `count` low bits of `value` (count in 1..64, higher bits clear).
// Clear bits only lengthen the row, so a row that is clear towards its top end
// costs no memory there.
inline void appendBits(BitRow& row, Word value, int count) {
  assert(count >= 1 && count <= wordBits && (value & ~lowBits(count)) == 0);
  if (value != 0) {
    const std::size_t at = wordOf(row.n);
    const int used = bitOf(row.n);
    if (used == 0 && row.count == at) {  // the usual case while reading: push a whole word
      if (row.count == row.capacity) growWords(row, row.count + 1);
      row.words[row.count++] = value;
    } else {
      if (row.count < wordOf(row.n + count - 1) + 1) resizeWords(row, wordOf(row.n + count - 1) + 1);
      row.words[at] |= value << used;
      if (used + count > wordBits) row.words[at + 1] |= value >> (wordBits - used);
    }
  }
  row.n += count;
  assert(clearPastEnd(row));
}

// --- run scan ------------------------------------------------------------------

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
#endif

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
  return static_cast<std::int64_t>(i * wordBits) + wordBits - std::countl_zero(clears);
}

// After a round with shift k every closed run is at least 2k long: the least
// length that the next round's scan can find.
inline std::int64_t leastAfter(std::int64_t k) { return std::min<std::int64_t>(2 * k, MAXN); }

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
  std::int64_t carried = -1;  // the start of a run that reaches the top of the last word taken
};

// Takes word i of a row, x, between `below` and `above`, the words next to it.
// Past the row's end counts as set, so that a run that reaches its last
// position stays open; a word past those held is clear.
inline void scanWord(Scanning& scan, std::size_t i, Word below, Word x, Word above) {
  const auto base = static_cast<std::int64_t>(i * wordBits);
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
      while (i + 1 < to && words[i] == uniform) ++i;
    }
    scanWord(scan, i, i > 0 ? words[i - 1] : 0, words[i], words[i + 1]);
  }
  if (i == to || scan.k <= atLeast) return;
  auto k = static_cast<int>(scan.k);
  while (i < to) {
    std::size_t stretch = to;  // the words to test one at a time
#if defined(SPINDRA_AVX2)
    if (avx2Here && i > 0) {
      i = skipNoShorterAvx2(words, i, to, k);
      stretch = std::min(to, i + 4);
    }
#endif
    for (Word below = i > 0 ? words[i - 1] : 0; i < stretch; ++i) {
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

// --- spreading pass ------------------------------------------------------------

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

// A round of a sweep: its shift k = 64q + r, and the q + 1 words under the
// block at hand as the round found them (the round has spread them since).
struct Stage {
  std::ptrdiff_t q;
  int r;
  Word* under;
};

// Word i of a row, from `top` down to `bottom` (not included), takes word
// i - q shifted up by r, and the top r bits of word i - q - 1 below them. From
// the top down, each step reads only words below it that no step so far has
// written. The shift by 63 - r and then 1 is a shift by 64 - r that stays
// defined for r = 0.
inline void spreadWords(Word* words, std::ptrdiff_t top, std::ptrdiff_t bottom, std::ptrdiff_t q, int r) {
  for (std::ptrdiff_t i = top; i > bottom; --i)
    words[i] |= (words[i - q] << r) | ((words[i - q - 1] >> 1) >> (wordBits - 1 - r));
}

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
  spreadWords(words, i, bottom, q, r);
}
#endif

// Spreads words [from, to) of a row by the stage's shift: word i takes the
// words i - q - 1 and i - q as the round found them, from the block itself
// where they lie in it, which is spread from the top down so that they are
// still as found, and from stage.under where they lie under it. Leaves in
// stage.under the words under `to`.
inline void spreadBlock(Word* words, std::ptrdiff_t from, std::ptrdiff_t to, Stage& stage) {
  const std::ptrdiff_t q = stage.q;
  const int r = stage.r;
  const std::ptrdiff_t base = from - q - 1;  // stage.under[0] is word base
  const auto found = [&](std::ptrdiff_t j) { return j >= from ? words[j] : stage.under[j - base]; };
  Word next[underMost];
  for (std::ptrdiff_t t = 0; t <= q; ++t) next[t] = found(to - q - 1 + t);
  const std::ptrdiff_t inside = std::min(to - 1, from + q);  // steps above it take their words from the block
#if defined(SPINDRA_AVX2)
  if (avx2Here) {
    spreadWordsAvx2(words, to - 1, inside, q, r);
  } else {
    spreadWords(words, to - 1, inside, q, r);
  }
#else
  spreadWords(words, to - 1, inside, q, r);
#endif
  for (std::ptrdiff_t i = inside; i >= from; --i)
    words[i] |= (found(i - q) << r) | ((found(i - q - 1) >> 1) >> (wordBits - 1 - r));
  std::copy(next, next + q + 1, stage.under);
}

// What one sweep did: the rounds it ran, and the shortest closed run of the
// row it left (capped at MAXN).
struct Sweep {
  std::int64_t rounds;
  std::int64_t k;
};

// Runs rounds of spreading on the row in one sweep, `block` words at a time,
// the first with shift k, the shortest closed run of the row (below MAXN). Every round with a shift
// below MAXN sets the position that closes its shortest run, and a round that
// follows it in the sweep sees its whole row, so the row ends as the same
// rounds one by one leave it.
inline Sweep sweepRow(BitRow& row, std::int64_t k, std::size_t block = sweepBlock) {
  assert(clearPastEnd(row) && k < MAXN && k < row.n);
  const auto last = static_cast<std::ptrdiff_t>(wordsFor(row.n)) - 1;  // the row's last word
  growWords(row, static_cast<std::size_t>(last) + 1);
  Word* const words = row.words.get();
  Stage stages[sweepRounds];
  Word unders[underAll];  // each round's words under the block, one after another
  std::size_t underUsed = 0;
  std::int64_t rounds = 0;
  auto reach = static_cast<std::ptrdiff_t>(row.count);  // the words that the newest round can have set
  std::ptrdiff_t swept = 0;                             // words [0, swept) are spread by every round so far
  Scanning scan;                                        // of the newest round's row, over words [0, scanned)
  std::ptrdiff_t scanned = 0;
  std::int64_t atLeast = MAXN;
  // The newest round's word j, where the row's end shows: past it counts as set.
  const Word pastEnd = ~lowBits(bitOf(row.n - 1) + 1);
  const auto wordAt = [&](std::ptrdiff_t j) {
    if (j < reach) return j == last ? words[j] | pastEnd : words[j];
    return reach > last ? allOnes : Word{0};
  };
  // A round with shift k joins the sweep and spreads the words already swept.
  const auto join = [&](std::int64_t shift) {
    assert(rounds < static_cast<std::int64_t>(sweepRounds));
    Stage& stage = stages[rounds++];
    stage.q = static_cast<std::ptrdiff_t>(wordOf(shift));
    stage.r = bitOf(shift);
    stage.under = unders + underUsed;
    underUsed += static_cast<std::size_t>(stage.q) + 1;
    assert(underUsed <= underAll);
    std::fill(stage.under, stage.under + stage.q + 1, Word{0});  // under the row's start, all clear
    reach = std::min(last + 1, reach + stage.q + 1);
    for (std::ptrdiff_t from = 0; from < swept; from += static_cast<std::ptrdiff_t>(block))
      spreadBlock(words, from, std::min(swept, from + static_cast<std::ptrdiff_t>(block)), stage);
    scan = {};
    scanned = 0;
    atLeast = leastAfter(shift);
  };
  join(k);
  for (;;) {
    // Scan what is final, up to the word under the last word of the row.
    const std::ptrdiff_t upTo = std::max(scanned, std::min(swept, last) - 1);
    if (atLeast < MAXN && scan.k > atLeast) {
      scanWords(scan, words, static_cast<std::size_t>(scanned), static_cast<std::size_t>(upTo), atLeast);
      scanned = upTo;
    }
    if (scan.k <= atLeast && atLeast < MAXN) {
      join(scan.k);
      continue;
    }
    if (swept >= reach) break;
    const std::ptrdiff_t to = std::min(reach, swept + static_cast<std::ptrdiff_t>(block));
    for (std::int64_t s = 0; s < rounds; ++s) spreadBlock(words, swept, to, stages[s]);
    swept = to;
  }
  // The last words, where the row's end shows, and the one past them.
  for (std::ptrdiff_t i = scanned; i <= reach && atLeast < MAXN && scan.k > atLeast; ++i)
    scanWord(scan, static_cast<std::size_t>(i), i > 0 ? wordAt(i - 1) : 0, wordAt(i), wordAt(i + 1));
  if (reach > last) words[last] &= lowBits(bitOf(row.n - 1) + 1);  // cut at n
  row.count = static_cast<std::size_t>(reach);
  assert(clearPastEnd(row));
  return {rounds, atLeast < MAXN ? scan.k : MAXN};
}
