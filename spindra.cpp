// spindra: reads one token of bits from standard input and runs spreading
// rounds on it until no closed run is shorter than MAXN, then writes -1.

#include "row.hpp"

// Rounds of scan and spread; a round that finds no closed run shorter than
// MAXN ends the program with -1.
static void runRounds() {
  do {
    hasChange = false;
    const RunScan scan = scanRuns();
    if (scan.k == MAXN) {
      writeOut("-1", 2);
      return;
    }
    spreadPass(scan.k);
    ++sol;
    std::swap(zecovi, zecovi2);
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
