// libFuzzer target, all in-process. The first byte of an input picks the
// block size the reader uses (1 to 256 bytes, more on long inputs so that a
// run stays quick), the words it reserves for the row (none, one, or enough)
// and the words a sweep takes at a time (1 to 128); the rest is standard
// input. Checked against the exact whitespace set and the literal model:
// - the input's 64-byte blocks, from an offset the first byte picks: every
//   classifier, bit by bit;
// - readRow, from a pipe, block by block: the row;
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
std::string runShell(const std::string& input, std::size_t block, std::size_t reserve, void (*rounds)()) {
  std::thread unused;
  const int in = feedPipe({input}, unused);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) std::abort();
  const int savedOut = dup(STDOUT_FILENO);
  dup2(out[1], STDOUT_FILENO);
  close(out[1]);
  readRowOn(in, block, reserve);
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
  const std::size_t block = std::max<std::size_t>(1 + data[0], input.size() / 64);
  // The programs reserve far more: that much address space costs the sanitizers dear on every input.
  const std::size_t reserve = data[0] % 3 == 0 ? 0 : data[0] % 3 == 1 ? 1 : wordsFor(input.size());
  for (std::size_t at = data[0] % wordBits; at + wordBits <= input.size(); at += wordBits) {
    expect(classifiersAgree(input.data() + at), "a classifier", input);
  }

  const std::string token = modelToken(input);
  runShell(input, block, reserve, nullptr);
  expect(rowText(zecovi) == bitsOf(token), "the row read", input);

  // The rounds as the tracing program runs them; the plain program's are the
  // same up to its first round with k = MAXN.
  const ModelRun model = modelRunToken(token, true, traceCap);
  expect(sweepsMismatch(copyOf(zecovi), model.rounds, std::size_t{1} << data[0] % 8).empty(), "a sweep", input);
  expect(roundsMismatch(std::move(zecovi), model.rounds).empty(), "a round", input);

  const std::string plainOutput = modelRunToken(token, false, traceCap, false).output;
  expect(runShell(input, block, reserve, plain::runRounds) == plainOutput, "spindra's output", input);
  if (!model.traceCut) {
    expect(runShell(input, block, reserve, tracing::runRounds) == model.output, "spindra2's output", input);
  }
  return 0;
}
