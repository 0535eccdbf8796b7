// The state and the steps that spindra and spindra2 share: reading the row of
// bits from standard input, the run scan and the spreading pass.
//
// A row is packed 64 positions to a word, and every step works a word at a
// time: the reader turns 64 input bytes into one word, the scan jumps from run
// to run with bit counts, the pass shifts whole words.
//
// Two layers. The word kernels are pure functions over a row of their own or
// a block of bytes: no program-wide state, no system calls, so tests and the
// fuzz target call them directly. The shell holds the program-wide state and
// applies the kernels to it: readRow, scanRuns, spreadPass, the output, and
// the report of a failure.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// SPINDRA_PORTABLE builds the plain C++ classifier where SSE2 is there too, so
// that the tests run it on any machine.
#if defined(__SSE2__) && !defined(SPINDRA_PORTABLE)
#define SPINDRA_SSE2 1
#endif

constexpr std::int32_t MAXN = 10000;  // start value of k: no closed run shorter than this

// =============================================================================
// Word kernels
// =============================================================================

using Word = std::uint64_t;
constexpr int wordBits = 64;
constexpr Word allOnes = ~Word{0};

// A row's words are malloc'd so that realloc can grow them: glibc moves a
// large block by remapping its pages, so a row read from a pipe grows without
// ever being held twice.
struct FreeWords {
  void operator()(Word* words) const { std::free(words); }
};

// A growable packed row of n positions: position i is bit i % 64 of
// words[i / 64]. The words may stop before the row does: every position past
// the `count` words held is clear. So a row that is clear towards its top end
// costs only its lower part. No bit at n or above is ever set, and count never
// passes the words that n positions take.
struct BitRow {
  std::unique_ptr<Word[], FreeWords> words;
  std::size_t count = 0;     // words held
  std::size_t capacity = 0;  // words allocated
  std::int64_t n = 0;
};

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

// Makes room for at least `want` words without changing the row.
inline void reserveWords(BitRow& row, std::size_t want) {
  if (want <= row.capacity) return;
  Word* const old = row.words.release();
  void* const grown = std::realloc(old, want * sizeof(Word));
  if (grown == nullptr) {
    row.words.reset(old);
    throw std::bad_alloc();
  }
  row.words.reset(static_cast<Word*>(grown));
  row.capacity = want;
}

// Holds `want` words, the new ones clear; capacity grows geometrically.
inline void resizeWords(BitRow& row, std::size_t want) {
  if (want > row.capacity) reserveWords(row, std::max(want, 2 * row.capacity));
  if (want > row.count) std::fill(row.words.get() + row.count, row.words.get() + want, Word{0});
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
      if (row.count == row.capacity)
        reserveWords(row, std::max<std::size_t>(2 * row.capacity, 16));  // 1024 positions first
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

// --- packing bytes ---------------------------------------------------------------

// The whitespace that separates tokens: space, tab, line feed, vertical tab, form feed, carriage return.
inline bool isSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Bit j of the results says whether byte j of p[0, 64) is "1" (ones) or
// whitespace (spaces). Plain C++, eight bytes at a time. Whitespace is rare
// inside a token, so it is looked for exactly only where some byte is at most
// a blank.
inline void classify64Portable(const char* p, Word& ones, Word& spaces) {
  constexpr Word lsb = 0x0101010101010101;
  constexpr Word msb = 0x8080808080808080;
  constexpr Word low7 = 0x7F7F7F7F7F7F7F7F;
  // The high bit of each byte of x that is zero, exactly (no borrow between bytes).
  const auto zeroBytes = [](Word x) { return ~(((x & low7) + low7) | x) & msb; };
  // The high bit of each byte of x below m (m in 1..128), exactly.
  const auto bytesBelow = [](Word x, Word m) { return ~(((x & low7) + (128 - m) * lsb) | x) & msb; };
  // Gathers the high bit of byte j into bit j.
  const auto gather = [](Word highBits) { return ((highBits >> 7) * 0x0102040810204080) >> 56; };
  Word x[8];
  Word blankOrBelow = 0;
  ones = 0;
  spaces = 0;
  for (int j = 0; j < 8; ++j) {
    x[j] = 0;  // byte 8j + b of p in byte b, whatever the machine's byte order; compiles to one load
    for (int b = 0; b < 8; ++b) x[j] |= Word{static_cast<unsigned char>(p[8 * j + b])} << (8 * b);
    ones |= gather(zeroBytes(x[j] ^ ('1' * lsb))) << (8 * j);
    blankOrBelow |= bytesBelow(x[j], ' ' + 1);
  }
  if (blankOrBelow == 0) return;
  for (int j = 0; j < 8; ++j) {
    const Word controls = bytesBelow(x[j], '\r' + 1) & ~bytesBelow(x[j], '\t');
    spaces |= gather(controls | zeroBytes(x[j] ^ (' ' * lsb))) << (8 * j);
  }
}

// The same as classify64Portable, sixteen bytes at a time where SSE2 is there.
inline void classify64(const char* p, Word& ones, Word& spaces) {
#if defined(SPINDRA_SSE2)
  __m128i b[4];
  __m128i blankOrBelow = _mm_setzero_si128();
  ones = 0;
  spaces = 0;
  for (std::ptrdiff_t j = 0; j < 4; ++j) {
    b[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * j));
    ones |= Word{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(b[j], _mm_set1_epi8('1'))))} << (16 * j);
    blankOrBelow = _mm_or_si128(blankOrBelow, _mm_cmpeq_epi8(_mm_min_epu8(b[j], _mm_set1_epi8(' ')), b[j]));
  }
  if (_mm_movemask_epi8(blankOrBelow) == 0) return;
  for (int j = 0; j < 4; ++j) {
    const __m128i from9 = _mm_sub_epi8(b[j], _mm_set1_epi8('\t'));  // \t..\r become 0..4
    const __m128i controls = _mm_cmpeq_epi8(_mm_min_epu8(from9, _mm_set1_epi8(4)), from9);
    const __m128i space = _mm_or_si128(controls, _mm_cmpeq_epi8(b[j], _mm_set1_epi8(' ')));
    spaces |= Word{static_cast<std::uint16_t>(_mm_movemask_epi8(space))} << (16 * j);
  }
#else
  classify64Portable(p, ones, spaces);
#endif
}

// What packing a piece of the token did: the bytes it took, and whether
// whitespace ended the token.
struct Packed {
  std::size_t taken;
  bool ended;
};

// Appends one bit per byte of p[0, len) to row, 64 bytes to a word, up to the
// first whitespace byte. Fewer than 64 bytes left at the end are packed only
// where the token ends among them, or where `last` says no input follows;
// otherwise they are not taken, and the caller passes them again at the front
// of the next block, so that the row grows a whole word at a time.
inline Packed appendToken(BitRow& row, const char* p, std::size_t len, bool last) {
  std::size_t taken = 0;
  Word ones = 0;
  Word spaces = 0;
  for (; len - taken >= wordBits; taken += wordBits) {
    classify64(p + taken, ones, spaces);
    if (spaces != 0) {
      const int end = std::countr_zero(spaces);
      if (end > 0) appendBits(row, ones & lowBits(end), end);
      return {taken + static_cast<std::size_t>(end), true};
    }
    appendBits(row, ones, wordBits);
  }
  if (taken == len) return {taken, false};
  // The last few bytes, padded with blanks so that they end the token at the latest.
  char tail[wordBits];
  std::memset(tail, ' ', sizeof tail);
  std::memcpy(tail, p + taken, len - taken);
  classify64(tail, ones, spaces);
  const auto end = static_cast<std::size_t>(std::countr_zero(spaces));
  const bool ended = taken + end < len;
  if (!ended && !last) return {taken, false};
  if (end > 0) appendBits(row, ones & lowBits(static_cast<int>(end)), static_cast<int>(end));
  return {taken + end, ended};
}

// The number of leading whitespace bytes of p[0, len).
inline std::size_t skipSpaces(const char* p, std::size_t len) {
  std::size_t i = 0;
  while (i < len && isSpace(static_cast<unsigned char>(p[i]))) ++i;
  return i;
}

// --- run scan ------------------------------------------------------------------

// The positions of x where `len` consecutive set bits begin (len in 1..64);
// bits past the top of the word count as clear.
inline Word runsAtLeast(Word x, int len) {
  int have = 1;  // x now marks the starts of `have` consecutive set bits
  while (2 * have <= len) {
    x &= x >> have;
    have *= 2;
  }
  return x & (x >> (len - have));  // two overlapping stretches of `have` bits cover len bits
}

// The length of the shortest run of x that begins at a bit of `starts`, if it
// is shorter than cap; cap otherwise. Each such run must end inside x.
inline std::int64_t shortestRun(Word x, Word starts, std::int64_t cap) {
  if (cap <= wordBits && (starts & ~runsAtLeast(x, static_cast<int>(cap))) == 0) return cap;
  // Some run is at most hi long: find the smallest length that one of them has.
  int lo = 1;
  int hi = static_cast<int>(std::min<std::int64_t>(cap, wordBits)) - 1;
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if ((starts & ~runsAtLeast(x, mid + 1)) != 0) {
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

// Finds the shortest closed run of the row (capped at MAXN) and the start of
// its last run. A word at a time: runs inside a word are measured all at once
// with shifts, a run that crosses into the next word is carried over. atLeast
// is a length that no closed run of the row is shorter than (see leastAfter);
// the scan stops as soon as it finds a run that short.
inline RunScan scanRow(const BitRow& row, std::int64_t atLeast = 1) {
  assert(clearPastEnd(row) && atLeast >= 1);
  const Word* const words = row.words.get();
  const std::size_t count = row.count;
  const bool reachesEnd = count == wordsFor(row.n);  // else positions from 64 * count on are clear
  std::int64_t k = MAXN;
  std::int64_t carried = -1;  // start of a run that reaches the top of the previous word
  std::size_t i = 0;
  for (; i < count && k > atLeast; ++i) {
    // Whole words inside a run, or between runs, change nothing (the last word is looked at below).
    const Word uniform = carried >= 0 ? allOnes : 0;
    while (i + 1 < count && words[i] == uniform) ++i;
    Word x = words[i];
    // Past the end counts as set, so a run that reaches the last position stays open.
    if (i + 1 == count && reachesEnd) x |= ~lowBits(bitOf(row.n - 1) + 1);
    const auto base = static_cast<std::int64_t>(i * wordBits);
    if (carried >= 0) {
      if (x == allOnes) continue;
      k = std::min(k, base + std::countr_one(x) - carried);
      carried = -1;
      x &= x + 1;  // drop the run just closed
    }
    if (x == 0) continue;
    Word starts = x & ~(x << 1);
    if (x >> (wordBits - 1)) {  // the top run goes on into the next word
      carried = base + wordBits - std::countl_one(x);
      starts ^= std::bit_floor(starts);
    }
    if (starts != 0) k = shortestRun(x, starts, k);
  }
  if (i == count && carried >= 0 && !reachesEnd) k = std::min(k, static_cast<std::int64_t>(count * wordBits) - carried);
  assert(k >= atLeast);
  return {k, lastRunStart(row)};
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

// =============================================================================
// The shell: program-wide state, and the steps that apply the kernels to it
// =============================================================================

// The part of the input token in the block being packed. The token is never
// held whole: every step after readRow reads only the row.
inline std::string_view s;
inline BitRow zecovi;          // the row; each round's pass spreads it in place
inline bool hasChange = true;  // the current round's pass found a set source position
inline std::int64_t sol = 0;   // rounds counted so far

// A system call that failed: what the program was doing, and errno.
struct Failure {
  const char* what;
  int error;
};

[[noreturn]] inline void failReading() { throw Failure{"cannot read standard input", errno}; }

// Writes all of buf to standard output, however many calls it takes.
inline void writeOut(const char* buf, std::size_t len) {
  while (len > 0) {
    const ssize_t done = write(STDOUT_FILENO, buf, len);
    if (done < 0) {
      if (errno == EINTR) continue;
      throw Failure{"cannot write standard output", errno};
    }
    buf += done;
    len -= static_cast<std::size_t>(done);
  }
}

// The most characters a 64-bit number takes in decimal, its sign included.
constexpr std::size_t decimalWidth = std::numeric_limits<std::int64_t>::digits10 + 2;

// Writes a number in decimal, with nothing after it.
inline void writeNumber(std::int64_t value) {
  char buf[decimalWidth];
  const char* const end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  writeOut(buf, static_cast<std::size_t>(end - buf));
}

// The bytes that readRow asks read(2) for at a time: a pipe's whole default
// capacity, and a block that stays in the cache until it is packed. From a
// file, blocks of 64 KiB to 1 MiB read a row of 10^8 positions equally fast;
// 32 KiB is some 4% slower.
constexpr std::size_t readBlock = std::size_t{1} << 16;

// Reads the token from standard input, `block` bytes at a time into one reused
// buffer, and appends one bit per byte of it to zecovi: set for "1", clear for
// every other byte. Works alike on files, pipes, terminals and sockets; the
// size that fstat reports is only a hint for the row's memory, never the end
// of the input. Leaves a seekable input's offset just after the token.
inline void readRow(std::size_t block = readBlock) {
  struct stat st;
  if (fstat(STDIN_FILENO, &st) != 0) failReading();
  if (S_ISREG(st.st_mode)) {
    const off_t at = lseek(STDIN_FILENO, 0, SEEK_CUR);
    try {
      if (at >= 0 && st.st_size > at) reserveWords(zecovi, wordsFor(st.st_size - at));
    } catch (const std::bad_alloc&) {
      // The rest of the file is only an upper bound on the token: the row grows as it must.
    }
  }
  // The bytes of the token that the last block ended in the middle of a word
  // (fewer than 64), then the next block.
  const std::unique_ptr<char[]> buffer(new char[wordBits - 1 + block]);
  std::size_t held = 0;
  bool inToken = false;
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, buffer.get() + held, block);
    if (got < 0) {
      if (errno == EINTR) continue;
      failReading();
    }
    const char* p = buffer.get();
    std::size_t len = held + static_cast<std::size_t>(got);
    if (!inToken) {
      const std::size_t blanks = skipSpaces(p, len);
      p += blanks;
      len -= blanks;
      if (len == 0 && got > 0) continue;  // nothing but whitespace so far
      inToken = true;
    }
    const Packed packed = appendToken(zecovi, p, len, got == 0);
    s = std::string_view(p, packed.taken);
    if (packed.ended || got == 0) {
      // Hand back what was read past the token, where the input can seek.
      if (len > packed.taken) lseek(STDIN_FILENO, -static_cast<off_t>(len - packed.taken), SEEK_CUR);
      break;
    }
    held = len - packed.taken;
    std::memmove(buffer.get(), p + packed.taken, held);
  }
  s = {};
}

// The shortest closed run of zecovi and the start of its last run.
inline RunScan scanRuns(std::int64_t atLeast = 1) { return scanRow(zecovi, atLeast); }

// Spreads zecovi by k; sets hasChange if some set position had its target
// inside the row, and returns whether the row gained a position.
inline bool spreadPass(std::int64_t k) {
  const Spread done = spreadRow(zecovi, k);
  if (done.reached) hasChange = true;
  return done.grew;
}

// Called from a catch block: writes "<program>: <what>: <reason>" to standard
// error and gives the exit status for the failure being handled.
inline int reportFailure(const char* program) {
  const char* what = "out of memory";
  const char* reason = nullptr;
  try {
    throw;
  } catch (const Failure& failure) {
    what = failure.what;
    reason = std::strerror(failure.error);
  } catch (const std::bad_alloc&) {
  } catch (...) {
    what = "unknown failure";
  }
  char line[256];
  const int len = reason != nullptr ? std::snprintf(line, sizeof line, "%s: %s: %s\n", program, what, reason)
                                    : std::snprintf(line, sizeof line, "%s: %s\n", program, what);
  if (len > 0) (void)!write(STDERR_FILENO, line, std::min(static_cast<std::size_t>(len), sizeof line - 1));
  return 1;
}

// The whole of either program: reads the row, runs the program's round loop,
// and reports a failure under the program's name; returns the exit status.
inline int runProgram(const char* program, void (&runRounds)()) {
  try {
    readRow();
    runRounds();
  } catch (...) {
    return reportFailure(program);
  }
  return 0;
}
