// End-to-end tests: the built programs on standard input, their standard
// output byte for byte, standard error and exit status.

#include <gtest/gtest.h>

#include <chrono>

#include "harness.hpp"

namespace {

struct Case {
  std::string input;
  std::string plain;    // spindra's output
  std::string tracing;  // spindra2's output
};

std::string ones(std::size_t count) { return std::string(count, '1'); }

const std::vector<Case> cases = {
    {"", "-1", "-1"},
    {" \n\t\r\n", "-1", "-1"},
    {"0\n", "-1", "-1"},
    {"0000\n", "-1", "-1"},
    {"1\n", "-1", "1"},
    {"11\n", "-1", "1"},
    {"0011\n", "-1", "1"},
    {"10\n", "-1", "0 1 2 2\n2"},
    {"1010\n", "-1", "0 1 4 4\n1 1 4 4\n2 1 4 4\n2"},
    {"1101\n", "-1", "0 2 4 4\n1 2 4 4\n2"},
    {"1001\n", "-1", "0 1 4 4\n1 1 4 4\n2 1 4 4\n0 2 4 4\n1 2 4 4\n3"},
    {"10000\n", "-1", "0 1 5 5\n1 1 5 5\n2 1 5 5\n3 1 5 5\n0 2 5 5\n1 2 5 5\n2 2 5 5\n0 4 5 5\n4"},
    {"  1011  0\n", "-1", "0 1 4 4\n1 1 4 4\n2 1 4 4\n2"},
    {"1a1", "-1", "0 1 3 3\n1 1 3 3\n2"},
    {"1001", "-1", "0 1 4 4\n1 1 4 4\n2 1 4 4\n0 2 4 4\n1 2 4 4\n3"},  // no line end
    {ones(10000), "-1", "1"},                                          // exactly MAXN, no closed run
    // Longer than MAXN: k = MAXN shifts for real, the row does not change, and the loop ends.
    {ones(10001), "-1", "0 10000 10001 10001\n1"},
};

TEST(Programs, WriteExactlyTheResultAndTrace) {
  for (const Feed feed : {Feed::file, Feed::pipe}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.input.substr(0, 30));
      EXPECT_EQ(mismatch(SPINDRA, c.input, feed, c.plain), "");
      EXPECT_EQ(mismatch(SPINDRA2, c.input, feed, c.tracing), "");
    }
  }
}

TEST(Programs, EmptyStandardInput) {
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  for (const char* program : {SPINDRA, SPINDRA2}) {
    const Result result = runOn(program, null);
    EXPECT_EQ(result.out, "-1");
    EXPECT_EQ(result.status, 0);
  }
  close(null);
}

struct Failure {
  const char* what;
  int in;   // standard input, -1 closed
  int out;  // standard output, -1 captured
  std::string reason;
};

TEST(Programs, ReportAFailureAndExitWithStatus1) {
  const int dir = open("/tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  const int row = tempFile("1001\n");
  const std::vector<Failure> failures = {
      {"a directory on standard input", dir, -1, "cannot read standard input: Is a directory"},
      {"standard input closed", -1, -1, "cannot read standard input: Bad file descriptor"},
      {"standard output on a full disk", row, full, "cannot write standard output: No space left on device"},
  };
  for (const Failure& f : failures) {
    for (const char* name : {"spindra", "spindra2"}) {
      SCOPED_TRACE(testing::Message() << name << ", " << f.what);
      lseek(row, 0, SEEK_SET);
      const Result result = runOn(std::string_view(name) == "spindra" ? SPINDRA : SPINDRA2, f.in, f.out);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, std::string(name) + ": " + f.reason + "\n");
      EXPECT_EQ(result.out, "");
    }
  }
  close(dir);
  close(full);
  close(row);
}

#if !defined(__SANITIZE_ADDRESS__)  // AddressSanitizer needs far more address space than any such limit
TEST(Programs, ReportRunningOutOfMemory) {
  // A row of 20 MiB in 16 MiB of address space, enough for either kind of
  // linking to start: from a file the reservation for the whole row fails and
  // the row grows until it cannot; from a pipe it grows until it cannot.
  const std::string input(160 << 20, '1');
  const int file = tempFile(input);
  for (const Feed feed : {Feed::file, Feed::pipe}) {
    for (const char* name : {"spindra", "spindra2"}) {
      SCOPED_TRACE(testing::Message() << name << ", feed " << static_cast<int>(feed));
      std::thread writer;
      lseek(file, 0, SEEK_SET);
      const int in = feed == Feed::file ? file : feedPipe({input}, writer);
      const Result result = runOn(std::string_view(name) == "spindra" ? SPINDRA : SPINDRA2, in, -1, 16 << 20);
      if (writer.joinable()) {
        close(in);
        writer.join();
      }
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, std::string(name) + ": out of memory\n");
      EXPECT_EQ(result.out, "");
    }
  }
  close(file);
}
#endif

TEST(Programs, SurviveAFileThatShrinksWhileRead) {
  // A sparse file of 256 MiB (a token of NUL bytes, all clear bits), cut to
  // 4 KiB while the program reads it: the program sees the shorter file.
  for (const int delayMs : {2, 5, 15}) {
    for (const char* program : {SPINDRA, SPINDRA2}) {
      SCOPED_TRACE(testing::Message() << program << ", cut after " << delayMs << " ms");
      const int fd = tempFile();
      ASSERT_EQ(ftruncate(fd, off_t{256} << 20), 0);
      std::thread cutter([fd, delayMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        EXPECT_EQ(ftruncate(fd, 4096), 0);
      });
      const Result result = runOn(program, fd);
      cutter.join();
      close(fd);
      EXPECT_EQ(result.signal, 0);
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.out, "-1");
      EXPECT_EQ(result.err, "");
    }
  }
}

TEST(Programs, EndOnSigpipeWhenTheReaderIsGone) {
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  close(ends[0]);
  const int row = tempFile("1001\n");
  for (const char* program : {SPINDRA, SPINDRA2}) {
    lseek(row, 0, SEEK_SET);
    const Result result = runOn(program, row, ends[1]);
    EXPECT_EQ(result.signal, SIGPIPE) << program;
  }
  close(ends[1]);
  close(row);
}

}  // namespace
