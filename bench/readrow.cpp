// spindra's reading alone: builds the row from standard input, with the scan
// that follows the reader, and runs no round, to show how much of a run
// reading the input takes. With --trip, it then goes once through the row it
// built, reading every word: the least that a run costs whose next round is
// only settled by the row's end, and must go over the row again.
#include <cstring>

#include "row.hpp"

static void noRounds() {}

static void trip() {
  Word seen = 0;
  for (std::size_t i = 0; i < zecovi.count; ++i) seen |= zecovi.words[i];
  volatile Word kept = seen;  // so that the trip is made
  (void)kept;
}

int main(int argc, char** argv) {
  const bool withTrip = argc == 2 && std::strcmp(argv[1], "--trip") == 0;
  return runProgram("readrow", withTrip ? trip : noRounds, withTrip ? 1 : argc, false);
}
