// spindra: reads one token of bits from standard input and runs spreading
// rounds on it until no closed run is shorter than MAXN, then writes -1.

#include "row.hpp"

// Rounds of scan and spread; a round that finds no closed run shorter than
// MAXN ends the program with -1.
static void runRounds() {
  std::int64_t atLeast = 1;  // no closed run of the row is shorter
  do {
    hasChange = false;
    const RunScan scan = scanRuns(atLeast);
    if (scan.k == MAXN) {
      writeOut("-1", 2);
      return;
    }
    spreadPass(scan.k);
    ++sol;
    atLeast = std::min<std::int64_t>(2 * scan.k, MAXN);
  } while (hasChange);
  writeNumber(sol);
}

int main() {
  try {
    readRow();
    runRounds();
  } catch (...) {
    return failure("spindra");
  }
  return 0;
}
