// spindra's reading alone: builds the row from standard input, with the scan
// that follows the reader, and runs no round, to show how much of a run
// reading the input takes.
#include "row.hpp"

static void noRounds() {}

int main(int argc, char** /*argv*/) { return runProgram("readrow", noRounds, argc, false); }
