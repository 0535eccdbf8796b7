// The state and the steps that spindra and spindra2 share: the program-wide
// state, and the steps that apply the kernels to it (readRow, scanRuns,
// spreadPass), the output, and the report of a failure.
//
// Two layers. The kernels (memory.hpp, bits.hpp, input.hpp, scan.hpp,
// spread.hpp) take the row they work on, so tests and the fuzz target call
// them on rows of their own. This shell holds the program-wide state and
// applies them to it.
#pragma once

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>
#include <string_view>

#include "bits.hpp"
#include "input.hpp"
#include "memory.hpp"
#include "scan.hpp"
#include "spread.hpp"

// The part of the input token in the block being packed. The token is never
// held whole: every step after readRow reads only the row.
inline std::string_view s;
// The row; each round's pass spreads it in place. It is never torn down: the
// end of the process frees its memory at no cost, where unmapping it first
// costs a system call and a flush of the address translations.
inline BitRow& zecovi = *new BitRow;
inline bool hasChange = true;  // the current round's pass found a set source position
inline std::int64_t sol = 0;   // rounds counted so far

// Writes all of buf to standard output, however many calls it takes.
inline void writeOut(const char* buf, std::size_t len) {
  while (len > 0) {
    const ssize_t done = write(STDOUT_FILENO, buf, len);
    if (done < 0) {
      if (wouldWait(errno)) {
        awaitReady(STDOUT_FILENO, POLLOUT);
      } else if (errno != EINTR) {
        throw Failure{"cannot write standard output", errno};
      }
      continue;
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

// The decimal digits of a count that goes up by one at a time, written in
// place: the width only grows, by one at each power of ten, so no scratch
// buffer is copied and no width is measured anew.
struct Digits {
  std::size_t width;      // the digits of the count
  std::uint64_t widerAt;  // the first count with more: at most 10^19, past every int64_t
};

// The digits of counts from `from` (at least 0) on.
inline Digits digitsFrom(std::int64_t from) {
  Digits digits = {1, 10};
  for (; static_cast<std::uint64_t>(from) >= digits.widerAt; digits.widerAt *= 10) ++digits.width;
  return digits;
}

// Writes count i, one more than the last count written with `digits` (or
// the count they were made from), right before `end`; returns where it begins.
inline char* writeDigits(Digits& digits, std::int64_t i, char* end) {
  if (static_cast<std::uint64_t>(i) == digits.widerAt) {
    ++digits.width;
    digits.widerAt *= 10;
  }
  char* const from = end - digits.width;
  std::to_chars(from, end, i);
  return from;
}

// What the sweep that follows the reader leaves for the round loop: the
// rounds it ran, and the shortest closed run of the row they left (with no
// round run, of the row as read).
inline Sweep readSweep = {0, MAXN};

// The words of zecovi that are not all ones, as the last sweep over it left
// them, where the rounds run by sweeps.
inline Unfilled unfilledWords;

// Reads the token from standard input and appends one bit per byte of it to
// zecovi, at most `block` bytes a read (`firstBlock` until `growFrom` bytes
// are read), in memory reserved up front for the longest row a file can give
// (at most `reserve` words; the row grows past a reservation that is refused
// or too small, and where the input has no size). A sweep follows the reader,
// `sweepWords` words at a time, and scans each stretch of the row right after
// it is packed; where `roundsFollow`, every round whose shift is settled by
// then spreads it too. Leaves a seekable input's offset just after the token,
// and the sweep's result in readSweep.
inline void readRow(bool roundsFollow = false, std::size_t block = largeBlock, std::size_t reserve = maxWords,
                    std::size_t sweepWords = sweepBlock, std::size_t firstBlock = smallBlock,
                    std::uint64_t growFrom = largeFrom) {
  const std::uint64_t size = sizeUpInput(STDIN_FILENO);
  const std::uint64_t words =
      size > 0 ? std::min<std::uint64_t>((size + wordBits - 1) / wordBits, reserveMost) : unsizedReserve;
  if (words > 0) reserveRow(zecovi, std::min(static_cast<std::size_t>(words), reserve));
  Reading reading;
  startReading(reading, STDIN_FILENO, block, size >= growFrom, firstBlock, growFrom);
  Sweeping sweep;
  sweep.joins = roundsFollow;
  sweep.block = sweepWords;
  unfilledWords.whole = false;
  if (roundsFollow) {
    sweep.unfilled = &unfilledWords;
    restartScan(sweep);
  }
  while (readMore(reading, zecovi, s)) advanceSweep(sweep, zecovi, false);
  readSweep = endSweep(sweep, zecovi);
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

// Spreads zecovi round after round, the first round with shift k (below
// MAXN), as far as one sweep over it goes, and sets hasChange: every such
// round has a set position whose target lies inside the row, the start of
// its shortest closed run. Returns the rounds run and the shortest closed
// run of the row they leave.
inline Sweep spreadRounds(std::int64_t k) {
  const Sweep done = sweepRow(zecovi, k, sweepBlock, &unfilledWords);
  hasChange = true;
  return done;
}

// Writes one line to standard error, the concatenation of `parts`, in one
// call: the report of a failure, or the note on arguments.
inline void writeError(std::initializer_list<const char*> parts) {
  iovec pieces[8];
  assert(parts.size() <= 8);
  int count = 0;
  for (const char* part : parts) pieces[count++] = {const_cast<char*>(part), std::strlen(part)};
  (void)!writev(STDERR_FILENO, pieces, count);
}

// The whole of either program, given its name and how many arguments it has
// (argc): reads the row (with the rounds behind the reader where
// `roundsFollow`), runs the program's round loop, and reports a failure as
// "<program>: <what>: <reason>" on standard error; returns the exit status.
// Arguments are noted as ignored: a file named as one would otherwise go
// unread in silence, while the program waits for standard input or reads
// whatever is there.
inline int runProgram(const char* program, void (&runRounds)(), int argc, bool roundsFollow) {
  if (argc > 1) writeError({program, ": arguments are ignored; the row is read from standard input\n"});
  try {
    readRow(roundsFollow);
    runRounds();
  } catch (const Failure& failure) {
    writeError({program, ": ", failure.what, ": ", std::strerror(failure.error), "\n"});
    return 1;
  } catch (const std::bad_alloc&) {
    writeError({program, ": out of memory\n"});
    return 1;
  }
  return 0;
}
