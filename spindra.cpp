// spindra: reads one token of bits from standard input and runs spreading
// rounds on it until no closed run is shorter than MAXN, then writes -1.

#include "row.hpp"

// Rounds of scan and spread; a round that finds no closed run shorter than
// MAXN ends the program with -1. The rounds go by sweeps, each of which runs
// as many rounds as it can in one trip over the row and scans the row they
// leave as it goes. The first sweep followed the reader: it ran the rounds
// whose shifts were settled while the row was read.
static void runRounds() {
  sol += readSweep.rounds;
  std::int64_t k = readSweep.k;
  do {
    hasChange = false;
    if (k == MAXN) {
      writeOut("-1", 2);
      return;
    }
    const Sweep sweep = spreadRounds(k);
    sol += sweep.rounds;
    k = sweep.k;
  } while (hasChange);
  // Never reached: a round whose k is below MAXN always sets the position that
  // closes its shortest run, so hasChange stays true until a scan finds no
  // closed run shorter than MAXN. It stays as the loop's own end, the one that
  // the tracing program reaches.
  writeNumber(sol);
}

int main(int argc, char** /*argv*/) { return runProgram("spindra", runRounds, argc, true); }
