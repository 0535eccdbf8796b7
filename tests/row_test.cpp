// Unit tests of the shared steps: reading the row, the run scan, the pass.

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <csignal>
#include <random>

#include "harness.hpp"

namespace {

std::string repeat(const std::string& piece, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

// --- readRow ---------------------------------------------------------------------

struct ReadCase {
  std::string input;
  std::string token;  // what s must hold; the row is the same with "1" set and all else clear
};

std::vector<ReadCase> readCases() {
  std::vector<ReadCase> cases = {
      {"", ""},
      {"  \n\t\r\v\f ", ""},
      {"  1011  0\n", "1011"},
      {"1a1", "1a1"},
      {"1001", "1001"},
      {"\r\n1\r\n", "1"},
      {std::string("1\0 1", 4), std::string("1\0", 2)},
      {"\x80\xff"
       "1\xb1 rest",
       "\x80\xff"
       "1\xb1"},
      {"\t10\v11", "10"},
      {"01\f1", "01"},
  };
  // Tokens around the 64-byte blocks of the reader, one longer than MAXN, and
  // one longer than a page of the row's memory.
  for (const std::size_t len : {63, 64, 65, 127, 128, 129, 10001, 40000}) {
    std::string token;
    for (std::size_t i = 0; i < len; ++i) token += "10a"[i * 7 % 3];
    cases.push_back({" \n" + token + " 1111\n", token});
    cases.push_back({token, token});
  }
  return cases;
}

// Block sizes from one byte up, so that tokens, whitespace and the end of the
// input fall on every side of a block's edge.
const std::size_t blockSizes[] = {1, 7, 64, 65, largeBlock};

// Most words reserved for the row up front: none, as where the reservation is
// refused; one, too few for most tokens; and as many as the programs reserve.
const std::size_t reserves[] = {0, 1, maxWords};

// Where the blocks grow to the largest: as the programs have it (64 KiB
// blocks until 8 MiB are read), or after first blocks of 65 or 7 bytes, so
// that bytes of the token are held across the switch, and leading whitespace
// may lie across it.
struct Switch {
  std::size_t firstBlock;
  std::uint64_t growFrom;
};
const Switch switches[] = {{smallBlock, largeFrom}, {65, 130}, {7, 64}};

TEST(ReadRow, TakesOneTokenAsSetAndClearBits) {
  for (const Feed feed : {Feed::file, Feed::pipe}) {
    for (const std::size_t block : blockSizes) {
      for (const std::size_t reserve : reserves) {
        for (const Switch& at : switches) {
          if (at.growFrom != largeFrom && block <= at.firstBlock) continue;  // no block to grow to
          for (const ReadCase& c : readCases()) {
            SCOPED_TRACE(testing::Message()
                         << "feed " << static_cast<int>(feed) << ", block " << block << " from " << at.growFrom
                         << " bytes, first " << at.firstBlock << ", reserve " << reserve << ", input of "
                         << c.input.size() << " bytes: " << c.input.substr(0, 40));
            readRowOn(c.input, feed,
                      {.block = block, .reserve = reserve, .firstBlock = at.firstBlock, .growFrom = at.growFrom});
            EXPECT_EQ(zecovi.n, static_cast<std::int64_t>(c.token.size()));
            EXPECT_EQ(rowText(zecovi), bitsOf(c.token));
            EXPECT_LE(zecovi.count, (c.token.size() + 63) / 64);
            EXPECT_TRUE(hasChange);
            EXPECT_EQ(sol, 0);
          }
        }
      }
    }
  }
}

// The rounds behind the reader: every round whose shift a run near the
// bottom settles runs as the row is read, and leaves the row that the same
// rounds leave one by one. A sparse row whose runs double round by round
// settles all of them (k = 1, 2, 4 ... 512); "10" repeated only the first;
// "110" repeated none, since only its end shows that no run of 1 follows, nor
// runs of 100 and gaps of 28. The record of the words not all ones that the
// reader leaves takes the next rounds as the sweeps do: not whole where the
// scan went by words without taking them ("110": runs of 2), or where they
// pass the 4,096 it holds (4,200 gaps).
TEST(ReadRow, RunsTheRoundsItSettlesBehindTheReader) {
  struct Case {
    std::string token;
    std::int64_t rounds;  // behind the reader; -1: all that the model runs with k below MAXN
    bool whole;           // the record of the words not all ones
  };
  const std::string gapped = std::string(100, '1') + std::string(28, '0');
  const Case cases[] = {
      {repeat("1" + std::string(999, '0'), 200), -1, true},
      {repeat("10", 50000), 1, true},
      {repeat("110", 30000), 0, false},
      {repeat(gapped, 2000), 0, true},
      {repeat(gapped, 4200), 0, false},
  };
  for (const Feed feed : {Feed::file, Feed::pipe}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "feed " << static_cast<int>(feed) << ", " << c.token.substr(0, 20));
      readRowOn(c.token, feed, {.roundsFollow = true});
      const std::vector<ModelRound> rounds = modelRunToken(c.token, true, 0).rounds;
      const auto spreading =
          std::count_if(rounds.begin(), rounds.end(), [](const ModelRound& r) { return r.k < MAXN; });
      EXPECT_EQ(readSweep.rounds, c.rounds < 0 ? spreading : c.rounds);
      EXPECT_EQ(readSweepMismatch(c.token, rounds, true), "");
      Unfilled unfilled = unfilledWords;
      EXPECT_EQ(unfilled.whole, c.whole);
      EXPECT_EQ(
          sweepsMismatch(copyOf(zecovi), rounds, sweepBlock, static_cast<std::size_t>(readSweep.rounds), &unfilled),
          "");
    }
  }
}

TEST(ReadRow, LeavesAFileJustAfterTheToken) {
  // Starts at the current offset, wherever that is, and leaves the offset
  // where the token ended, whatever the block size.
  const std::string filler(5000, 'x');
  for (const std::size_t block : blockSizes) {
    for (const std::size_t at :
         {std::size_t{0}, std::size_t{1}, std::size_t{4095}, std::size_t{4096}, std::size_t{4999}}) {
      SCOPED_TRACE(testing::Message() << "from offset " << at << ", block " << block);
      const int fd = tempFile(filler + "\n  1101 rest");
      lseek(fd, static_cast<off_t>(at), SEEK_SET);
      readRowOn(fd, {.block = block});
      EXPECT_EQ(zecovi.n, static_cast<std::int64_t>(filler.size() - at));
      EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 5000);
      readRowOn(fd, {.block = block});
      EXPECT_EQ(rowText(zecovi), "1101");
      EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 5007);
      close(fd);
    }
    // A token that runs to the end of the file, from past its start.
    const int fd = tempFile("xx 1101");
    lseek(fd, 2, SEEK_SET);
    readRowOn(fd, {.block = block});
    EXPECT_EQ(rowText(zecovi), "1101");
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 7);
    close(fd);
  }
}

TEST(ReadRow, TakesPiecesThatArriveApart) {
  // Each piece one write, 2 ms apart, so that each read gets one: blank
  // pieces first, then pieces around a word's 64 bytes.
  const std::vector<std::string> pieces = {
      " ", "\n\t ", "1", std::string(63, '0'), std::string(64, '1'), repeat("10", 32) + "1", "a1", " 1 rest"};
  std::string input;
  for (const std::string& piece : pieces) input += piece;
  for (const std::size_t block : blockSizes) {
    SCOPED_TRACE(testing::Message() << "block " << block);
    std::thread writer;
    const int in = feedPipe(pieces, writer, std::chrono::milliseconds(2));
    readRowOn(in, {.block = block});
    closeInput(in, writer);
    EXPECT_EQ(rowText(zecovi), bitsOf(modelToken(input)));
  }
}

TEST(ReadRow, TakesASizeOfZeroAsAHintOnly) {
  // procfs reports a size of 0 for files that have content.
  const int fd = open("/proc/sys/kernel/osrelease", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const std::string token = modelToken(readAll(fd));
  ASSERT_FALSE(token.empty());
  lseek(fd, 0, SEEK_SET);
  readRowOn(fd);
  EXPECT_EQ(zecovi.n, static_cast<std::int64_t>(token.size()));
  EXPECT_EQ(rowText(zecovi), bitsOf(token));
  close(fd);
}

TEST(ReadRow, ReportsAReadError) {
  const int dir = open("/tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  try {
    readRowOn(dir);
    ADD_FAILURE() << "a directory read as a token";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.error, EISDIR);
    EXPECT_EQ(std::string(failure.what), "cannot read standard input");
  }
  close(dir);
}

// 64-byte blocks: every byte value; only control bytes that are not blanks;
// only blanks; each blank alone among ones at the first, a middle and the
// last byte; "0" and "1" at random, alone and with a byte one bit off "0" or
// "1" (any bit but the lowest) at each place; then random bytes.
std::vector<std::string> classifierBlocks() {
  std::vector<std::string> blocks;
  for (int c = 0; c < 256; c += 64) {
    blocks.emplace_back();
    for (int j = 0; j < 64; ++j) blocks.back() += static_cast<char>(c + j);
  }
  const std::string controls = "\x01\x02\x03\x04\x05\x06\x07\x08\x0e\x0f\x10\x11\x12\x13\x14\x15";
  blocks.push_back(repeat(controls, 4));
  blocks.push_back(repeat(" \t\n\v\f\r", 11).substr(0, 64));
  for (const char blank : std::string(" \t\n\v\f\r")) {
    for (const std::size_t at : {0, 37, 63}) {
      blocks.push_back(std::string(64, '1'));
      blocks.back()[at] = blank;
    }
  }
  std::mt19937_64 random(7);
  for (int at = -1; at < 64; ++at) {
    blocks.emplace_back();
    for (int j = 0; j < 64; ++j) blocks.back() += random() % 2 ? '1' : '0';
    if (at >= 0) blocks.back()[static_cast<std::size_t>(at)] = static_cast<char>("01"[at % 2] ^ (2 << (at % 7)));
  }
  while (blocks.size() < 2000) {
    blocks.emplace_back();
    for (int j = 0; j < 64; ++j) blocks.back() += static_cast<char>(random() % 256);
  }
  return blocks;
}

TEST(ReadRow, ClassifiesEveryByteValueAlikeOnBothPaths) {
  for (const std::string& block : classifierBlocks()) {
    std::string bytes;
    for (const unsigned char c : block) bytes += std::to_string(c) + " ";
    ASSERT_TRUE(classifiersAgree(block.data())) << "bytes " << bytes;
  }
}

// --- scanRuns --------------------------------------------------------------------

// Appends of several lengths at every offset of the first three words, onto
// rows whose words reach their end (the last position set) or stop short (all
// clear), against the same bits appended a position at a time.
TEST(AppendBits, AtEveryOffsetAcrossWordEdges) {
  for (const bool stoppedShort : {false, true}) {
    for (std::size_t start = 0; start <= 130; ++start) {
      for (const int count : {1, 2, 7, 63, 64}) {
        SCOPED_TRACE(testing::Message() << "start " << start << ", count " << count << ", " << stoppedShort);
        std::string expected(start, '0');
        if (!stoppedShort && start > 0) expected.back() = '1';
        BitRow row = rowOf(expected);
        const Word value = (0xA5C3A5C3A5C3A5C3 & lowBits(count)) | (Word{1} << (count - 1));  // the top bit set
        appendBits(row, value, count);
        for (int b = 0; b < count; ++b) expected += (value >> b) & 1 ? '1' : '0';
        ASSERT_EQ(rowText(row), expected);
        ASSERT_LE(row.count, wordsFor(row.n));
      }
    }
  }
}

TEST(ScanRuns, FindsTheShortestClosedRunAndTheLastRunStart) {
  struct Case {
    std::string row;
    std::int64_t k, pos;
  };
  const std::string ones63 = repeat("1", 63), ones64 = repeat("1", 64), ones9999 = repeat("1", 9999);
  std::vector<Case> cases = {
      {"", MAXN, -1},
      {"0000", MAXN, -1},
      {"1", MAXN, 0},
      {"11", MAXN, 0},
      {"0011", MAXN, 2},
      {"1010", 1, 2},
      {"1001", 1, 3},
      {"1101", 2, 3},
      {"110", 2, 0},
      {repeat("110", 40), 2, 117},
      {repeat("1110", 30) + "10", 1, 120},
      {ones63 + "0" + ones64 + "0" + "1", 63, 129},           // runs ending on word edges
      {"0" + repeat("1", 62) + "0" + ones64 + "00", 62, 64},  // a run filling exactly the second word
      {ones64 + ones64 + "0" + repeat("11110", 20), 4, 224},  // a run carried over two words, then short ones
      {repeat("0", 200) + repeat("1", 130) + "0", 130, 200},
      {ones9999 + "0", 9999, 0},
      {repeat("1", 10000) + "0", MAXN, 0},  // a closed run of exactly MAXN
      {repeat("1", 10001) + "0" + "1", MAXN, 10002},
      {repeat("1", 20000) + "0" + ones9999 + "01", 9999, 30001},  // a long row, still spread normally
      {repeat("0", 1000) + "1", MAXN, 1000},
      // Rows of 64 m positions, the last one set (an open run) or clear.
      {ones64, MAXN, 0},
      {repeat("0", 63) + "1", MAXN, 63},
      {ones63 + "0", 63, 0},
      {ones64 + ones64, MAXN, 0},
      {repeat("0", 127) + "1", MAXN, 127},
      {repeat("10", 64), 1, 126},
      {repeat("01", 64), 1, 127},
      // The shortest closed run ends on the top bit of the last word held, or
      // of the one before it, and clear positions follow: the words stop short
      // of n, and the clear word past them closes the run.
      {repeat("0", 63) + "1" + repeat("0", 10), 1, 63},
      {"11" + repeat("0", 125) + "1" + repeat("0", 70), 1, 127},
      {repeat("0", 63) + "1" + repeat("0", 10) + "11" + repeat("0", 60), 1, 74},
      {repeat("0", 62) + "11" + repeat("0", 10) + "111" + repeat("0", 59), 2, 74},
  };
  // Long rows whose runs are all 2, but for one run of 1 past the first
  // words, at the top bit of a word, at the bottom one, and inside one: the
  // tests for a run shorter than 2 that go past words many at a time.
  for (const std::size_t at : {64 * 30 + 63, 64 * 31, 64 * 32 + 17}) {
    std::string row = repeat("110", 1000);
    row.replace(at - 1, 3, "010");
    cases.push_back({row, 1, 2997});
  }
  for (int widest = 0; widest < 4; ++widest) {
    useKernels(widest);
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "kernels " << widest << ", "
                                      << (c.row.size() > 60 ? c.row.substr(0, 60) + "..." : c.row));
      const RunScan scan = scanRow(rowOf(c.row));
      EXPECT_EQ(scan.k, c.k);
      EXPECT_EQ(scan.pos, c.pos);
    }
  }
  useKernels(3);
}

// --- spreadPass ------------------------------------------------------------------

TEST(SpreadPass, CopiesEverySetBitKPositionsUp) {
  struct Case {
    std::string row;
    std::int64_t k;
    std::string after;
    bool reached, grew;
  };
  const std::vector<Case> cases = {
      {"1010", 1, "1111", true, true},
      {"1101", 2, "1111", true, true},
      // A bit the pass sets is not spread again in the same pass.
      {"1000", 1, "1100", true, true},
      {"1" + repeat("0", 130), 64, "1" + repeat("0", 63) + "1" + repeat("0", 66), true, true},
      {"1111", 2, "1111", true, false},   // sources set, targets set already
      {"0011", 1, "0011", true, false},   // position 4 would be past the end
      {"0001", 1, "0001", false, false},  // the only set bit has no target inside the row
      {"0000", 1, "0000", false, false},  // no word held, no bit to spread
      {"1", 1, "1", false, false},        // k = n: no step
      {"10", MAXN, "10", false, false},   // k > n: no step
      {"1" + repeat("0", 70), 64, "1" + repeat("0", 63) + "1" + repeat("0", 6), true, true},
      {"1" + repeat("0", 70), 65, "1" + repeat("0", 64) + "1" + repeat("0", 5), true, true},
      {repeat("0", 60) + "11" + repeat("0", 68), 64, repeat("0", 60) + "11" + repeat("0", 62) + "11" + repeat("0", 4),
       true, true},
      {repeat("1", 10001), MAXN, repeat("1", 10001), true, false},
      {"1" + repeat("0", 10000), MAXN, "1" + repeat("0", 9999) + "1", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row.size() > 60 ? c.row.substr(0, 60) + "..." : c.row);
    BitRow row = rowOf(c.row);
    const Spread done = spreadRow(row, c.k);
    EXPECT_EQ(rowText(row), c.after);
    EXPECT_EQ(row.n, static_cast<std::int64_t>(c.row.size()));
    EXPECT_EQ(done.reached, c.reached);
    EXPECT_EQ(done.grew, c.grew);
    // Nothing is ever set past the end of the row.
    if (row.n % 64 != 0 && row.count == (c.after.size() + 63) / 64) {
      EXPECT_EQ(row.words[row.count - 1] >> (row.n % 64), 0U);
    }
  }
}

// k just below, at and just above n, for n around word edges.
TEST(SpreadPass, ShiftsNearTheRowsLength) {
  for (const std::int64_t n : {63, 64, 65, 127, 128, 129}) {
    for (const std::int64_t k : {n - 1, n, n + 1}) {
      SCOPED_TRACE(testing::Message() << "n " << n << ", k " << k);
      const std::string before = "1" + repeat("0", static_cast<std::size_t>(n) - 2) + "1";
      std::string after = before;
      if (k < n) after[static_cast<std::size_t>(k)] = '1';
      BitRow row = rowOf(before);
      const Spread done = spreadRow(row, k);
      EXPECT_EQ(rowText(row), after);
      EXPECT_EQ(done.reached, k < n);
      EXPECT_EQ(done.grew, k < n - 1);
      EXPECT_LE(row.count, wordsFor(n));
    }
  }
}

// A sweep keeps its rounds, and the words under a block that each takes, in
// room of a fixed size, which rounds whose shifts each at least double never
// fill. Handed shifts that do not double, it joins the rounds that fit, turns
// the rest away, and spreads the row as the rounds it joined, one by one, do.
TEST(SweepRow, JoinsNoRoundPastItsRoom) {
  struct Case {
    const char* what;
    std::vector<std::int64_t> shifts;
    std::size_t joined;
  };
  std::vector<std::int64_t> doubling;
  for (std::int64_t k = 1; k < MAXN; k *= 2) doubling.push_back(k);
  const Case cases[] = {
      {"shifts that double, as the rounds give them", doubling, doubling.size()},
      {"more shifts of 1 than a sweep has rounds", std::vector<std::int64_t>(sweepRounds + 3, 1), sweepRounds},
      {"shifts of 9999, whose words under a block fill the room twice over", {9999, 9999, 9999}, 2},
  };
  std::string text(30000, '0');
  for (std::size_t i = 0; i < text.size(); i += 997) text[i] = '1';
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BitRow row = rowOf(text);
    BitRow expected = rowOf(text);
    Sweeping sweep;
    sweep.joins = false;  // only the rounds handed to it
    std::size_t joined = 0;
    for (const std::int64_t k : c.shifts) joined += joinSweep(sweep, row, k) ? 1 : 0;
    ASSERT_EQ(joined, c.joined);  // before a sweep that took more could run on
    EXPECT_EQ(endSweep(sweep, row).rounds, static_cast<std::int64_t>(c.joined));
    for (std::size_t r = 0; r < c.joined; ++r) spreadRow(expected, c.shifts[r]);
    EXPECT_EQ(rowText(row), rowText(expected));
  }
}

// A sweep's first rounds, taken together over its blocks (at once where
// their shifts are 1, 2, 4 ..., or in registers), leave the row, and each
// round's words under the next block, as the rounds one by one over the
// whole row leave them: four to eight rounds that double from 1 (up to 128),
// with a round after them, and rounds that do not, over rows of random bits
// at three densities cut into blocks of 1 to 67 words, with every form of
// the kernels.
TEST(SweepRow, TakesItsFirstRoundsTogetherAsOneByOne) {
  const std::vector<std::vector<int>> shiftSets = {{1, 2, 4, 8},
                                                   {1, 2, 4, 8, 16},
                                                   {1, 2, 4, 8, 16, 32},
                                                   {1, 2, 4, 8, 16, 32, 64},
                                                   {1, 2, 4, 8, 16, 32, 64, 128, 300},
                                                   {1, 2, 4, 8, 16, 32, 65},
                                                   {3, 6, 12, 24, 48},
                                                   {1, 2, 4}};
  std::mt19937_64 random(20261210);
  for (int widest = 0; widest < 4; ++widest) {
    useKernels(widest);
    for (const std::vector<int>& shifts : shiftSets) {
      for (const std::ptrdiff_t block : {1, 2, 5, 8, 9, 67}) {
        for (const int sparseness : {0, 2, 4}) {  // each bit set with probability 2^-(sparseness + 1)
          SCOPED_TRACE(testing::Message() << "kernels " << widest << ", " << shifts.size() << " rounds from "
                                          << shifts[0] << ", blocks of " << block << ", sparseness " << sparseness);
          std::vector<Word> words(3 * block + (block + 1) / 2);  // the last block shorter, from 1 word
          for (Word& word : words) {
            word = random();
            for (int i = 0; i < sparseness; ++i) word &= random();
          }
          std::vector<Stage> stages;
          std::size_t underUsed = 0;
          for (const int k : shifts) {
            stages.push_back({k / wordBits, k % wordBits, underUsed});
            underUsed += static_cast<std::size_t>(k / wordBits) + 1;
          }
          const auto count = static_cast<std::int64_t>(stages.size());
          std::vector<Word> expected = words;
          std::vector<Word> expectedUnders(underUsed);
          for (const Stage& stage : stages)
            spreadBlock(expected.data(), 0, std::ssize(words), stage, expectedUnders.data() + stage.under);
          std::vector<Word> unders(underUsed);
          for (std::ptrdiff_t from = 0; from < std::ssize(words); from += block)
            spreadStages(words.data(), from, std::min(from + block, std::ssize(words)), stages.data(), unders.data(),
                         count);
          EXPECT_EQ(words, expected);
          EXPECT_EQ(unders, expectedUnders);
        }
      }
    }
  }
  useKernels(3);
}

// Room for more words than the address space holds is refused, with or
// without words held: words whose bytes would wrap around to 8 never get a
// mapping of one page. A row that would pass the most words a row may take
// (a 32-bit address space's, or a 64-bit count of positions) runs out of
// memory, even where its words are clear, and never wraps.
TEST(GrowWords, RefusesRoomPastTheAddressSpace) {
  BitRow fresh;
  BitRow held = rowOf("1");
  for (BitRow* row : {&fresh, &held}) {
    EXPECT_THROW(growWords(*row, std::numeric_limits<std::size_t>::max() / sizeof(Word) + 2), std::bad_alloc);
  }
  // Clear words appended to a row that holds none of its words yet, `wordsLeft`
  // words short of the most: packed 64 bytes to a word, or by appendBits.
  struct Case {
    std::size_t wordsLeft;
    std::size_t bytes;  // packed; 0: 64 bits and then 1 appended by appendBits
    bool taken;
  };
  const Case cases[] = {
      {3, 4 * wordBits, false}, {1, 2 * wordBits, false}, {1, wordBits, true}, {0, wordBits, false}, {1, 0, false}};
  const std::string zeros(4 * wordBits, '0');
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.wordsLeft << " words left, " << c.bytes << " bytes");
    BitRow longest;
    longest.n = static_cast<std::int64_t>(maxWords - c.wordsLeft) * wordBits;
    const auto append = [&] {
      if (c.bytes > 0) return appendToken(longest, zeros.data(), c.bytes, true).taken == c.bytes;
      appendBits(longest, 0, wordBits);  // the most words, all clear
      appendBits(longest, 0, 1);
      return true;
    };
    if (c.taken) {
      EXPECT_TRUE(append());
      EXPECT_EQ(wordsFor(longest.n), maxWords);
    } else {
      EXPECT_THROW(append(), std::bad_alloc);
    }
  }
}

// The address space a row holds is the mapping its words say they have
// (what unmapping them gives back), no more, and none is left once the row
// is gone: as reserved for a token from a pipe (2 MiB) and from a file (its
// size, at most 1 GiB), and as the row grows, by a copy out of its first
// small pages and then by moving its pages. Read in /proc/self/maps, which
// qemu-user also gives its guest, so that every machine checks it.
TEST(RowMemory, HoldsWhatItSaysAndNoMore) {
  struct Case {
    const char* what;
    off_t fileSize;                  // of a sparse file that begins "1001\n"; -1 for a pipe; 0: growWords alone
    std::size_t reservedWords;       // the words reserved for the row read
    std::vector<std::size_t> grows;  // the words a row is then grown to, in turn
    rlim_t lastLimitMiB = 0;         // the address space the last growth may add, where limited
    std::size_t packed = 0;          // bytes of "1" then packed into a row without room, in 64 KiB and no more
  };
  const Case cases[] = {
    {"a pipe", -1, std::size_t{1} << 18, {}},                         // 2 MiB
    {"a file of 1 MiB", off_t{1} << 20, std::size_t{1} << 14, {}},    // 128 KiB
    {"a file of 16 GiB", off_t{16} << 30, std::size_t{1} << 27, {}},  // 1 GiB
    {"growth", 0, 0, {16, 8192, 8193, std::size_t{1} << 18, std::size_t{1} << 20, (std::size_t{1} << 21) + 1}},
#if defined(SPINDRA_OWN_LIMITS)
    // From 8 to 16 MiB under a limit on the address space: in 12 MiB more the
    // new place cannot be had; in 21 MiB it can, but not the move that holds
    // it, the old row and the growth at once (24 MiB), so the new place is
    // given back before the kernel moves the pages where it can (8 MiB).
    {"growth where the new place is refused", 0, 0, {std::size_t{1} << 20, std::size_t{1} << 21}, 12},
    {"growth where the move to the new place is refused", 0, 0, {std::size_t{1} << 20, std::size_t{1} << 21}, 21},
    // A block packed into a row without room takes the room for all of its
    // words at once: one mapping of 8 KiB, where growing by a word at a time
    // would hold 4 KiB and 8 KiB at once.
    {"a block packed into no room", 0, 0, {}, 0, std::size_t{1} << 16},
#endif
  };
  resetState();       // the row a test before left
  close(tempFile());  // glibc 2.41 maps the state of its random names at their first use
  const std::uint64_t before = mappedBytes();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.fileSize != 0) {
      std::thread writer;
      const int in = c.fileSize < 0 ? feedPipe({"1001\n"}, writer) : tempFile("1001\n");
      if (c.fileSize > 0) {
        ASSERT_EQ(ftruncate(in, c.fileSize), 0);
      }
      readRowOn(in);
      closeInput(in, writer);
      EXPECT_EQ(zecovi.words.get_deleter().bytes, hugeEnd(mappingBytes(c.reservedWords), smallStart));
      EXPECT_EQ(mappedBytes() - before, zecovi.words.get_deleter().bytes);
    }
    for (const std::size_t words : c.grows) {
      rlimit saved{};
      getrlimit(RLIMIT_AS, &saved);
      if (c.lastLimitMiB > 0 && words == c.grows.back()) {
        const rlimit limit{addressSpace() + (c.lastLimitMiB << 20), saved.rlim_max};
        setrlimit(RLIMIT_AS, &limit);
      }
      EXPECT_NO_THROW(growWords(zecovi, words));
      setrlimit(RLIMIT_AS, &saved);
      EXPECT_GE(zecovi.capacity, words);
      EXPECT_EQ(mappedBytes() - before, zecovi.words.get_deleter().bytes) << words << " words";
    }
    if (c.packed > 0) {
      const std::string ones(c.packed, '1');
      rlimit saved{};
      getrlimit(RLIMIT_AS, &saved);
      const rlimit limit{addressSpace() + mappingBytes(c.packed / wordBits), saved.rlim_max};
      setrlimit(RLIMIT_AS, &limit);
      Packed done{};
      EXPECT_NO_THROW(done = appendToken(zecovi, ones.data(), ones.size(), true));
      setrlimit(RLIMIT_AS, &saved);
      EXPECT_EQ(done.taken, c.packed);
      EXPECT_EQ(zecovi.words.get_deleter().bytes, mappingBytes(c.packed / wordBits));
    }
    zecovi = {};
    EXPECT_EQ(mappedBytes(), before);
  }
}

// Decimal digits written in place as the count grows, at each width's edges
// (from a power of ten too, its own count written first or not) and up to the
// largest count there is: what spindra2's trace lines begin with.
// 1,410,065,408 is 10^10 cut to 32 bits, where a bound held in 32 bits would wrap.
TEST(TraceDigits, GrowAtEveryPowerOfTen) {
  std::vector<std::int64_t> starts = {0, 1'410'065'406, std::numeric_limits<std::int64_t>::max() - 3};
  for (std::int64_t power = 10;; power *= 10) {
    starts.push_back(power - 2);
    starts.push_back(power);
    if (power > std::numeric_limits<std::int64_t>::max() / 10) break;  // the last power of ten an int64_t holds
  }
  for (const std::int64_t start : starts) {
    for (std::int64_t first = 0; first < 2; ++first) {  // the count they were made from is written first, or not
      SCOPED_TRACE(testing::Message() << "from " << start << ", first written " << start + first);
      Digits digits = digitsFrom(start);
      char text[decimalWidth];
      for (std::int64_t step = first; step < 4; ++step) {  // the last start ends at the largest
        const std::int64_t i = start + step;
        char* const from = writeDigits(digits, i, std::end(text));
        ASSERT_EQ(std::string(from, std::end(text)), std::to_string(i));
      }
    }
  }
}

// The shell's step: it sets hasChange, and never clears it.
TEST(SpreadPass, LeavesHasChangeSetBySomethingElse) {
  resetState();
  zecovi = rowOf("0001");
  hasChange = true;
  spreadPass(1);
  EXPECT_TRUE(hasChange);
}

// A signal whose handler is installed without SA_RESTART cuts a blocked read
// or write short: read(2) fails with EINTR, write(2) fails so or writes part
// of its bytes, and on a pipe that does not block, poll(2) fails with EINTR
// while the program waits for it. A thread sends one every half millisecond
// while a row is read from pieces that arrive apart, and while 256 KiB are
// written to a pipe drained so slowly that most writes find it full, each on
// a pipe that blocks and on one that does not; both must come whole.
TEST(SystemCalls, ReadAndWriteGoOnWhenASignalInterrupts) {
#if defined(SPINDRA_LAUNCHER) && defined(__i386__)
  GTEST_SKIP() << "qemu-i386 loses a thread's own pointer across a signal handler (a join then fails with EDEADLK)";
#endif
  struct sigaction action = {}, saved = {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &saved), 0);
  const pthread_t self = pthread_self();
  std::atomic<bool> done = false;
  std::thread interrupter([&] {
    while (!done) {
      pthread_kill(self, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  const auto setBlocking = [](int fd, bool blocks) {
    return fcntl(fd, F_SETFL, blocks ? fcntl(fd, F_GETFL) & ~O_NONBLOCK : fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
  };
  std::string text;
  for (int i = 0; text.size() < (1 << 18); ++i) text += std::to_string(i) + '\n';

  for (const bool blocks : {true, false}) {
    SCOPED_TRACE(blocks ? "pipes that block" : "pipes that do not block");
    const std::vector<std::string> pieces = {"\n", "10", std::string(100, '1'), "0011\n"};
    std::thread writer;
    const int in = feedPipe(pieces, writer, std::chrono::milliseconds(5));
    ASSERT_TRUE(setBlocking(in, blocks));
    EXPECT_NO_THROW(readRowOn(in));
    closeInput(in, writer);
    EXPECT_EQ(rowText(zecovi), bitsOf("10" + std::string(100, '1') + "0011"));

    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    ASSERT_TRUE(setBlocking(ends[1], blocks));
    std::string received;
    std::thread drainer([&received, fd = ends[0]] {
      char buf[4096];
      for (ssize_t got; (got = read(fd, buf, sizeof buf)) != 0;) {
        if (got > 0) received.append(buf, static_cast<std::size_t>(got));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    const int out = dup(STDOUT_FILENO);
    dup2(ends[1], STDOUT_FILENO);
    close(ends[1]);
    EXPECT_NO_THROW(writeOut(text.data(), text.size()));
    dup2(out, STDOUT_FILENO);
    close(out);
    drainer.join();
    close(ends[0]);
    EXPECT_TRUE(received == text) << "received " << received.size() << " of " << text.size() << " bytes";
  }

  done = true;
  interrupter.join();
  sigaction(SIGUSR1, &saved, nullptr);
}

// Positions past 2^31 - 1 and across 2^32, where positions cut to 32 bits,
// signed or not, would wrap: the word of each position around 2^32, and runs
// of 2 appended across 2^32 and 50 positions above, spread by 2. The row's
// memory is only touched where the runs are, and by the pass.
TEST(LongRows, PositionsAcross32Bits) {
  const std::int64_t at = (std::int64_t{1} << 32) - 1;
  for (const std::int64_t i : {at, at + 1, at + 2}) {
    EXPECT_EQ(wordOf(i), static_cast<std::size_t>(i / 64)) << i;
    EXPECT_EQ(bitOf(i), static_cast<int>(i % 64)) << i;
  }
  BitRow row;
  row.n = at;
  appendBits(row, 0b11, 2);
  row.n += 48;
  appendBits(row, 0b11, 2);
  row.n += 100;
  RunScan scan = scanRow(row);
  EXPECT_EQ(scan.k, 2);
  EXPECT_EQ(scan.pos, at + 50);
  const Spread done = spreadRow(row, scan.k);
  EXPECT_TRUE(done.reached);
  EXPECT_TRUE(done.grew);
  for (const std::int64_t i : {at, at + 3, at + 50, at + 53}) EXPECT_TRUE(testBit(row, i)) << i;
  for (const std::int64_t i : {at - 1, at + 4, at + 49, at + 54}) EXPECT_FALSE(testBit(row, i)) << i;
  scan = scanRow(row);
  EXPECT_EQ(scan.k, 4);
  EXPECT_EQ(scan.pos, at + 50);
  // Packed 64 bytes to a word across 2^32, from a row that holds none of the
  // words below: clear words, then a set position past 2^32.
  BitRow packed;
  packed.n = at + 1 - 2 * wordBits;
  const std::string zeros(4 * wordBits, '0');
  EXPECT_EQ(appendToken(packed, zeros.data(), zeros.size(), false).taken, zeros.size());
  EXPECT_EQ(packed.n, at + 1 + 2 * wordBits);
  EXPECT_EQ(appendToken(packed, "01\n", 3, true).taken, 2u);
  EXPECT_EQ(packed.n, at + 3 + 2 * wordBits);
  EXPECT_TRUE(testBit(packed, at + 2 + 2 * wordBits));
  EXPECT_FALSE(testBit(packed, at + 1 + 2 * wordBits));
}

}  // namespace
