// libFuzzer target, all in-process. The first byte of an input picks the
// block size the reader uses (1 to 256 bytes, more on long inputs so that a
// run stays quick), how much smaller its first blocks are and after how many
// bytes (32 to 4096) they grow, the words it reserves for the row (none, one,
// or enough), whether rounds follow the reader, and the words a sweep takes at
// a time (1 to 128); the rest is standard input. Checked against the exact
// whitespace set and the literal model:
// - the input's 64-byte blocks, from an offset the first byte picks: every
//   classifier, bit by bit;
// - readRow, from a pipe, block by block: the row, and the rounds and the scan
//   that followed the reader;
// - every round of the scan and the pass on that row: k, pos, whether the pass
//   reached a target and grew the row, and the row;
// - sweeps over the row: the row after each, and the next round's k;
// - each program's whole output, where the model's is short enough to check.
// A mismatch aborts.

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/harness.hpp"

// Each program whole, in a namespace of its own: its runRounds, and its main
// as an ordinary function (libFuzzer brings the process's main).
namespace plain {
#include "spindra.cpp"
}
namespace tracing {
#include "spindra2.cpp"
}

namespace {

// Traces of more lines than this are not compared whole: a line is a write,
// and a long trace would cost more than all the rest (it must also fit a
// pipe's 64 KiB; inputs stay below 12,000 bytes, so lines below 25 bytes).
constexpr std::uint64_t traceCap = 256;

void expect(bool ok, const char* what, const std::string& input) {
  if (ok) return;
  std::fprintf(stderr, "%s differs from the model on %zu input bytes\n", what, input.size());
  std::abort();
}

// readRow on `input` from a pipe, then `rounds` when given, with standard
// output to a pipe; returns what was written.
std::string runShell(const std::string& input, const ReadSizes& sizes, void (*rounds)()) {
  std::thread unused;
  const int in = feedPipe({input}, unused);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) std::abort();
  const int savedOut = dup(STDOUT_FILENO);
  dup2(out[1], STDOUT_FILENO);
  close(out[1]);
  readRowOn(in, sizes);
  if (rounds != nullptr) rounds();
  dup2(savedOut, STDOUT_FILENO);
  close(savedOut);
  close(in);
  std::string written;
  char buf[4096];
  for (ssize_t got; (got = read(out[0], buf, sizeof buf)) > 0;) written.append(buf, static_cast<std::size_t>(got));
  close(out[0]);
  return written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  ReadSizes sizes;
  sizes.block = std::max<std::size_t>(1 + data[0], input.size() / 64);
  // The programs reserve far more: that much address space costs the sanitizers dear on every input.
  sizes.reserve = data[0] % 3 == 0 ? 0 : data[0] % 3 == 1 ? 1 : wordsFor(input.size());
  sizes.roundsFollow = data[0] / 3 % 2 == 1;
  sizes.sweepWords = std::size_t{1} << data[0] % 8;
  // Blocks that grow: the first ones smaller, until 32 to 4096 bytes are read.
  sizes.firstBlock = std::max<std::size_t>(1, sizes.block >> (data[0] / 32 % 4));
  sizes.growFrom = std::uint64_t{32} << (data[0] / 16 % 8);
  for (std::size_t at = data[0] % wordBits; at + wordBits <= input.size(); at += wordBits) {
    expect(classifiersAgree(input.data() + at), "a classifier", input);
  }

  // The rounds as the tracing program runs them; the plain program's are the
  // same up to its first round with k = MAXN.
  const std::string token = modelToken(input);
  const ModelRun model = modelRunToken(token, true, traceCap);
  runShell(input, sizes, nullptr);
  expect(readSweepMismatch(token, model.rounds, sizes.roundsFollow).empty(), "the row read", input);
  const auto done = static_cast<std::size_t>(readSweep.rounds);
  expect(sweepsMismatch(copyOf(zecovi), model.rounds, sizes.sweepWords, done).empty(), "a sweep", input);
  Unfilled unfilled = sizes.roundsFollow ? unfilledWords : Unfilled{};
  expect(sweepsMismatch(copyOf(zecovi), model.rounds, sizes.sweepWords, done, &unfilled).empty(),
         "a sweep over the words not all ones", input);
  expect(roundsMismatch(std::move(zecovi), model.rounds, done).empty(), "a round", input);

  const std::string plainOutput = modelRunToken(token, false, traceCap, false).output;
  sizes.roundsFollow = true;
  expect(runShell(input, sizes, plain::runRounds) == plainOutput, "spindra's output", input);
  sizes.roundsFollow = false;
  if (!model.traceCut) {
    expect(runShell(input, sizes, tracing::runRounds) == model.output, "spindra2's output", input);
  }
  return 0;
}
