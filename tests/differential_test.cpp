// The programs and the shared steps against the literal model, on seeded
// random rows: short rows of every density, runs near MAXN long, rows longer
// than MAXN.

#include <gtest/gtest.h>

#include <random>

#include "harness.hpp"

namespace {

// The input for case `index`: a token, with whitespace around it, of a kind
// that the index picks.
std::string randomInput(std::mt19937_64& random, int index) {
  const auto below = [&](std::uint64_t bound) { return static_cast<std::size_t>(random() % bound); };
  std::size_t length;
  switch (index % 10) {
    case 8:
      length = 9990 + below(30);
      break;  // around MAXN
    case 9:
      length = 10001 + below(300);
      break;  // longer than MAXN
    default:
      length = below(300);
      break;
  }
  const double density = std::uniform_real_distribution<double>(0, 1)(random);
  std::string token;
  for (std::size_t i = 0; i < length; ++i) {
    if (std::bernoulli_distribution(density)(random)) {
      token += '1';
    } else {
      token += "0000000a\x00\xb1"[below(10)];
    }
  }
  if (index % 10 >= 8 && length > 40 && random() % 2) {
    // A long run somewhere: closed runs near MAXN, or the open end of the row.
    const std::size_t run = std::min(length, 9995 + below(10));
    const std::size_t at = below(length - run + 1);
    token.replace(at, run, run, '1');
  }
  const std::string blanks[] = {"", " ", "\n", "\t \r\n", "\v\f"};
  return blanks[below(5)] + token + blanks[below(5)] + (random() % 4 ? "" : "0 1");
}

constexpr int rowCount = 3500;

// The rows that the programs run on end to end, of the first programRows: every
// other short row, and 1 in 50 of the rows near and above MAXN, which trace
// some 30,000 lines each, a write a line. Their rounds are all compared in
// process above; whole runs add what only they show: the trace's writes, the
// loop's end and the output's framing. spindra writes "-1" for every row, so
// its runs can only find a crash, a hang or a wrong byte of those two: it runs
// on the first tenth. Starting a sanitized program costs about as much as a
// thousand unsanitized runs: that build runs fewer rows of either.
#ifndef SPINDRA_PROGRAM_ROWS
#define SPINDRA_PROGRAM_ROWS rowCount
#endif
constexpr int programRows = SPINDRA_PROGRAM_ROWS;
bool runsWhole(int index) { return index % 10 >= 8 ? index / 10 % 25 == 0 : index % 2 == 0; }

// Every round of the model against the row that readRow builds, from a file
// or a pipe, in memory reserved for the whole row, for part of it or for none
// of it, with rounds behind the reader or only the scan, a block of 64 to
// 200 bytes or the whole row a read; against the rounds and the scan that
// followed the reader; against the scan and the pass on that row; and against
// sweeps over it in blocks of every size up to the whole row. The kernels take
// each of their forms in turn: the widest the machine has, AVX2, SSE2, plain C++.
TEST(Differential, RoundsMatchTheModel) {
  std::mt19937_64 random(20261208);
  const std::size_t reserves[] = {maxWords, 0, 1, 40};
  const std::size_t readBlocks[] = {64, 65, 200, largeBlock};
  const std::size_t sweepBlocks[] = {1, 2, 5, 64, sweepBlock};
  for (int index = 0; index < rowCount; ++index) {
    const std::string input = randomInput(random, index);
    const std::string token = modelToken(input);
    const ReadSizes sizes = {readBlocks[index / 2 % 4], reserves[index % 4], index % 2 == 1, sweepBlocks[index % 5]};
    SCOPED_TRACE(testing::Message() << "case " << index << ", kernels " << index / 3 % 4 << ", read block "
                                    << sizes.block << ", reserve " << sizes.reserve << ", rounds follow "
                                    << sizes.roundsFollow << ", token " << token.substr(0, 50));
    useKernels(index / 3 % 4);
    readRowOn(input, index % 3 ? Feed::pipe : Feed::file, sizes);
    const std::vector<ModelRound> rounds = modelRunToken(token, true, 0).rounds;
    ASSERT_EQ(readSweepMismatch(token, rounds, sizes.roundsFollow), "");
    const auto done = static_cast<std::size_t>(readSweep.rounds);
    // The record that the reader's sweep left, and one that only the sweeps make.
    Unfilled unfilled = sizes.roundsFollow ? unfilledWords : Unfilled{};
    ASSERT_EQ(sweepsMismatch(copyOf(zecovi), rounds, sizes.sweepWords, done), "");
    ASSERT_EQ(sweepsMismatch(copyOf(zecovi), rounds, sizes.sweepWords, done, &unfilled), "");
    ASSERT_EQ(roundsMismatch(std::move(zecovi), rounds, done), "");
  }
  useKernels(3);
  std::printf("kernel forms run: %s\n", kernelForms().c_str());
}

// Both programs' whole output against the model's, through a file and a pipe.
TEST(Differential, ProgramsMatchTheModel) {
  std::mt19937_64 random(20261208);
  for (int index = 0; index < programRows; ++index) {
    const std::string input = randomInput(random, index);
    SCOPED_TRACE(testing::Message() << "case " << index << ", token " << modelToken(input).substr(0, 50));
    const Feed feed = index / 2 % 2 ? Feed::pipe : Feed::file;
    if (index < programRows / 10) {
      ASSERT_EQ(mismatch(SPINDRA, input, feed, modelRun(input, false).output), "");
    }
    if (runsWhole(index)) {
      ASSERT_EQ(mismatch(SPINDRA2, input, feed, modelRun(input, true).output), "");
    }
  }
}

}  // namespace
