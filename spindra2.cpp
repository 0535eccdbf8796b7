// spindra2: reads one token of bits from standard input and runs spreading
// rounds on it until a pass finds nothing to spread, writing a trace line
// before every step of every pass; then writes the number of rounds.

#include <cinttypes>
#include <cstdio>

#include "row.hpp"

// Writes the trace line "i k n n" of every step i of a pass with shift k, one
// write per line so that each line is out before its step. The pass itself
// runs afterwards a word at a time; its steps read nothing the lines depend on.
static void traceSteps(std::int64_t k) {
  const std::int64_t n = zecovi.n;
  if (k >= n) return;
  constexpr std::size_t restRoom = 3 * (1 + decimalWidth) + 2;  // " k n n", the newline, snprintf's NUL
  char line[decimalWidth + restRoom];
  char* const afterI = line + decimalWidth;  // i is written right before the rest of the line
  // The last two numbers are the lengths of the row before and after the step: n both.
  const auto restLength =
      static_cast<std::size_t>(std::snprintf(afterI, restRoom, " %" PRId64 " %" PRIu64 " %" PRIu64 "\n", k,
                                             static_cast<std::uint64_t>(n), static_cast<std::uint64_t>(n)));
  Digits digits = digitsFrom(0);
  for (std::int64_t i = 0; i + k < n; ++i) {
    const char* const from = writeDigits(digits, i, afterI);
    writeOut(from, static_cast<std::size_t>(afterI - from) + restLength);
  }
}

// Rounds of scan, trace and spread, until a pass finds no set source position
// or leaves the row as it was; then writes the number of rounds. A row without
// a set bit ends at once with -1.
static void runRounds() {
  std::int64_t atLeast = 1;                            // no closed run of the row is shorter
  RunScan scan = {readSweep.k, lastRunStart(zecovi)};  // the first round's scan followed the reader
  for (;; scan = scanRuns(atLeast)) {
    hasChange = false;
    if (scan.pos == -1) {
      writeOut("-1", 2);
      return;
    }
    traceSteps(scan.k);
    const bool grew = spreadPass(scan.k);
    ++sol;
    atLeast = leastAfter(scan.k);
    // The loop ends after a round that leaves the row as it was. That takes in
    // every round whose pass found no set source (hasChange false, the
    // loop's own end), and also a round on a row longer than MAXN whose shift
    // k = MAXN finds set sources with their targets set already: every later
    // round would repeat it forever.
    if (!grew) break;
  }
  writeNumber(sol);
}

int main(int argc, char** /*argv*/) { return runProgram("spindra2", runRounds, argc, false); }
