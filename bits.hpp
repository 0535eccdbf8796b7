// The row's words and the operations on them that everything else builds on:
// a position's word and bit, the row's invariant, and appending bits. Each
// takes the row it works on, so tests and the fuzz target call them on rows
// of their own.
#pragma once

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <limits>
#include <new>

#include "memory.hpp"

#if defined(__linux__)
#include <sys/auxv.h>
#endif

// Whether the kernel says the processor has the feature that `bit` of its
// AT_HWCAP record stands for; with no such record (not Linux), no: the
// kernels then take their plain forms, which give the same rows.
inline bool kernelSays([[maybe_unused]] unsigned long bit) {
#if defined(__linux__)
  return (getauxval(AT_HWCAP) & bit) != 0;
#else
  return false;
#endif
}

// On x86 the kernels that take most of a long row's time also come compiled
// for SSE2, AVX2 and AVX-512, for the machines that have them: they then take
// two, four or eight words (16, 32 or 64 input bytes) at a time. x86-64
// always has SSE2; Debian's i386 is built for the i686, which may not, so
// there it is looked up too. SPINDRA_PORTABLE leaves them out, so that the
// tests run the plain code on any machine; SPINDRA_NO_AVX512 leaves out the
// AVX-512 forms alone (for an assembler without them, or the coverage of the
// code that a machine without AVX-512 runs).
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(SPINDRA_PORTABLE)
#define SPINDRA_AVX2 1
#include <immintrin.h>
// glibc found out what the machine has as the program started; asking the
// processor again costs tens of microseconds under some hypervisors. Its
// header is C rather than C++ for clang.
#if defined(__GLIBC__) && !defined(__clang__) && __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#endif

// Whether this machine runs SSE2.
inline bool haveSse2() {
#if defined(__SSE2__)
  return true;
#elif defined(CPU_FEATURE_ACTIVE)
  return CPU_FEATURE_ACTIVE(SSE2);
#else
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse2") != 0;
#endif
}

// Whether this machine runs AVX2 (and its system saves the AVX registers).
inline bool haveAvx2() {
#if defined(CPU_FEATURE_ACTIVE)
  return CPU_FEATURE_ACTIVE(AVX2);
#else
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#endif
}

// Whether this machine runs AVX-512 with its byte instructions and leading
// zero counts (F, BW and CD, as every processor with BW has), and its system
// saves the registers.
inline bool haveAvx512() {
#if defined(CPU_FEATURE_ACTIVE)
  return CPU_FEATURE_ACTIVE(AVX512F) && CPU_FEATURE_ACTIVE(AVX512BW) && CPU_FEATURE_ACTIVE(AVX512CD);
#else
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
         __builtin_cpu_supports("avx512cd") != 0;
#endif
}

// Whether the kernels take their SSE2, AVX2 and AVX-512 forms on this
// machine: looked up once. Not constant, so that the tests can run every
// form on a machine that has them all; the programs never change them.
inline bool sse2Here = haveSse2();
inline bool avx2Here = haveAvx2();
#if defined(SPINDRA_NO_AVX512)
constexpr bool avx512Here = false;  // so the AVX-512 forms are never called, and not compiled
#else
inline bool avx512Here = haveAvx512();
#endif
#endif

// On ARM (little-endian, as Debian's arm64 and armhf are) the same kernels
// come in NEON forms, sixteen bytes or two words at a time. AArch64 always
// has NEON. Debian's armhf is built for ARMv7 with VFP, which may lack it:
// there the NEON forms are compiled for it in functions of their own
// (SPINDRA_NEON_TARGET), and taken where the kernel says the processor has
// it. armel (soft float) has none. SPINDRA_PORTABLE leaves them out too.
#if defined(__aarch64__) && defined(__ARM_NEON) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && \
    !defined(SPINDRA_PORTABLE)
#define SPINDRA_NEON 1
#define SPINDRA_NEON_TARGET
#include <arm_neon.h>
inline bool haveNeon() { return true; }
#elif defined(__arm__) && defined(__ARM_PCS_VFP) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && defined(__GNUC__) && \
    !defined(__clang__) && !defined(SPINDRA_PORTABLE)
#define SPINDRA_NEON 1
#define SPINDRA_NEON_TARGET gnu::target("fpu=neon")
#define SPINDRA_NEON_32 1  // ARMv7's NEON: no across-vector reductions, no 64-bit compares
#include <arm_neon.h>
inline bool haveNeon() { return kernelSays(1UL << 12); }  // HWCAP_ARM_NEON
#endif
#if defined(SPINDRA_NEON)
// Whether the kernels take their NEON forms. Not constant, so that the tests
// can run the plain forms too; the programs never change it.
inline bool neonHere = haveNeon();
#endif

// On 64-bit POWER (little-endian, as Debian's ppc64el is, built for POWER8)
// they come in VSX forms, sixteen bytes or two words at a time; every
// processor the port runs on has VSX and POWER8's vector instructions.
#if defined(__powerpc64__) && defined(__POWER8_VECTOR__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && \
    defined(__GNUC__) && !defined(SPINDRA_PORTABLE)
#define SPINDRA_VSX 1
#include <altivec.h>
// Whether the kernels take their VSX forms. Not constant, so that the tests
// can run the plain forms too; the programs never change it.
inline bool vsxHere = true;
#endif

// On riscv64 they come in forms for the vector extension (RVV 1.0), 64 bytes
// or eight words at a time where its registers are 128 bits, the least it
// allows: Debian's port is built for RV64GC, which lacks it, so they are
// compiled for it in functions of their own (SPINDRA_RVV_TARGET) and taken
// where the kernel says the processor has it. They are written with clang's
// generic vectors of 64 bytes, which it lays on the extension's registers in
// such a function: clang 19 declares the extension's intrinsics for 64-bit
// lanes only where the whole program is built for it, and g++ 12 has neither.
#if defined(__riscv) && __riscv_xlen == 64 && defined(__clang__) && __clang_major__ >= 19 && !defined(SPINDRA_PORTABLE)
#define SPINDRA_RVV 1
#define SPINDRA_RVV_TARGET gnu::target("arch=+v")
inline bool haveRvv() { return kernelSays(1UL << ('V' - 'A')); }  // the extension's letter
// Whether the kernels take their forms for the vector extension. Not
// constant, so that the tests can run the plain forms too; the programs
// never change it.
inline bool rvvHere = haveRvv();
#endif

// On s390x they come in forms for the vector facility, sixteen bytes or two
// words at a time, written with the compiler's generic vectors: Debian's
// port is built for the z196, which lacks it, so they are compiled for the
// z13 in functions of their own (SPINDRA_VX_TARGET) and taken where the
// kernel says the processor has it.
#if defined(__s390x__) && defined(__GNUC__) && !defined(__clang__) && !defined(SPINDRA_PORTABLE)
#define SPINDRA_VX 1
#define SPINDRA_VX_TARGET gnu::target("arch=z13")
inline bool haveVx() { return kernelSays(1UL << 11); }  // HWCAP_S390_VXRS
// Whether the kernels take their forms for the vector facility. Not
// constant, so that the tests can run the plain forms too; the programs
// never change it.
inline bool vxHere = haveVx();
#endif

constexpr Word allOnes = ~Word{0};

// The most words a row may take: their bytes fit the address space, and
// their positions a 64-bit count. A longer row runs out of memory. That is
// 2^29 - 1 words on a 32-bit machine (2^35 positions), 2^57 - 1 on a 64-bit one.
constexpr std::size_t maxWords = std::min<std::uint64_t>(std::numeric_limits<std::size_t>::max() / sizeof(Word),
                                                         std::numeric_limits<std::int64_t>::max() / wordBits);
static_assert(maxWords == (sizeof(std::size_t) == 4 ? (std::size_t{1} << 29) - 1 : (std::uint64_t{1} << 57) - 1));

// Positions are 64-bit on every machine; the words of a row fit a size_t.
inline std::size_t wordOf(std::int64_t i) { return static_cast<std::size_t>(static_cast<std::uint64_t>(i) / wordBits); }
inline int bitOf(std::int64_t i) { return static_cast<int>(static_cast<std::uint64_t>(i) % wordBits); }

// The low `count` bits set (count in 0..64).
inline Word lowBits(int count) { return count == wordBits ? allOnes : (Word{1} << count) - 1; }

// The number of words that hold n positions.
inline std::size_t wordsFor(std::int64_t n) { return wordOf(n + wordBits - 1); }

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
  if (wordsFor(row.n) >= maxWords) throw std::bad_alloc();
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
