// A row of bits, and the memory its words live in.
//
// A row's words lie in one anonymous mapping of their own, reserved up front
// for the largest row a file can give and grown in place: the kernel backs a
// page only when it is first touched, so a reservation larger than the row
// costs address space and nothing else. Fresh memory is the one cost of
// building a row that reading the input does not have: in 4 KiB pages a row of
// 10^9 positions takes 30,500 page faults, at 1.3 to 10.7 us each by machine.
// So, where the system offers transparent huge pages, the mapping is advised
// for them, and the same row takes some 60 faults of 2 MiB.
//
// Where the input has no size (a pipe), or a reservation is refused (strict
// overcommit, a low `ulimit -v`) or turns out too small, the row grows as a
// vector does: Linux moves the mapping's pages with mremap, without copying
// them, and elsewhere they are copied.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

using Word = std::uint64_t;
constexpr int wordBits = 64;

// Unmaps a row's words: the whole mapping, which begins where they do.
struct Unmap {
  std::size_t bytes = 0;
  void operator()(Word* words) const { munmap(words, bytes); }
};

// A growable packed row of n positions: position i is bit i % 64 of
// words[i / 64]. The words may stop before the row does: every position past
// the `count` words held is clear, so a row that is clear towards its top end
// costs only its lower part. No bit at n or above is ever set, count never
// passes the words that n positions take, and every word of the mapping past
// count is clear (fresh memory is, and count never goes down).
struct BitRow {
  std::unique_ptr<Word[], Unmap> words;
  std::size_t count = 0;     // words held
  std::size_t capacity = 0;  // words the row may hold before it grows (the mapping may have more)
  std::int64_t n = 0;
};

// The mapping's start that stays in 4 KiB pages: a row of up to 524,288
// positions never waits for the kernel to clear a whole huge page for it.
constexpr std::size_t smallStart = std::size_t{1} << 16;

// The transparent huge page of x86-64, and of arm64 with 4 KiB pages.
constexpr std::size_t hugePage = std::size_t{1} << 21;

#if defined(MAP_NORESERVE)
// Pages are backed only when touched: no swap is set aside for the rest.
constexpr int noReserve = MAP_NORESERVE;
#else
constexpr int noReserve = 0;
#endif

// The bytes of a mapping that holds `words` words: whole pages, or 0 when no
// mapping could be that large.
inline std::size_t mappingBytes(std::size_t words) {
  static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  if (words > (std::numeric_limits<std::size_t>::max() - 2 * hugePage) / sizeof(Word)) return 0;
  return (words * sizeof(Word) + page - 1) / page * page;
}

// Advises a row's mapping for transparent huge pages, where the system has them.
inline void adviseHuge([[maybe_unused]] Word* words, [[maybe_unused]] std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
  if (bytes > smallStart) madvise(words, bytes, MADV_HUGEPAGE);
#endif
}

// A place for a mapping of `bytes` bytes (whole pages) that starts `head`
// bytes below a huge page's boundary, mapped, or nullptr when refused: a huge
// page more than that is mapped, and the ends that are not needed given back.
inline char* placeMapping(std::size_t bytes, std::size_t head) {
  void* const at =
      mmap(nullptr, bytes + hugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | noReserve, -1, 0);
  if (at == MAP_FAILED) return nullptr;
  const std::size_t skip = (hugePage - (reinterpret_cast<std::uintptr_t>(at) + head) % hugePage) % hugePage;
  char* const start = static_cast<char*>(at) + skip;
  if (skip > 0) munmap(at, skip);
  munmap(start + bytes, hugePage - skip);
  return start;
}

// The bytes of a mapping that starts `head` bytes below a huge page's
// boundary, holds at least `bytes` and ends on a boundary.
inline std::size_t hugeEnd(std::size_t bytes, std::size_t head) {
  return (bytes - head + hugePage - 1) / hugePage * hugePage + head;
}

// Maps at least `bytes` bytes of fresh memory for a row's words; returns them
// and sets `bytes` to what was mapped, or nullptr when refused. A huge page is
// only ever made of a 2 MiB stretch that lies wholly inside the mapping: so a
// large mapping starts smallStart bytes below a huge page's boundary and ends
// on one, its start stays in small pages, and all the rest can be huge.
inline Word* mapWords(std::size_t& bytes) {
  if (bytes <= smallStart) {
    void* const at = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | noReserve, -1, 0);
    return at == MAP_FAILED ? nullptr : static_cast<Word*>(at);
  }
  bytes = hugeEnd(bytes, smallStart);
  auto* const words = reinterpret_cast<Word*>(placeMapping(bytes, smallStart));
  if (words != nullptr) adviseHuge(words, bytes);
  return words;
}

// Gives a row without words room for `want` words in one mapping, if it can
// be had. Returns whether the row has the room.
inline bool reserveRow(BitRow& row, std::size_t want) {
  assert(row.words == nullptr);  // a row with words grows with growWords
  std::size_t bytes = mappingBytes(want);
  Word* const words = bytes == 0 ? nullptr : mapWords(bytes);
  if (words == nullptr) return false;
  row.words = std::unique_ptr<Word[], Unmap>(words, Unmap{bytes});
  row.capacity = want;
  return true;
}

// Gives the row room for at least `want` words, keeping its words (all its
// room holds, which a sweep may have set past those held); room grows
// geometrically. Throws std::bad_alloc when no memory can be had.
inline void growWords(BitRow& row, std::size_t want) {
  if (want <= row.capacity) return;
  const std::size_t words = std::max({want, 2 * row.capacity, std::size_t{16}});  // 1024 positions first
  if (row.words == nullptr) {
    if (!reserveRow(row, words)) throw std::bad_alloc();
    return;
  }
  std::size_t bytes = mappingBytes(words);
  if (bytes == 0) throw std::bad_alloc();
  Word* const old = row.words.get();
  const std::size_t oldBytes = row.words.get_deleter().bytes;
  if (bytes > oldBytes) {
#if defined(MREMAP_MAYMOVE) && defined(MREMAP_FIXED)
    // Moves the pages, not their contents, and the advice for huge pages goes
    // with them: to a place as far from a huge page's boundary as they are
    // now, where their huge pages stay whole. The place is held by a mapping
    // until the move, so that nothing else takes it; where a limit on the
    // address space (ulimit -v) refuses the old mapping, that one and the
    // growth at once, the kernel moves the pages where it can. A mapping of
    // small pages (64 KiB at most) is copied instead, into one laid out as a
    // reserved one.
    if (oldBytes > smallStart) {
      const std::size_t head = (hugePage - reinterpret_cast<std::uintptr_t>(old) % hugePage) % hugePage;
      const std::size_t placed = hugeEnd(bytes, head);
      char* const place = placeMapping(placed, head);
      void* moved = place == nullptr ? MAP_FAILED : mremap(old, oldBytes, placed, MREMAP_MAYMOVE | MREMAP_FIXED, place);
      if (moved != MAP_FAILED) {
        bytes = placed;
      } else {
        if (place != nullptr) munmap(place, placed);
        moved = mremap(old, oldBytes, bytes, MREMAP_MAYMOVE);
        if (moved == MAP_FAILED) throw std::bad_alloc();
      }
      (void)row.words.release();
      row.words = std::unique_ptr<Word[], Unmap>(static_cast<Word*>(moved), Unmap{bytes});
      row.capacity = words;
      return;
    }
#endif
    Word* const fresh = mapWords(bytes);
    if (fresh == nullptr) throw std::bad_alloc();
    std::memcpy(fresh, old, row.capacity * sizeof(Word));
    row.words = std::unique_ptr<Word[], Unmap>(fresh, Unmap{bytes});
  }
  row.capacity = words;
}
