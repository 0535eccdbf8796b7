// Reading the input token and packing it into a row: 64 input bytes become
// one word of the row at a time, and the token itself is never held.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "bits.hpp"

// A system call that failed: what the program was doing, and errno.
struct Failure {
  const char* what;
  int error;
};

[[noreturn]] inline void failReading() { throw Failure{"cannot read standard input", errno}; }

// Waits until fd is ready for `events` (POLLIN or POLLOUT): for a descriptor
// that is non-blocking (a parent may have set O_NONBLOCK on a pipe it shares),
// a read or write that would wait fails with EAGAIN instead, and then the
// program waits here. poll(2) on one descriptor fails only when a signal cuts
// it short (EINTR) or the kernel lacks memory for a moment (ENOMEM): it is
// asked again until it answers.
inline void awaitReady(int fd, short events) {
  pollfd watched{fd, events, 0};
  while (poll(&watched, 1, -1) < 0) {
  }
}

// Whether a failed read or write only found a non-blocking descriptor not ready.
inline bool wouldWait(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// The whitespace that separates tokens: space, tab, line feed, vertical tab, form feed, carriage return.
inline bool isSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The eight bytes at p as a word, byte b in bits 8b to 8b + 7, whatever the
// machine's byte order: one load, and on a big-endian machine its bytes
// reversed (s390x loads them so in one instruction). Where p is `aligned` to
// a word, a machine that must not load a word off its alignment (riscv64,
// armel) loads it whole too, not a byte at a time.
template <bool aligned = false>
inline Word loadBytes(const char* p) {
#if defined(__GNUC__)
  if constexpr (aligned) p = static_cast<const char*>(__builtin_assume_aligned(p, alignof(Word)));
#endif
  Word x;
  std::memcpy(&x, p, sizeof x);
  if constexpr (std::endian::native == std::endian::big) {
#if defined(__GNUC__)
    x = __builtin_bswap64(x);
#else
    Word swapped = 0;
    for (int b = 0; b < 8; ++b) swapped |= ((x >> (8 * b)) & 0xFF) << (56 - 8 * b);
    x = swapped;
#endif
  }
  return x;
}

// Bit j of the results says whether byte j of p[0, 64) is "1" (ones) or
// whitespace (spaces), for any bytes: plain C++, eight bytes at a time in a
// 64-bit word, exact with no borrow between bytes. Whitespace is looked for
// only where some byte is at most a blank.
[[gnu::noinline]] inline void classify64Exact(const char* p, Word& ones, Word& spaces) {
  constexpr Word lsb = 0x0101010101010101;
  constexpr Word msb = lsb << 7;
  constexpr Word low7 = ~msb;
  // The high bit of each byte of x that is zero.
  const auto zeroBytes = [](Word x) { return ~(((x & low7) + low7) | x) & msb; };
  // The high bit of each byte of x below m (m in 1..128).
  const auto bytesBelow = [](Word x, Word m) { return ~(((x & low7) + (128 - m) * lsb) | x) & msb; };
  // Gathers the high bit of byte j into bit j: multiplied by 2^(49 - 7j), bit
  // 8j + 7 lands on bit 56 + j, and no two of the 64 products share a bit.
  const auto gather = [](Word highBits) { return (highBits * 0x0002040810204081) >> 56; };
  Word blankOrBelow = 0;
  ones = 0;
  spaces = 0;
  for (std::ptrdiff_t j = 0; j < 8; ++j) {
    const Word x = loadBytes(p + 8 * j);
    ones |= gather(zeroBytes(x ^ ('1' * lsb))) << (8 * j);
    blankOrBelow |= bytesBelow(x, ' ' + 1);
  }
  if (blankOrBelow == 0) return;
  for (std::ptrdiff_t j = 0; j < 8; ++j) {
    const Word x = loadBytes(p + 8 * j);
    const Word controls = bytesBelow(x, '\r' + 1) & ~bytesBelow(x, '\t');
    spaces |= gather(controls | zeroBytes(x ^ (' ' * lsb))) << (8 * j);
  }
}

// The same, on any machine. A token is mostly "0" and "1", and then seven
// operations take eight bytes; where some byte is neither, classify64Exact
// takes the 64. `aligned`: p is aligned to a word.
template <bool aligned = false>
inline void classify64Portable(const char* p, Word& ones, Word& spaces) {
  constexpr Word lsb = 0x0101010101010101;
  Word found = 0;
  Word others = 0;  // a bit set other than bit 0 of a byte where some byte is neither "0" nor "1"
  for (std::ptrdiff_t j = 0; j < 8; ++j) {
    const Word bits = loadBytes<aligned>(p + 8 * j) ^ ('0' * lsb);  // "0" and "1" become 0 and 1
    // Multiplied by 2^(56 - 7b), bit 8b lands on bit 56 + b, and no two of
    // the 64 products share a bit: byte b's bit gathered into bit b of the top byte.
    found |= (bits * 0x0102040810204080) >> 56 << (8 * j);
    others |= bits;
  }
  if ((others & ~lsb) != 0) return classify64Exact(p, ones, spaces);
  ones = found;
  spaces = 0;
}

// Packs the 64-byte pieces of p[0, len) into whole words of row, which ends
// on a word's edge, up to the first piece that holds whitespace; returns the
// bytes taken. The usual case while reading, so the words go straight into
// the row's memory, and a clear word is neither stored nor given room:
// memory past the words held is clear. `classify` is one of the classifiers.
template <void (*classify)(const char*, Word&, Word&)>
[[gnu::always_inline]] inline std::size_t packWordsWith(BitRow& row, const char* p, std::size_t len) {
  assert(bitOf(row.n) == 0);
  if (len / wordBits > maxWords - wordOf(row.n)) throw std::bad_alloc();  // a row longer than memory can hold
  Word* words = row.words.get();
  std::size_t capacity = row.capacity;
  std::size_t at = wordOf(row.n);
  std::size_t count = row.count;
  const char* const end = p + len / wordBits * wordBits;
  const char* piece = p;
  for (; piece != end; piece += wordBits, ++at) {
    Word ones = 0;
    Word spaces = 0;
    classify(piece, ones, spaces);
    if (spaces != 0) break;
    if (ones != 0) {
      if (at >= capacity) {  // room for the rest of the block, as far as it may be stored
        growWords(row, at + static_cast<std::size_t>(end - piece) / wordBits);
        words = row.words.get();
        capacity = row.capacity;
      }
      words[at] = ones;
      count = at + 1;
    }
  }
  row.count = count;
  row.n = static_cast<std::int64_t>(at) * wordBits;
  return static_cast<std::size_t>(piece - p);
}

#if defined(SPINDRA_AVX2)
// The same as classify64Portable, sixteen bytes at a time with SSE2.
[[gnu::target("sse2")]] inline void classify64Sse2(const char* p, Word& ones, Word& spaces) {
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
}

[[gnu::target("sse2")]] inline std::size_t packWordsSse2(BitRow& row, const char* p, std::size_t len) {
  return packWordsWith<classify64Sse2>(row, p, len);
}
#endif

#if defined(SPINDRA_AVX2)
// The same as classify64Portable, thirty-two bytes at a time with AVX2.
[[gnu::target("avx2")]] inline void classify64Avx2(const char* p, Word& ones, Word& spaces) {
  __m256i b[2];
  __m256i blankOrBelow = _mm256_setzero_si256();
  ones = 0;
  spaces = 0;
  for (std::ptrdiff_t j = 0; j < 2; ++j) {
    b[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * j));
    ones |= Word{static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(b[j], _mm256_set1_epi8('1'))))}
            << (32 * j);
    blankOrBelow = _mm256_or_si256(blankOrBelow, _mm256_cmpeq_epi8(_mm256_min_epu8(b[j], _mm256_set1_epi8(' ')), b[j]));
  }
  if (_mm256_testz_si256(blankOrBelow, blankOrBelow)) return;
  for (int j = 0; j < 2; ++j) {
    const __m256i from9 = _mm256_sub_epi8(b[j], _mm256_set1_epi8('\t'));  // \t..\r become 0..4
    const __m256i controls = _mm256_cmpeq_epi8(_mm256_min_epu8(from9, _mm256_set1_epi8(4)), from9);
    const __m256i space = _mm256_or_si256(controls, _mm256_cmpeq_epi8(b[j], _mm256_set1_epi8(' ')));
    spaces |= Word{static_cast<std::uint32_t>(_mm256_movemask_epi8(space))} << (32 * j);
  }
}

[[gnu::target("avx2")]] inline std::size_t packWordsAvx2(BitRow& row, const char* p, std::size_t len) {
  return packWordsWith<classify64Avx2>(row, p, len);
}
#endif

#if defined(SPINDRA_AVX2)
// The same as classify64Portable, the 64 bytes at once with AVX-512: one compare gives the word.
[[gnu::target("avx512f,avx512bw")]] inline void classify64Avx512(const char* p, Word& ones, Word& spaces) {
  const __m512i b = _mm512_loadu_si512(p);
  ones = _mm512_cmpeq_epi8_mask(b, _mm512_set1_epi8('1'));
  spaces = 0;
  if (_mm512_cmple_epu8_mask(b, _mm512_set1_epi8(' ')) == 0) return;
  const __m512i from9 = _mm512_sub_epi8(b, _mm512_set1_epi8('\t'));  // \t..\r become 0..4
  spaces = _mm512_cmple_epu8_mask(from9, _mm512_set1_epi8(4)) | _mm512_cmpeq_epi8_mask(b, _mm512_set1_epi8(' '));
}

[[gnu::target("avx512f,avx512bw")]] inline std::size_t packWordsAvx512(BitRow& row, const char* p, std::size_t len) {
  return packWordsWith<classify64Avx512>(row, p, len);
}
#endif

#if defined(SPINDRA_NEON)
// A word of the row from the compare results (all ones or zero each) of 64
// bytes loaded four ways apart: lane i of c[k] is byte 4i + k. Shifting each
// in under the next keeps one bit of every k in every byte, twice over
// (c3 c2 c1 c0 c3 c2 c1 c0); the narrowing takes the middle eight bits of each
// two bytes, so bit 8m + 4h + k is lane 2m + h of c[k]: byte 8m + 4h + k.
[[SPINDRA_NEON_TARGET]] inline Word maskOf(const uint8x16_t c[4]) {
  const uint8x16_t low = vsriq_n_u8(c[1], c[0], 1);
  const uint8x16_t high = vsriq_n_u8(c[3], c[2], 1);
  const uint8x16_t all = vsriq_n_u8(high, low, 2);
  const uint8x16_t twice = vsriq_n_u8(all, all, 4);
  return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(twice), 4)), 0);
}

// The same as classify64Portable, sixteen bytes at a time with NEON.
[[SPINDRA_NEON_TARGET]] inline void classify64Neon(const char* p, Word& ones, Word& spaces) {
  const uint8x16x4_t b = vld4q_u8(reinterpret_cast<const std::uint8_t*>(p));  // lane i of b.val[k]: byte 4i + k
  uint8x16_t found[4];
  for (int k = 0; k < 4; ++k) found[k] = vceqq_u8(b.val[k], vdupq_n_u8('1'));
  ones = maskOf(found);
  spaces = 0;
  const uint8x16_t least = vminq_u8(vminq_u8(b.val[0], b.val[1]), vminq_u8(b.val[2], b.val[3]));
#if defined(SPINDRA_NEON_32)
  // ARMv7 has no minimum across a vector: its two halves' compares, together.
  const uint8x8_t low = vcle_u8(vmin_u8(vget_low_u8(least), vget_high_u8(least)), vdup_n_u8(' '));
  if (vget_lane_u64(vreinterpret_u64_u8(low), 0) == 0) return;  // the usual case: no byte at or below a blank
#else
  if (vminvq_u8(least) > ' ') return;  // the usual case: no byte at or below a blank
#endif
  for (int k = 0; k < 4; ++k) {
    const uint8x16_t from9 = vsubq_u8(b.val[k], vdupq_n_u8('\t'));  // \t..\r become 0..4
    found[k] = vorrq_u8(vcleq_u8(from9, vdupq_n_u8(4)), vceqq_u8(b.val[k], vdupq_n_u8(' ')));
  }
  spaces = maskOf(found);
}

#if defined(SPINDRA_NEON_32)
[[SPINDRA_NEON_TARGET]] inline std::size_t packWordsNeon(BitRow& row, const char* p, std::size_t len) {
  return packWordsWith<classify64Neon>(row, p, len);
}
#endif
#endif

#if defined(SPINDRA_VSX)
using Bytes16 = __vector unsigned char;

// Sixteen bytes from p, each doubleword loaded as the processor loads it
// (lxvd2x), with no swap to the order the compiler numbers the lanes in:
// byte m of p lies in byte 7 - m of the register as the big-endian ISA
// numbers it, for m < 8, and in byte 23 - m for m >= 8.
inline Bytes16 loadSixteen(const char* p) {
  return reinterpret_cast<Bytes16>(vec_xl_be(0, reinterpret_cast<const unsigned long long*>(p)));
}

// A word of the row from the compare results of 64 bytes, sixteen at a time
// (all ones or zero in each byte), loaded by loadSixteen. Bit t of each byte
// takes c[t] (three selects), and vgbbd turns each doubleword's 8 x 8 bits
// around: its byte 7 - t (as the big-endian ISA numbers them) then holds
// c[t]'s eight bits of that doubleword, lowest byte lowest, since the load
// left the bytes reversed in each doubleword. One permute puts the eight
// such bytes in order in the high doubleword.
inline Word maskOf(const Bytes16 c[4]) {
  const auto bit = [](unsigned char b) { return vec_splats(b); };
  const Bytes16 low = vec_sel(c[0], c[1], bit(2));
  const Bytes16 high = vec_sel(c[2], c[3], bit(8));
  const Bytes16 turned = vec_gb(vec_sel(low, high, bit(12)));
  const Bytes16 order = {0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 9, 1, 10, 2, 11, 3};
  return static_cast<Word>(reinterpret_cast<__vector unsigned long long>(__builtin_shuffle(turned, order))[1]);
}

// The same as classify64Portable, sixteen bytes at a time with VSX.
inline void classify64Vsx(const char* p, Word& ones, Word& spaces) {
  Bytes16 b[4];
  Bytes16 found[4];
  for (int j = 0; j < 4; ++j) {
    b[j] = loadSixteen(p + 16 * j);
    found[j] = reinterpret_cast<Bytes16>(vec_cmpeq(b[j], vec_splats(static_cast<unsigned char>('1'))));
  }
  ones = maskOf(found);
  spaces = 0;
  const Bytes16 least = vec_min(vec_min(b[0], b[1]), vec_min(b[2], b[3]));
  if (!vec_any_le(least, vec_splats(static_cast<unsigned char>(' ')))) return;  // the usual case
  for (int j = 0; j < 4; ++j) {
    const Bytes16 from9 = vec_sub(b[j], vec_splats(static_cast<unsigned char>('\t')));  // \t..\r become 0..4
    found[j] = reinterpret_cast<Bytes16>(vec_or(vec_cmple(from9, vec_splats(static_cast<unsigned char>(4))),
                                                vec_cmpeq(b[j], vec_splats(static_cast<unsigned char>(' ')))));
  }
  spaces = maskOf(found);
}
#endif

#if defined(SPINDRA_VX)
using BytesVx = unsigned char __attribute__((vector_size(16)));
using QuartersVx = unsigned int __attribute__((vector_size(16)));
using WordsVx = unsigned long long __attribute__((vector_size(16)));
// (No lambdas in these forms: a lambda is not compiled for the z13, and a
// vector passed to one goes by another convention.)

// Sixteen bytes from p, anywhere in memory: a load with length (vll), which
// g++ does not follow with prefetches as it does a plain load in the packing
// loop (two instructions each 64 bytes).
[[SPINDRA_VX_TARGET]] inline BytesVx loadSixteenVx(const char* p) {
  return reinterpret_cast<BytesVx>(__builtin_s390_vll(15, p));
}

// The eight bits of each doubleword of c, all ones or zero in each byte, in
// bits 24 to 31 of that doubleword, byte j's in bit 24 + j; the rest zero.
// Each byte keeps its lowest bit, and a carry-less multiply of each word
// (vgfmf) gathers them: bit 8k of a word (byte 3 - k) times the multiplier
// 0x08040201 (bits 9j) lands in bit 8k + 9j, and the terms with j = 3 - k
// in bits 27 - k, where no other term lands; the second word's, times
// 0x80402010, four bits higher. The two products of a doubleword are or-ed
// (exclusive or, with no bit in common). For example, bytes "1" "0" "0" "1"
// in a word give 0x01000001, whose terms at 24 (k = 3) and 27 (k = 0) say
// bytes 0 and 3.
[[SPINDRA_VX_TARGET]] inline BytesVx eightsOf(BytesVx c) {
  const QuartersVx times = {0x08040201, 0x80402010, 0x08040201, 0x80402010};
  const auto lowest = reinterpret_cast<QuartersVx>(c & 1);
  return reinterpret_cast<BytesVx>(__builtin_s390_vgfmf(lowest, times));
}

// Bit j of the result says whether byte j of c0 (0 to 15), c1 (16 to 31), c2
// or c3 is all ones. Each doubleword's eight bits (eightsOf) lie in its byte
// 4, byte 4 or 12 of the register (20 or 28 of a permute's second operand),
// and two permutes gather them into the first doubleword, the first eight
// bytes' bits into its last byte and the last eight's into its first: bits 0
// to 7 of a big-endian word. Byte 0 of each operand is zero.
[[SPINDRA_VX_TARGET]] inline Word maskOf(BytesVx c0, BytesVx c1, BytesVx c2, BytesVx c3) {
  const BytesVx high = {28, 20, 12, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // c3's bits, then c2's
  const BytesVx low = {0, 0, 0, 0, 28, 20, 12, 4, 0, 0, 0, 0, 0, 0, 0, 0};   // c1's bits, then c0's
  const auto all = reinterpret_cast<WordsVx>(__builtin_s390_vperm(eightsOf(c2), eightsOf(c3), high) |
                                             __builtin_s390_vperm(eightsOf(c0), eightsOf(c1), low));
  return all[0];
}

// All ones in each byte of b that is whitespace.
[[SPINDRA_VX_TARGET]] inline BytesVx spacesOf(BytesVx b) {
  const BytesVx from9 = b - '\t';  // \t..\r become 0..4
  return reinterpret_cast<BytesVx>((from9 <= 4) | (b == ' '));
}

// The same as classify64Portable, sixteen bytes at a time with the vector
// facility.
[[SPINDRA_VX_TARGET]] inline void classify64Vx(const char* p, Word& ones, Word& spaces) {
  const BytesVx b0 = loadSixteenVx(p), b1 = loadSixteenVx(p + 16), b2 = loadSixteenVx(p + 32),
                b3 = loadSixteenVx(p + 48);
  ones = maskOf(reinterpret_cast<BytesVx>(b0 == '1'), reinterpret_cast<BytesVx>(b1 == '1'),
                reinterpret_cast<BytesVx>(b2 == '1'), reinterpret_cast<BytesVx>(b3 == '1'));
  spaces = 0;
  const BytesVx least = __builtin_s390_vmnlb(__builtin_s390_vmnlb(b0, b1), __builtin_s390_vmnlb(b2, b3));
  const auto above = reinterpret_cast<BytesVx>(least > ' ');
  if (__builtin_s390_vtm(above, ~BytesVx{}) == 3) return;  // the usual case: every byte above a blank (every bit set)
  spaces = maskOf(spacesOf(b0), spacesOf(b1), spacesOf(b2), spacesOf(b3));
}

// packWordsWith<classify64Vx>, the loop written again: a function compiled
// for the z13 takes in none compiled for the port's processor, as
// packWordsWith is, and the classifier's call and its constants cost a
// third of its time when it is called for each 64 bytes. Only growth,
// which is rare, calls out.
[[SPINDRA_VX_TARGET]] inline std::size_t packWordsVx(BitRow& row, const char* p, std::size_t len) {
  assert(bitOf(row.n) == 0);
  if (len / wordBits > maxWords - wordOf(row.n)) throw std::bad_alloc();  // a row longer than memory can hold
  Word* words = row.words.get();
  std::size_t capacity = row.capacity;
  std::size_t at = wordOf(row.n);
  const char* const end = p + len / wordBits * wordBits;
  const char* piece = p;
  const char* last = nullptr;  // the last piece whose word was stored
  for (;;) {
    // No call in the loop, so that its constants stay in registers the call would take.
    Word spaces = 0;
    for (; piece != end; piece += wordBits, ++at) {
      Word ones = 0;
      classify64Vx(piece, ones, spaces);
      if (spaces != 0 || (ones != 0 && at >= capacity)) break;
      if (ones != 0) {
        words[at] = ones;
        last = piece;
      }
    }
    if (piece == end || spaces != 0) break;
    // No room for this piece's word: room for the rest of the block, as far
    // as it may be stored, and the piece again.
    growWords(row, at + static_cast<std::size_t>(end - piece) / wordBits);
    words = row.words.get();
    capacity = row.capacity;
  }
  if (last != nullptr) row.count = at - static_cast<std::size_t>(piece - last) / wordBits + 1;
  row.n = static_cast<std::int64_t>(at) * wordBits;
  return static_cast<std::size_t>(piece - p);
}
#endif

#if defined(SPINDRA_RVV)
using BytesRvv = std::uint8_t __attribute__((vector_size(64)));
using ByteMaskRvv = bool __attribute__((ext_vector_type(64)));

// The word whose bit j says whether byte j of a comparison's result is true.
[[SPINDRA_RVV_TARGET]] inline Word wordOfMask(decltype(BytesRvv{} == 0) compared) {
  const ByteMaskRvv mask = __builtin_convertvector(compared, ByteMaskRvv);
  Word word;
  __builtin_memcpy(&word, &mask, sizeof word);
  return word;
}

// The same as classify64Portable, the 64 bytes at once with the vector
// extension: four registers of 128 bits, or fewer that are wider. Called for
// each 64 bytes, not taken into the packing loop: that loop may throw
// (memory runs out), and a frame that keeps vector registers on the stack
// describes itself in terms that libgcc 12's unwinder cannot read.
[[SPINDRA_RVV_TARGET]] [[gnu::noinline]] inline void classify64Rvv(const char* p, Word& ones, Word& spaces) {
  BytesRvv b;
  __builtin_memcpy(&b, p, sizeof b);
  ones = wordOfMask(b == '1');
  spaces = 0;
  if (wordOfMask(b <= ' ') == 0) return;  // the usual case: no byte at or below a blank
  const BytesRvv from9 = b - '\t';        // \t..\r become 0..4
  spaces = wordOfMask((from9 <= 4) | (b == ' '));
}
#endif

// The classifier of 64 bytes that this machine runs best, for a few bytes
// at a token's end: one with SSE2 where it has it, the plain one elsewhere.
inline void classify64(const char* p, Word& ones, Word& spaces) {
#if defined(SPINDRA_AVX2)
  if (sse2Here) return classify64Sse2(p, ones, spaces);
#endif
  classify64Portable<>(p, ones, spaces);
}

// packWordsWith, with the best classifier that this machine has: the one
// place where the classifier's form is chosen.
inline std::size_t packWords(BitRow& row, const char* p, std::size_t len) {
#if defined(SPINDRA_AVX2)
  if (avx512Here) return packWordsAvx512(row, p, len);
  if (avx2Here) return packWordsAvx2(row, p, len);
  if (sse2Here) return packWordsSse2(row, p, len);
#endif
#if defined(SPINDRA_NEON_32)
  if (neonHere) return packWordsNeon(row, p, len);  // compiled for NEON, in a function of its own
#elif defined(SPINDRA_NEON)
  if (neonHere) return packWordsWith<classify64Neon>(row, p, len);
#endif
#if defined(SPINDRA_VSX)
  if (vsxHere) return packWordsWith<classify64Vsx>(row, p, len);
#endif
#if defined(SPINDRA_VX)
  if (vxHere) return packWordsVx(row, p, len);
#endif
#if defined(SPINDRA_RVV)
  if (rvvHere) return packWordsWith<classify64Rvv>(row, p, len);
#endif
#if defined(__riscv) || (defined(__arm__) && !defined(__ARM_FEATURE_UNALIGNED))
  // A read block starts on a word's edge, and so does a token read from the start of a file.
  if (reinterpret_cast<std::uintptr_t>(p) % alignof(Word) == 0)
    return packWordsWith<classify64Portable<true>>(row, p, len);
#endif
  return packWordsWith<classify64Portable<>>(row, p, len);
}

// What packing a piece of the token did: the bytes it took, and whether
// whitespace ended the token.
struct Packed {
  std::size_t taken;
  bool ended;
};

// Appends one bit per byte of p[0, len) to row, which ends on a word's edge,
// 64 bytes to a word, up to the first whitespace byte. Fewer than 64 bytes
// left at the end are packed only where the token ends among them, or where
// `last` says no input follows; otherwise they are not taken, and the caller
// passes them again at the front of the next block, so that the row grows a
// whole word at a time.
inline Packed appendToken(BitRow& row, const char* p, std::size_t len, bool last) {
  assert(bitOf(row.n) == 0);
  const std::size_t taken = packWords(row, p, len);
  const std::size_t rest = std::min(len - taken, std::size_t{wordBits});
  if (rest == 0) return {taken, false};
  // The piece where packing stopped, which holds whitespace, or the last few
  // bytes; padded with blanks, so that they end the token at the latest.
  char piece[wordBits];
  std::memset(piece, ' ', sizeof piece);
  std::memcpy(piece, p + taken, rest);
  Word ones = 0;
  Word spaces = 0;
  classify64(piece, ones, spaces);
  const auto end = static_cast<std::size_t>(std::countr_zero(spaces));
  const bool ended = end < rest;
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

// The bytes that a read(2) asks for: 64 KiB at first, and 1 MiB once the
// token is long. A large block costs a fresh huge page for the buffer (some
// 200 us), and saves fifteen read calls in sixteen, each 0.3 to 2 us by
// machine: it pays from a few MiB of token on, and reads a token of 10^9
// positions in 954 calls instead of 15,259. Either stays in the second-level
// cache until it is packed.
constexpr std::size_t smallBlock = std::size_t{1} << 16;
constexpr std::size_t largeBlock = std::size_t{1} << 20;

// The bytes of a token read in small blocks before the blocks grow, unless
// the input's size says from the start that the token may be that long.
constexpr std::size_t largeFrom = std::size_t{8} << 20;

// The words reserved for a row whose input has no size to go by (a pipe, a
// terminal, a socket): 2 MiB, rows of 16.7 million positions; a longer row
// grows by moving its pages (growWords). Through a pipe, a row of 10^9
// positions then takes the faults that 1 TiB reserved took (140), where no
// reservation takes 170, its first 64 KiB copied as they grow. An emulator
// (qemu-user) keeps books on every page reserved: 1 TiB took it 30 s or more
// at every start.
constexpr std::size_t unsizedReserve = std::size_t{1} << 18;

// The most words reserved for a row from a file: 1 GiB, rows of 8.6 * 10^9
// positions, which costs qemu-user 20 ms; the 1.9 TiB that a sparse file of
// 15 TiB would reserve took it 50 s. A longer row grows past it.
constexpr std::size_t reserveMost = std::size_t{1} << 27;

// The room asked for in a pipe that standard input is: a pipe's default 64
// KiB keeps the program that writes into it and the reader taking turns at
// every 64 KiB, which costs a pair of context switches each; with 1 MiB
// (what Linux grants any process) a row comes through a pipe up to three
// times as fast.
constexpr int pipeRoom = 1 << 20;

// Looks at the input on fd before it is read. Returns the bytes after the
// offset of a regular file, which its token can take at most, or 0 where
// that cannot be told. Only a hint: a file may grow or shrink while it is
// read, and procfs reports a size of 0. Gives a pipe more room, where the
// system allows it.
inline std::uint64_t sizeUpInput(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) failReading();
  if (S_ISREG(st.st_mode)) {
    const off_t at = lseek(fd, 0, SEEK_CUR);  // cannot fail on a regular file
    if (st.st_size > at) return static_cast<std::uint64_t>(st.st_size - at);
  }
#if defined(F_SETPIPE_SZ)
  if (S_ISFIFO(st.st_mode)) (void)fcntl(fd, F_SETPIPE_SZ, pipeRoom);  // a pipe that keeps its size reads as well
#endif
  return 0;
}

// A token being read from a descriptor into a row, a block at a time. Each
// block is read to the same place, `to`, and the bytes of the token that the
// last block ended in the middle of a word (fewer than 64) lie just before it.
// A read to a place off a 64-byte boundary costs up to five times as much in
// the kernel's copy; large blocks go to the start of a huge page.
struct Reading {
  int fd = STDIN_FILENO;
  std::size_t most = largeBlock;       // the largest block to ask for
  std::size_t block = 0;               // the block asked for now
  std::uint64_t done = 0;              // bytes read so far
  std::uint64_t growFrom = largeFrom;  // the bytes read before the blocks grow to `most`
  char* to = nullptr;
  std::size_t held = 0;
  bool inToken = false;
  std::unique_ptr<char[]> small;         // the buffer of small blocks
  std::unique_ptr<Word[], Unmap> large;  // the buffer of large blocks, mapped as a row's words are
};

// Reads to the start of a huge page from now on, `most` bytes at a time;
// keeps to small blocks if the buffer cannot be had.
inline void growBlock(Reading& reading) {
  std::size_t bytes = smallStart + reading.most;
  Word* const words = mapWords(bytes);  // smallStart bytes in small pages, then huge pages
  if (words == nullptr) {
    reading.most = reading.block;
    return;
  }
  reading.large = std::unique_ptr<Word[], Unmap>(words, Unmap{bytes});
  char* const to = reinterpret_cast<char*>(words) + smallStart;
  std::memcpy(to - reading.held, reading.to - reading.held, reading.held);
  reading.to = to;
  reading.block = reading.most;
}

// Starts reading a token from fd, at most `most` bytes at a time: `first`
// bytes at a time until `growFrom` bytes are read, or in large blocks at once
// where the input is known to be long. (The tests and the fuzz target make
// the first blocks and the switch small.)
inline void startReading(Reading& reading, int fd, std::size_t most, bool longInput, std::size_t first = smallBlock,
                         std::uint64_t growFrom = largeFrom) {
  reading.fd = fd;
  reading.most = most;
  reading.growFrom = growFrom;
  reading.block = std::min(most, first);
  reading.small.reset(new char[2 * std::size_t{wordBits} + reading.block]);
  const auto start = reinterpret_cast<std::uintptr_t>(reading.small.get()) + wordBits;
  reading.to = reading.small.get() + (-start % wordBits) + wordBits;
  if (longInput && most > reading.block) growBlock(reading);
}

// Reads the next block of the token and appends one bit per byte of it to
// row: set for "1", clear for every other byte. Returns true while the token
// goes on; once it has ended, leaves a seekable input's offset just after it
// and returns false. `piece` views the part of the token in the block being
// packed while it is; the token is never held whole. Reads until the token
// ends, whatever size the input claims.
inline bool readMore(Reading& reading, BitRow& row, std::string_view& piece) {
  if (reading.block < reading.most && reading.done >= reading.growFrom) growBlock(reading);
  for (;;) {
    const ssize_t got = read(reading.fd, reading.to, reading.block);
    if (got < 0) {
      if (wouldWait(errno)) {
        awaitReady(reading.fd, POLLIN);
      } else if (errno != EINTR) {
        failReading();
      }
      continue;
    }
    reading.done += static_cast<std::uint64_t>(got);
    const char* p = reading.to - reading.held;
    std::size_t len = reading.held + static_cast<std::size_t>(got);
    if (!reading.inToken) {
      const std::size_t blanks = skipSpaces(p, len);
      p += blanks;
      len -= blanks;
      if (len == 0 && got > 0) continue;  // nothing but whitespace so far
      reading.inToken = true;
    }
    const Packed packed = appendToken(row, p, len, got == 0);
    piece = std::string_view(p, packed.taken);
    if (packed.ended || got == 0) {
      // Hand back what was read past the token, where the input can seek.
      if (len > packed.taken) lseek(reading.fd, -static_cast<off_t>(len - packed.taken), SEEK_CUR);
      piece = {};
      return false;
    }
    reading.held = len - packed.taken;
    std::memmove(reading.to - reading.held, p + packed.taken, reading.held);
    return true;
  }
}
