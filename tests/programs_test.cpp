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

// The programs take no arguments. Given some, they say on standard error that
// they ignore them, and read and write as without.
TEST(Programs, SayThatTheyIgnoreArguments) {
  const std::vector<std::vector<std::string>> argumentLists = {{}, {"examples/1001.txt"}, {"--help", ""}};
  for (const std::vector<std::string>& arguments : argumentLists) {
    for (const char* name : {"spindra", "spindra2"}) {
      SCOPED_TRACE(testing::Message() << name << " with " << arguments.size() << " arguments");
      const int in = tempFile("1001\n");
      const bool tracing = std::string_view(name) == "spindra2";
      const Result result = runOn(tracing ? SPINDRA2 : SPINDRA, in, -1, 0, arguments);
      close(in);
      EXPECT_EQ(result.out, modelRun("1001", tracing).output);
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.err, arguments.empty()
                                ? ""
                                : std::string(name) + ": arguments are ignored; the row is read from standard input\n");
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

#if defined(SPINDRA_OWN_LIMITS)
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

// "1001" and a line end at the start of an input that the row's memory
// cannot be reserved for, or not whole: a sparse file far larger than memory,
// a 1 GiB file or a pipe in 64 MiB of address space. The programs read the
// token as from any input, and leave a file just after it.
TEST(Programs, ReadWhereTheRowsMemoryCannotBeReserved) {
  struct Input {
    const char* what;
    off_t size;  // of a sparse file; 0 for a pipe
    rlim_t addressLimit;
  };
  const Input inputs[] = {
    {"a 15 TiB file", off_t{15} << 40, 0},
#if defined(SPINDRA_OWN_LIMITS)
    {"a 1 GiB file in 64 MiB", off_t{1} << 30, rlim_t{64} << 20},
    {"a pipe in 64 MiB", 0, rlim_t{64} << 20},
#endif
  };
  for (const Input& in : inputs) {
    for (const char* program : {SPINDRA, SPINDRA2}) {
      SCOPED_TRACE(testing::Message() << program << ", " << in.what);
      std::thread writer;
      const int fd = in.size > 0 ? tempFile("1001\n") : feedPipe({"1001\n"}, writer);
      if (in.size > 0) {
        ASSERT_EQ(ftruncate(fd, in.size), 0);
      }
      const Result result = runOn(program, fd, -1, in.addressLimit);
      EXPECT_EQ(result.out, modelRun("1001", std::string_view(program) == SPINDRA2).output);
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(result.status, 0);
      if (in.size > 0) {
        EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 4);
      }
      closeInput(fd, writer);
    }
  }
}

TEST(Programs, SurviveAFileThatChangesWhileRead) {
  // A sparse file of 256 MiB (a token of NUL bytes, all clear bits), cut to
  // 4 KiB or grown to 320 MiB while the program reads it: the program sees the
  // shorter file, or reads past the size it found at the start.
  for (const off_t size : {off_t{4096}, off_t{320} << 20}) {
    for (const int delayMs : {2, 5, 15}) {
      for (const char* program : {SPINDRA, SPINDRA2}) {
        SCOPED_TRACE(testing::Message() << program << ", to " << size << " bytes after " << delayMs << " ms");
        const int fd = tempFile();
        ASSERT_EQ(ftruncate(fd, off_t{256} << 20), 0);
        std::thread changer([fd, size, delayMs] {
          std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
          EXPECT_EQ(ftruncate(fd, size), 0);
        });
        const Result result = runOn(program, fd);
        changer.join();
        close(fd);
        EXPECT_EQ(result.signal, 0);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, "-1");
        EXPECT_EQ(result.err, "");
      }
    }
  }
}

// A parent may hand over a pipe with O_NONBLOCK set: a read or a write that
// would wait then fails with EAGAIN, and the programs wait for the pipe.
TEST(Programs, WaitOnPipesThatDoNotBlock) {
  const auto noBlocking = [](int fd) { return fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0; };
  // Standard input: the token in pieces 20 ms apart.
  const std::vector<std::string> pieces = {"\n 10", "01", std::string(70, '0'), "1\n"};
  std::string input;
  for (const std::string& piece : pieces) input += piece;
  for (const char* program : {SPINDRA, SPINDRA2}) {
    SCOPED_TRACE(program);
    std::thread writer;
    const int in = feedPipe(pieces, writer, std::chrono::milliseconds(20));
    ASSERT_TRUE(noBlocking(in));
    const Result result = runOn(program, in);
    closeInput(in, writer);
    EXPECT_EQ(result.out, modelRun(input, std::string_view(program) == SPINDRA2).output);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
  // Standard output: half a megabyte of trace into a pipe drained 4 KiB a millisecond.
  const std::string row = "1" + std::string(3000, '0');
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  ASSERT_TRUE(noBlocking(ends[1]));
  std::string received;
  std::thread drainer([&received, fd = ends[0]] {
    char buf[4096];
    for (ssize_t got; (got = read(fd, buf, sizeof buf)) > 0;) {
      received.append(buf, static_cast<std::size_t>(got));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const int in = tempFile(row);
  const Result result = runOn(SPINDRA2, in, ends[1]);
  close(ends[1]);
  drainer.join();
  close(ends[0]);
  close(in);
  EXPECT_TRUE(received == modelRun(row, true).output) << "received " << received.size() << " bytes";
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

#if defined(SPINDRA_OWN_LIMITS)
// A file of n positions and a line end, each "0", "1", or either at random.
int rowFile(std::int64_t n, char c) {
  const int fd = tempFile();
  std::string chunk(1 << 20, '0');
  std::uint64_t state = 20261209;
  for (std::int64_t done = 0; done < n; done += static_cast<std::int64_t>(chunk.size())) {
    chunk.resize(static_cast<std::size_t>(std::min<std::int64_t>(n - done, 1 << 20)));
    for (char& x : chunk) {
      state = state * 6364136223846793005 + 1442695040888963407;
      x = c != '?' ? c : (state >> 63) != 0 ? '1' : '0';
    }
    if (!writeAll(fd, chunk)) std::abort();
  }
  writeAll(fd, "\n");
  lseek(fd, 0, SEEK_SET);
  return fd;
}

// What spindra may cost, counted, so that a slower build fails on any
// machine: its minor faults (the row's memory in huge pages, also where the
// row grows); its read calls (large blocks from a file; through a pipe, the 1
// MiB of room it asks for and blocks that grow once the token passes 8 MiB);
// and its peak memory (a short row read without the buffer of large blocks; a
// row of "0" with no clear word stored and no room taken for one, and in 4 MiB
// of address space, where not even that buffer can be had, read in small
// blocks). A row of "1" (12 MiB) in 24 and in 32 MiB grows where a move that
// holds the old row, its new place and the growth at once is refused: in 32
// MiB (30 to 34 MiB here) the new place can be had, and must be given back
// before the pages are moved where they can be. Counts, not times. Faults
// and memory are counted past those of a run on empty input, and a limit on
// the address space is past what shared libraries take: so the bounds hold
// a dynamically linked program, whose loader takes some 80 faults and 2 MiB
// more, as they hold a static one.
TEST(Programs, KeepToTheirCounts) {
  constexpr std::int64_t n = 100'000'000;
  const std::string setting = hugePageSetting();
  const bool huge = !setting.empty() && setting.find("[never]") == std::string::npos;
  const int empty = tempFile();
  const Result start = runOn(SPINDRA, empty, -1, 0, {}, true);  // what starting and ending take
  close(empty);
  const long execReads = start.readCalls - 1;  // the one read that finds no input
  std::printf("empty input: %ld faults, %ld KiB, %ld KiB of shared libraries\n", start.minorFaults, start.peakKiB,
              start.sharedKiB);
  struct Case {
    const char* what;
    char row;  // "0", "1" or "?" (random) n times; "s" for the short row 1001
    Feed feed;
    rlim_t addressLimit;
    long readBytes;  // bytes a read takes at least, on average; 0 where not counted
    long faults;     // the most minor faults past the empty input's, where the kernel offers huge pages; 0: not counted
    long peakKiB;    // the most peak memory past the empty input's; 0 where not counted
  };
  // The thread that feeds a pipe writes 128 KiB at a time, as cat does: with
  // the 1 MiB of room asked for, and blocks that grow past 8 MiB, a read takes
  // one write or more; a pipe of 64 KiB, or blocks that stay at 64 KiB, take half.
  constexpr long fileRead = static_cast<long>(largeBlock), pipeRead = 96 << 10;
  const Case cases[] = {
      {"a random row from a file", '?', Feed::file, 0, fileRead, 500, 0},
      {"a random row through a pipe", '?', Feed::pipe, 0, pipeRead, 500, 0},
      {"a random row through a pipe in 1 GiB, so that the row grows", '?', Feed::pipe, rlim_t{1} << 30, pipeRead, 500,
       0},
      {"a row of 1 through a pipe in 24 MiB", '1', Feed::pipe, rlim_t{24} << 20, pipeRead, 500, 0},
      {"a row of 1 through a pipe in 32 MiB", '1', Feed::pipe, rlim_t{32} << 20, pipeRead, 500, 0},
      {"a row of 0 from a file", '0', Feed::file, 0, fileRead, 0, 3 << 10},
      {"a row of 0 through a pipe in 16 MiB", '0', Feed::pipe, rlim_t{16} << 20, pipeRead, 0, 3 << 10},
      {"a row of 0 through a pipe in 4 MiB", '0', Feed::pipe, rlim_t{4} << 20, 0, 0, 3 << 10},
      {"1001 from a file", 's', Feed::file, 0, 0, 30, 256},
      {"1001 through a pipe", 's', Feed::pipe, 0, 0, 30, 256},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const bool isShort = c.row == 's';
    const int file = isShort ? tempFile("1001\n") : rowFile(n, c.row);
    const long bytes = isShort ? 5 : n + 1;
    std::thread writer;
    const int in = c.feed == Feed::file ? file : pipeFrom(file, writer);
    const rlim_t limit = c.addressLimit == 0 ? 0 : c.addressLimit + rlim_t{1024} * start.sharedKiB;
    const Result result = runOn(SPINDRA, in, -1, limit, {}, true);
    if (c.feed == Feed::pipe) closeInput(in, writer);
    close(file);
    EXPECT_EQ(result.out, "-1");
    EXPECT_EQ(result.err, "");
    // The counts in the test's log, to compare with the bounds on any machine.
    const long faults = result.minorFaults - start.minorFaults, peak = result.peakKiB - start.peakKiB;
    std::printf("%s: %ld faults, %ld KiB, %ld reads\n", c.what, faults, peak, result.readCalls - execReads);
    if (c.readBytes > 0) {
      EXPECT_LE(result.readCalls - execReads, bytes / c.readBytes + 2);
    }
    if (c.faults > 0 && huge) {
      EXPECT_LE(faults, c.faults);
    }
    if (c.peakKiB > 0 && result.peakKiB >= 0 && start.peakKiB >= 0) {
      EXPECT_LE(peak, c.peakKiB);
    }
  }
  if (!huge) {
    GTEST_SKIP() << "minor faults not counted: the kernel offers no transparent huge pages ("
                 << (setting.empty() ? "no /sys/kernel/mm/transparent_hugepage/enabled" : setting) << ")";
  }
  if (start.peakKiB < 0) GTEST_SKIP() << "peak memory not counted: the programs could not be traced (ptrace refused)";
}
#endif

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
