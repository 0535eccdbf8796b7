// libFuzzer target: any bytes as standard input of both programs' own code
// (readRow from a file or a pipe, then the round loop), standard output
// compared byte for byte with the literal model's. A mismatch aborts.

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/harness.hpp"
#include "tests/model.hpp"

// Each program whole, in a namespace of its own: its runRounds, and its main
// as an ordinary function (libFuzzer brings the process's main).
namespace plain {
#include "spindra.cpp"
}
namespace tracing {
#include "spindra2.cpp"
}

namespace {

// Traces longer than this are not compared, so that one input stays small
// (rows longer than MAXN can run many rounds of n lines each).
constexpr std::uint64_t traceCap = 12'000;

// The file that standard output goes to while a program runs.
int captureFile() {
  static const int fd = tempFile();
  return fd;
}

// Runs a program's main on `input` through a file or a pipe, returning what it wrote.
std::string runMain(int (*programMain)(), const std::string& input, Feed feed) {
  int in;
  if (feed == Feed::file) {
    in = tempFile(input);
  } else {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) std::abort();
    // The fuzzer's inputs stay below a pipe's capacity, so all of it fits before the read.
    if (write(ends[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) std::abort();
    close(ends[1]);
    in = ends[0];
  }
  resetState();
  const int out = captureFile();
  if (ftruncate(out, 0) != 0) std::abort();
  lseek(out, 0, SEEK_SET);
  const int savedIn = dup(STDIN_FILENO), savedOut = dup(STDOUT_FILENO);
  dup2(in, STDIN_FILENO);
  dup2(out, STDOUT_FILENO);
  const int status = programMain();
  dup2(savedIn, STDIN_FILENO);
  dup2(savedOut, STDOUT_FILENO);
  close(savedIn);
  close(savedOut);
  close(in);
  if (status != 0) std::abort();
  return readAll(out);
}

void expectSame(const std::string& got, const std::string& want, const char* program, const std::string& input) {
  if (got == want) return;
  std::fprintf(stderr, "%s differs from the model on %zu input bytes: wrote %zu bytes, model %zu\n", program,
               input.size(), got.size(), want.size());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const Feed feed = size % 2 ? Feed::pipe : Feed::file;
  expectSame(runMain(plain::main, input, feed), modelRun(input, false).output, "spindra", input);
  const ModelRun traced = modelRun(input, true, traceCap);
  if (!traced.traceCut) expectSame(runMain(tracing::main, input, feed), traced.output, "spindra2", input);
  return 0;
}
