// Hostile input, end to end: every byte string is a valid input, and each
// must give exactly the literal model's output with exit status 0.

#include <gtest/gtest.h>

#include "harness.hpp"

namespace {

std::vector<std::string> hostileInputs() {
  std::vector<std::string> inputs = {
      std::string("1\0"
                  "01\0\0"
                  "1",
                  7),  // NUL bytes inside the token
      "1\x80"
      "1\xff\xfe"
      "0\xb1"
      "1",         // bytes 0x80..0xFF; 0xB1 is "1" with the high bit set
      "1001\r\n",  // a CRLF line end
      "\r\n\r\n1001\r\n0\r\n",
      "1001",                                                   // no line end at all
      std::string(2 * 10000 + 1, '1'),                          // 2 MAXN + 1 set positions
      std::string(10000, '1') + "0" + std::string(10000, '1'),  // a closed run of exactly MAXN, then more
      "1" + std::string(20000, '0'),                            // a long row whose runs grow by MAXN a round at the end
      std::string(10001, '1') + "0" + "1",
      // A run that ends on a word's last bit, with no word held above it: the
      // clear word past those held closes it.
      std::string(63, '0') + "1" + std::string(64, '0'),
  };
  // Every whitespace byte before and after the token.
  for (const char blank : std::string(" \t\n\v\f\r")) {
    inputs.push_back(std::string(3, blank) + "1001" + std::string(2, blank) + "1");
  }
  // Every byte value that is not whitespace, in one token.
  std::string all;
  for (int c = 1; c < 256; ++c) {
    if (std::string_view(" \t\n\v\f\r").find(static_cast<char>(c)) == std::string_view::npos) {
      all += static_cast<char>(c);
      all += '1';
    }
  }
  inputs.push_back(all);
  return inputs;
}

TEST(Hostile, InputsGiveTheModelsOutput) {
  for (const std::string& input : hostileInputs()) {
    SCOPED_TRACE(testing::Message() << input.size() << " bytes: " << input.substr(0, 20));
    for (const Feed feed : {Feed::file, Feed::pipe}) {
      EXPECT_EQ(mismatch(SPINDRA, input, feed, modelRun(input, false).output), "");
      EXPECT_EQ(mismatch(SPINDRA2, input, feed, modelRun(input, true).output), "");
    }
  }
}

// A token of 10^6 characters followed by megabytes of other text: the program
// reads the token and leaves the rest of a file where it was.
TEST(Hostile, OnlyTheTokenIsConsumed) {
  const std::string token = "1" + std::string(999'999, '0');
  std::string rest = " ";
  while (rest.size() < 8'000'000) rest += "1010 0110 this is not part of the row\n";
  for (const char* program : {SPINDRA, SPINDRA2}) {
    const std::string input =
        "\n" + (std::string_view(program) == SPINDRA ? token : std::string(token.size(), '0')) + rest;
    const int in = tempFile(input);
    const Result result = runOn(program, in);
    EXPECT_EQ(result.out, "-1") << program;
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(lseek(in, 0, SEEK_CUR), static_cast<off_t>(1 + token.size())) << program;
    close(in);
  }
}

}  // namespace
