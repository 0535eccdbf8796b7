// A literal model of both programs: the token read with operator>>, the row
// kept one byte per position, every scan and pass done position by position.
// Slow and obvious on purpose; the real code is checked against it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

// One scan of the model, and what the round did with it when it went on.
struct ModelRound {
  std::int64_t k = 0;
  std::int64_t pos = 0;
  bool stopped = false;    // the stop rule ended the program at this scan
  bool hasChange = false;  // after the pass
  bool grew = false;       // the pass set a position that was clear
  std::vector<char> row;   // the row after the round, a byte a position
};

struct ModelRun {
  std::string output;  // all of standard output
  std::vector<ModelRound> rounds;
  bool traceCut = false;  // more trace lines than the cap: output holds only the first ones
};

// The token as operator>> reads it.
inline std::string modelToken(const std::string& input) {
  std::istringstream in(input);
  std::string token;
  in >> token;
  return token;
}

// Runs the plain (tracing = false) or tracing program on the token s. The
// tracing model ends, as the program does, after a round that leaves the row
// unchanged. Trace lines past traceCap are counted but not kept; rounds are
// kept only when asked for.
inline ModelRun modelRunToken(const std::string& s, bool tracing,
                              std::uint64_t traceCap = std::numeric_limits<std::uint64_t>::max(),
                              bool keepRounds = true) {
  const std::int64_t maxn = 10000;
  std::vector<char> zecovi;
  for (const char c : s) zecovi.push_back(c == '1');
  const auto n = static_cast<std::int64_t>(zecovi.size());
  ModelRun run;
  std::uint64_t lines = 0;
  bool hasChange = true;
  std::int64_t sol = 0;
  do {
    hasChange = false;
    std::vector<char> zecovi2 = zecovi;
    ModelRound round;
    std::int64_t k = maxn, pos = -1;
    bool inOnes = false;
    for (std::int64_t i = 0; i < n; ++i) {
      if (zecovi[i]) {
        if (!inOnes) pos = i;
        inOnes = true;
      } else {
        if (inOnes) k = std::min(k, i - pos);
        inOnes = false;
      }
    }
    round.k = k;
    round.pos = pos;
    if (tracing ? pos == -1 : k == maxn) {
      round.stopped = true;
      if (keepRounds) run.rounds.push_back(round);
      run.output += "-1";
      return run;
    }
    for (std::int64_t i = 0; i + k < n; ++i) {
      if (tracing) {
        if (++lines <= traceCap) {
          run.output +=
              std::to_string(i) + " " + std::to_string(k) + " " + std::to_string(n) + " " + std::to_string(n) + "\n";
        } else {
          run.traceCut = true;
        }
      }
      if (zecovi[i]) {
        round.grew = round.grew || !zecovi2[i + k];
        zecovi2[i + k] = true;
        hasChange = true;
      }
    }
    ++sol;
    round.hasChange = hasChange;
    zecovi = zecovi2;
    if (keepRounds) {
      round.row = zecovi;
      run.rounds.push_back(round);
    }
    if (tracing && !round.grew) break;
  } while (hasChange);
  run.output += std::to_string(sol);
  return run;
}

// The same, on the whole standard input text of a run.
inline ModelRun modelRun(const std::string& input, bool tracing,
                         std::uint64_t traceCap = std::numeric_limits<std::uint64_t>::max()) {
  return modelRunToken(modelToken(input), tracing, traceCap);
}
