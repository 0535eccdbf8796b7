// Unit tests of the shared steps: reading the row, the run scan, the pass.

#include <gtest/gtest.h>

#include <random>

#include "harness.hpp"
#include "model.hpp"

namespace {

// --- readRow ---------------------------------------------------------------------

struct ReadCase {
  std::string input;
  std::string token;  // what s must hold; the row is the same with "1" set and all else clear
};

std::string bitsOf(const std::string& token) {
  std::string bits;
  for (const char c : token) bits += c == '1' ? '1' : '0';
  return bits;
}

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
  // Tokens around the 64-byte blocks of the reader, and one longer than MAXN.
  for (const std::size_t len : {63, 64, 65, 127, 128, 129, 10001}) {
    std::string token;
    for (std::size_t i = 0; i < len; ++i) token += "10a"[i * 7 % 3];
    cases.push_back({" \n" + token + " 1111\n", token});
    cases.push_back({token, token});
  }
  return cases;
}

// Block sizes from one byte up, so that tokens, whitespace and the end of the
// input fall on every side of a block's edge.
const std::size_t blockSizes[] = {1, 7, 64, 65, readBlock};

TEST(ReadRow, TakesOneTokenAsSetAndClearBits) {
  for (const Feed feed : {Feed::file, Feed::pipe}) {
    for (const std::size_t block : blockSizes) {
      for (const ReadCase& c : readCases()) {
        SCOPED_TRACE(testing::Message() << "feed " << static_cast<int>(feed) << ", block " << block << ", input of "
                                        << c.input.size() << " bytes: " << c.input.substr(0, 40));
        readRowOn(c.input, feed, block);
        EXPECT_EQ(zecovi.n, static_cast<std::int64_t>(c.token.size()));
        EXPECT_EQ(rowText(zecovi), bitsOf(c.token));
        EXPECT_LE(zecovi.count, (c.token.size() + 63) / 64);
        EXPECT_TRUE(hasChange);
        EXPECT_EQ(sol, 0);
      }
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
      readRowOn(fd, block);
      EXPECT_EQ(zecovi.n, static_cast<std::int64_t>(filler.size() - at));
      EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 5000);
      readRowOn(fd, block);
      EXPECT_EQ(rowText(zecovi), "1101");
      EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 5007);
      close(fd);
    }
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

TEST(ReadRow, ClassifiesEveryByteValueAlikeOnBothPaths) {
  std::mt19937_64 random(7);
  for (int block = 0; block < 2000; ++block) {
    char bytes[64];
    for (char& b : bytes) b = static_cast<char>(block < 4 ? (block * 64 + (&b - bytes)) : random() % 256);
    Word ones, spaces, ones2, spaces2;
    classify64(bytes, ones, spaces);
    classify64Portable(bytes, ones2, spaces2);
    for (int j = 0; j < 64; ++j) {
      const auto c = static_cast<unsigned char>(bytes[j]);
      ASSERT_EQ((ones >> j) & 1, c == '1' ? 1U : 0U) << "byte " << int(c);
      ASSERT_EQ((spaces >> j) & 1,
                std::string_view(" \t\n\v\f\r").find(static_cast<char>(c)) != std::string_view::npos ? 1U : 0U)
          << "byte " << int(c);
    }
    ASSERT_EQ(ones, ones2);
    ASSERT_EQ(spaces, spaces2);
  }
}

// --- scanRuns --------------------------------------------------------------------

std::string repeat(const std::string& piece, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(ScanRuns, FindsTheShortestClosedRunAndTheLastRunStart) {
  struct Case {
    std::string row;
    std::int64_t k, pos;
  };
  const std::string ones63 = repeat("1", 63), ones64 = repeat("1", 64), ones9999 = repeat("1", 9999);
  const std::vector<Case> cases = {
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row.size() > 60 ? c.row.substr(0, 60) + "..." : c.row);
    const RunScan scan = scanRow(rowOf(c.row));
    EXPECT_EQ(scan.k, c.k);
    EXPECT_EQ(scan.pos, c.pos);
  }
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

// The shell's step: it sets hasChange, and never clears it.
TEST(SpreadPass, LeavesHasChangeSetBySomethingElse) {
  resetState();
  zecovi = rowOf("0001");
  hasChange = true;
  spreadPass(1);
  EXPECT_TRUE(hasChange);
}

// Positions past 2^31 - 1 (32-bit positions would wrap there).
TEST(LongRows, PositionsPastTwoToThe31) {
  const std::int64_t n = (std::int64_t{1} << 31) + 200;
  const std::int64_t at = (std::int64_t{1} << 31) + 100;
  BitRow row;
  resizeWords(row, wordsFor(n));
  row.n = n;
  setBit(row, at);
  setBit(row, at + 1);
  setBit(row, at + 50);
  setBit(row, at + 51);
  RunScan scan = scanRow(row);
  EXPECT_EQ(scan.k, 2);
  EXPECT_EQ(scan.pos, at + 50);
  const Spread done = spreadRow(row, scan.k);
  EXPECT_TRUE(done.reached);
  EXPECT_TRUE(done.grew);
  EXPECT_TRUE(testBit(row, at + 2));
  EXPECT_TRUE(testBit(row, at + 3));
  EXPECT_TRUE(testBit(row, at + 53));
  EXPECT_FALSE(testBit(row, at + 4));
  EXPECT_FALSE(testBit(row, at + 54));
  scan = scanRow(row);
  EXPECT_EQ(scan.k, 4);
  EXPECT_EQ(scan.pos, at + 50);
}

}  // namespace
