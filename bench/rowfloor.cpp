// The row floor: what a one-thread reader that builds the row cannot help
// costing. Reads standard input in 1 MiB blocks into one reused, page-aligned
// buffer (a pipe given 1 MiB of room first, as the programs give it), and for
// every 8 bytes read writes one byte into fresh memory reserved once for the
// whole input and advised for huge pages (a word for every 64 bytes, as a row
// is packed); nothing classified, no round.
//
// With --classify, the classifier floor: the same, but each 64 bytes are
// classified by the widest classifier this machine has, and their word of
// "1" bits written: what a reader that only classifies cannot help costing.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "input.hpp"

alignas(4096) static char buffer[1 << 20];

// Reads standard input to its end, a word of row for every 64 bytes read,
// classified (or, without `classify`, its first 8 bytes copied as they are).
// Classified, the 64 bytes that hold whitespace end the token, as they end a
// reader's: the test for it is half of a classifier's work, and a floor that
// left its result unused would have the compiler drop it.
template <void (*classify)(const char*, Word&, Word&)>
[[gnu::always_inline]] inline void fill(char* row, std::size_t bytes) {
  std::size_t at = 0;
  for (ssize_t got; (got = read(STDIN_FILENO, buffer, sizeof buffer)) > 0;) {
    for (ssize_t i = 0; i + 64 <= got && at + 8 <= bytes; i += 64, at += 8) {
      if constexpr (classify == nullptr) {
        std::memcpy(row + at, buffer + i, 8);
      } else {
        Word ones = 0;
        Word spaces = 0;
        classify(buffer + i, ones, spaces);
        if (spaces != 0) return;
        std::memcpy(row + at, &ones, 8);
      }
    }
  }
}

#if defined(SPINDRA_AVX2)
// fill with an AVX2 or AVX-512 classifier, compiled for it, so that it is
// inlined as packWords inlines it.
[[gnu::target("sse2")]] void fillSse2(char* row, std::size_t bytes) { fill<classify64Sse2>(row, bytes); }
[[gnu::target("avx2")]] void fillAvx2(char* row, std::size_t bytes) { fill<classify64Avx2>(row, bytes); }
[[gnu::target("avx512f,avx512bw")]] void fillAvx512(char* row, std::size_t bytes) {
  fill<classify64Avx512>(row, bytes);
}
#endif
#if defined(SPINDRA_NEON)
[[SPINDRA_NEON_TARGET]] void fillNeon(char* row, std::size_t bytes) { fill<classify64Neon>(row, bytes); }
#endif

int main(int argc, char** argv) {
  struct stat st;
  if (fstat(STDIN_FILENO, &st) != 0) return 1;
#if defined(F_SETPIPE_SZ)
  if (S_ISFIFO(st.st_mode)) (void)fcntl(STDIN_FILENO, F_SETPIPE_SZ, 1 << 20);
#endif
  // From a pipe, room for a row of 10^10 positions; pages are backed as they are written.
  constexpr std::size_t huge = std::size_t{1} << 21;
  const std::size_t want = S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) / 8 + 1 : std::size_t{10} << 30;
  const std::size_t bytes = (want + huge - 1) / huge * huge;  // whole huge pages, from a huge page's boundary
  void* const mapped =
      mmap(nullptr, bytes + huge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mapped == MAP_FAILED) return 1;
  void* const memory = reinterpret_cast<void*>((reinterpret_cast<std::uintptr_t>(mapped) + huge - 1) & ~(huge - 1));
#if defined(MADV_HUGEPAGE)
  madvise(memory, bytes, MADV_HUGEPAGE);
#endif
  auto* const row = static_cast<char*>(memory);
  if (argc < 2 || std::strcmp(argv[1], "--classify") != 0) {
    fill<nullptr>(row, bytes);
#if defined(SPINDRA_AVX2)
  } else if (avx512Here) {
    fillAvx512(row, bytes);
  } else if (avx2Here) {
    fillAvx2(row, bytes);
  } else if (sse2Here) {
    fillSse2(row, bytes);
#endif
#if defined(SPINDRA_NEON)
  } else if (neonHere) {
    fillNeon(row, bytes);
#endif
#if defined(SPINDRA_VSX)
  } else if (vsxHere) {
    fill<classify64Vsx>(row, bytes);
#endif
  } else {
    fill<classify64Portable<>>(row, bytes);
  }
  return 0;
}
