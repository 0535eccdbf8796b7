// Feeding input as a file or through a pipe, running the built programs, and
// running the shared reader in-process, for the tests and the fuzz target.
#pragma once

#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "model.hpp"
#include "row.hpp"

// Whether a limit on a started program's address space holds, and its
// faults, memory and reads are its own: not under AddressSanitizer, which
// needs far more address space than any such limit and swamps the counts,
// nor under an emulator (qemu-user keeps such a limit for itself, and the
// counts are its own).
#if !defined(__SANITIZE_ADDRESS__) && !defined(SPINDRA_LAUNCHER)
#define SPINDRA_OWN_LIMITS 1
#endif

struct Result {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when a signal ended the program
  int signal = 0;
  long minorFaults = 0;
  long peakKiB = -1;   // the program's own peak resident memory (VmHWM), where asked for and told
  long sharedKiB = 0;  // the address space of its shared libraries and their loader at its exit, where asked for
  long readCalls = 0;  // read calls as the kernel counts them, exec's own reads of the program included
};

// The read calls that the kernel counted for a process that has ended but is
// not reaped yet (syscr in /proc/PID/io), or -1 where it does not count them.
inline long readCallsOf(pid_t pid) {
  std::FILE* const io = std::fopen(("/proc/" + std::to_string(pid) + "/io").c_str(), "r");
  if (io == nullptr) return -1;
  long calls = -1;
  char line[128];
  while (std::fgets(line, sizeof line, io) != nullptr) std::sscanf(line, "syscr: %ld", &calls);
  std::fclose(io);
  return calls;
}

enum class Feed { file, pipe };

// A reader that stops at the end of its token closes a pipe that a writer
// thread still feeds: the writer must see EPIPE, not die of SIGPIPE.
inline const bool sigpipeIgnored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;

// Everything from fd's offset 0 on.
inline std::string readAll(int fd) {
  std::string text;
  char buf[1 << 16];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t got; (got = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(got));
  return text;
}

// Writes all of text[0, size) to fd; false if the reader has gone.
inline bool writeAll(int fd, const char* text, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t put = write(fd, text + done, size - done);
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

inline bool writeAll(int fd, const std::string& text) { return writeAll(fd, text.data(), text.size()); }

// A deleted temporary file holding `text`, open for reading and writing at offset 0.
inline int tempFile(const std::string& text = {}) {
  char name[] = "/tmp/spindra-test-XXXXXX";
  const int fd = mkostemp(name, O_CLOEXEC);
  if (fd < 0 || !writeAll(fd, text)) std::abort();
  unlink(name);
  lseek(fd, 0, SEEK_SET);
  return fd;
}

// The read end of a pipe that gets `pieces` one write each, `pause` apart,
// then end of input. A thread writes them, unless they fit the pipe at once.
inline int feedPipe(const std::vector<std::string>& pieces, std::thread& writer, std::chrono::milliseconds pause = {}) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) std::abort();
  std::size_t total = 0;
  for (const std::string& piece : pieces) total += piece.size();
  if (pause.count() == 0 && total <= static_cast<std::size_t>(fcntl(ends[1], F_GETPIPE_SZ))) {
    for (const std::string& piece : pieces) writeAll(ends[1], piece);
    close(ends[1]);
    return ends[0];
  }
  writer = std::thread([pieces, pause, fd = ends[1]] {
    for (const std::string& piece : pieces) {
      if (!writeAll(fd, piece)) break;
      std::this_thread::sleep_for(pause);
    }
    close(fd);
  });
  return ends[0];
}

// The read end of a pipe that a thread fills from the regular file fd, 128
// KiB a write as cat does, holding no more of the file than that. It starts
// writing 20 ms after, so that a program started meanwhile finds the pipe
// empty, as beside a cat that starts with it: a pipe that holds more than a
// new size cannot take that size.
inline int pipeFrom(int fd, std::thread& writer) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) std::abort();
  writer = std::thread([from = fd, to = ends[1]] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::vector<char> buf(1 << 17);
    off_t at = 0;
    for (ssize_t got; (got = pread(from, buf.data(), buf.size(), at)) > 0; at += got)
      if (!writeAll(to, buf.data(), static_cast<std::size_t>(got))) break;
    close(to);
  });
  return ends[0];
}

// `text` open for reading as a regular file or through a pipe; done with closeInput.
inline int openInput(const std::string& text, Feed feed, std::thread& writer) {
  return feed == Feed::file ? tempFile(text) : feedPipe({text}, writer);
}

inline void closeInput(int fd, std::thread& writer) {
  close(fd);
  if (writer.joinable()) writer.join();
}

// The address space that a process's shared libraries take, in KiB: every
// mapping from the lowest one of a shared object to the end of the highest,
// which takes in their loader and what it maps for them. 0 for a static program.
inline long sharedKiBOf(pid_t pid) {
  std::FILE* const maps = std::fopen(("/proc/" + std::to_string(pid) + "/maps").c_str(), "r");
  std::vector<std::pair<unsigned long, unsigned long>> all;
  unsigned long low = ~0UL, high = 0;
  for (char line[512]; maps != nullptr && std::fgets(line, sizeof line, maps) != nullptr;) {
    unsigned long start = 0, end = 0;
    if (std::sscanf(line, "%lx-%lx", &start, &end) != 2) continue;
    all.emplace_back(start, end);
    if (std::strstr(line, ".so") != nullptr) {
      low = std::min(low, start);
      high = std::max(high, end);
    }
  }
  if (maps != nullptr) std::fclose(maps);
  unsigned long bytes = 0;
  for (const auto& [start, end] : all)
    if (start >= low && end <= high) bytes += end - start;
  return static_cast<long>(bytes >> 10);
}

// Follows a child traced from its exec to its exit, and notes in `result` its
// own peak resident memory then, in KiB (VmHWM of its memory alone, where
// ru_maxrss starts from the test process's, which it was forked from; -1
// where that cannot be told), and its shared libraries' address space;
// leaves it unreaped. Signals reach it as they would untraced.
inline void peakAtExit(pid_t pid, Result& result) {
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WSTOPPED | WNOWAIT) != 0 || info.si_code != CLD_TRAPPED)
      return;
    int status = 0;
    waitpid(pid, &status, 0);
    int signal = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);  // a trap is the exec's, or the exit's
    if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      std::FILE* const file = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
      for (char line[128]; file != nullptr && std::fgets(line, sizeof line, file) != nullptr;)
        std::sscanf(line, "VmHWM: %ld kB", &result.peakKiB);
      if (file != nullptr) std::fclose(file);
      result.sharedKiB = sharedKiBOf(pid);
    } else if (status >> 8 == SIGTRAP) {
      ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT);
    }
    ptrace(PTRACE_CONT, pid, nullptr, signal);
  }
}

// Runs `program` with standard input on inFd (-1: closed) and standard output
// on outFd (-1: captured in Result::out); standard error is captured. A
// nonzero addressLimit caps the program's address space, in bytes; `args`
// are its arguments; `ownPeak` asks for its own peak memory. Built for
// another machine, the programs run under the emulator the tests run under,
// SPINDRA_LAUNCHER: its words, then theirs.
inline Result runOn(const char* program, int inFd, int outFd = -1, rlim_t addressLimit = 0,
                    const std::vector<std::string>& args = {}, bool ownPeak = false) {
  std::vector<std::string> words;
#if defined(SPINDRA_LAUNCHER)
  std::istringstream launcher(SPINDRA_LAUNCHER);
  for (std::string word; launcher >> word;) words.push_back(word);
#endif
  words.push_back(program);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int out = outFd >= 0 ? outFd : tempFile();
  const int err = tempFile();
  const pid_t pid = fork();
  if (pid == 0) {
    std::signal(SIGPIPE, SIG_DFL);
    if (addressLimit != 0) {
      const rlimit limit{addressLimit, addressLimit};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (inFd >= 0) {
      dup2(inFd, STDIN_FILENO);
    } else {
      close(STDIN_FILENO);
    }
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    if (ownPeak) ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  Result result;
  if (ownPeak) peakAtExit(pid, result);
  siginfo_t ended;
  waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT);
  result.readCalls = readCallsOf(pid);
  int wstatus = 0;
  rusage usage{};
  wait4(pid, &wstatus, 0, &usage);
  result.minorFaults = usage.ru_minflt;
  if (outFd < 0) {
    result.out = readAll(out);
    close(out);
  }
  result.err = readAll(err);
  close(err);
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) result.signal = WTERMSIG(wstatus);
  return result;
}

// The address space that this process's mappings take, as /proc/self/maps
// lists them (qemu-user lists its guest's): all but the heap (the mapping
// that holds the program break, which qemu-user does not name), the stack and
// the kernel's own ([vdso] and the like), which grow or come by themselves.
inline std::uint64_t mappedBytes() {
  const auto brk = reinterpret_cast<std::uintptr_t>(sbrk(0));
  std::FILE* const maps = std::fopen("/proc/self/maps", "r");
  std::uint64_t bytes = 0;
  for (char line[512]; maps != nullptr && std::fgets(line, sizeof line, maps) != nullptr;) {
    unsigned long long start = 0, end = 0;
    if (std::strchr(line, '[') != nullptr || std::sscanf(line, "%llx-%llx", &start, &end) != 2) continue;
    if (start >= brk || end < brk) bytes += end - start;
  }
  if (maps != nullptr) std::fclose(maps);
  return bytes;
}

// The address space this process takes, as the kernel counts it against a
// limit (VmSize); 0 where it does not say.
inline rlim_t addressSpace() {
  std::FILE* const status = std::fopen("/proc/self/status", "r");
  unsigned long long kiB = 0;
  for (char line[256]; status != nullptr && std::fgets(line, sizeof line, status) != nullptr;)
    std::sscanf(line, "VmSize: %llu kB", &kiB);
  if (status != nullptr) std::fclose(status);
  return static_cast<rlim_t>(kiB) << 10;
}

// The kernel's setting for transparent huge pages as it shows it, such as
// "always [madvise] never", or "" where it has none.
inline std::string hugePageSetting() {
  const int fd = open("/sys/kernel/mm/transparent_hugepage/enabled", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  std::string setting = readAll(fd);
  close(fd);
  while (!setting.empty() && setting.back() == '\n') setting.pop_back();
  return setting;
}

// Runs `program` on `input`, given as a regular file or through a pipe.
inline Result run(const char* program, const std::string& input, Feed feed = Feed::file) {
  std::thread writer;
  const int in = openInput(input, feed, writer);
  Result result = runOn(program, in);
  closeInput(in, writer);
  return result;
}

// What is wrong with a run of `program` on `input` that should write exactly
// `out`, nothing on standard error, and exit 0; "" when nothing is.
inline std::string mismatch(const char* program, const std::string& input, Feed feed, const std::string& out) {
  const Result got = run(program, input, feed);
  std::string wrong;
  if (got.out != out) {
    std::size_t at = 0;
    while (at < out.size() && at < got.out.size() && out[at] == got.out[at]) ++at;
    wrong += "wrote " + std::to_string(got.out.size()) + " bytes, not " + std::to_string(out.size()) +
             ", first differing at byte " + std::to_string(at) + ": \"" + got.out.substr(at, 40) + "\"; ";
  }
  if (!got.err.empty()) wrong += "wrote on standard error: " + got.err + "; ";
  if (got.status != 0) wrong += "exit status " + std::to_string(got.status) + "; ";
  if (got.signal != 0) wrong += "ended by signal " + std::to_string(got.signal) + "; ";
  const char* const name = std::strrchr(program, '/') != nullptr ? std::strrchr(program, '/') + 1 : program;
  return wrong.empty() ? wrong : std::string(name) + (feed == Feed::file ? " from a file: " : " from a pipe: ") + wrong;
}

// Puts every piece of program-wide state back to its value before main.
inline void resetState() {
  s = {};
  zecovi = {};
  hasChange = true;
  sol = 0;
  readSweep = {0, MAXN};
}

// How readRow reads, in the tests: the most bytes a read asks for, the words
// reserved for the row, whether rounds follow the reader, the words the
// reader's sweep takes at a time, and the bytes a read asks for until the
// blocks grow, and when they do.
struct ReadSizes {
  std::size_t block = largeBlock;
  std::size_t reserve = maxWords;
  bool roundsFollow = false;
  std::size_t sweepWords = sweepBlock;
  std::size_t firstBlock = smallBlock;
  std::uint64_t growFrom = largeFrom;
};

// Runs readRow with standard input on inFd, from fresh state.
inline void readRowOn(int inFd, const ReadSizes& sizes = {}) {
  resetState();
  const int saved = dup(STDIN_FILENO);
  dup2(inFd, STDIN_FILENO);
  try {
    readRow(sizes.roundsFollow, sizes.block, sizes.reserve, sizes.sweepWords, sizes.firstBlock, sizes.growFrom);
  } catch (...) {
    dup2(saved, STDIN_FILENO);
    close(saved);
    throw;
  }
  dup2(saved, STDIN_FILENO);
  close(saved);
}

// Runs readRow on `input`, given as a regular file or through a pipe.
inline void readRowOn(const std::string& input, Feed feed, const ReadSizes& sizes = {}) {
  std::thread writer;
  const int in = openInput(input, feed, writer);
  readRowOn(in, sizes);
  closeInput(in, writer);
}

inline bool testBit(const BitRow& row, std::int64_t i) {
  return wordOf(i) < row.count && ((row.words[wordOf(i)] >> bitOf(i)) & 1);
}

inline void setBit(BitRow& row, std::int64_t i) {
  if (wordOf(i) >= row.count) resizeWords(row, wordOf(i) + 1);
  row.words[wordOf(i)] |= Word{1} << bitOf(i);
}

// The row as "0" and "1".
inline std::string rowText(const BitRow& row) {
  std::string text(static_cast<std::size_t>(row.n), '0');
  for (std::size_t w = 0; w < row.count; ++w) {
    for (Word bits = row.words[w]; bits != 0; bits &= bits - 1) {
      const std::size_t i = w * wordBits + static_cast<std::size_t>(std::countr_zero(bits));
      if (i < text.size()) text[i] = '1';
    }
  }
  return text;
}

// Whether the row holds exactly the bits of `bytes`, a byte a position.
inline bool sameBits(const BitRow& row, const std::vector<char>& bytes) {
  if (row.n != static_cast<std::int64_t>(bytes.size())) return false;
  for (std::size_t w = 0; w < wordsFor(row.n); ++w) {
    Word expected = 0;
    for (std::size_t b = 0; b < wordBits && w * wordBits + b < bytes.size(); ++b)
      expected |= Word{bytes[w * wordBits + b] != 0} << b;
    if ((w < row.count ? row.words[w] : 0) != expected) return false;
  }
  return true;
}

// A row built from "0" and "1", a position at a time.
inline BitRow rowOf(const std::string& text) {
  BitRow row;
  for (const char c : text) appendBits(row, c == '1' ? 1 : 0, 1);
  return row;
}

// A copy of the row, word for word.
inline BitRow copyOf(const BitRow& row) {
  BitRow copy;
  growWords(copy, row.count);
  std::copy(row.words.get(), row.words.get() + row.count, copy.words.get());
  copy.count = row.count;
  copy.n = row.n;
  return copy;
}

// The row that a token makes, as "0" and "1": "1" for "1", "0" for every other byte.
inline std::string bitsOf(const std::string& token) {
  std::string bits;
  for (const char c : token) bits += c == '1' ? '1' : '0';
  return bits;
}

// Whether every classifier this machine runs marks exactly the "1" bytes and
// the whitespace bytes of p[0, 64).
inline bool classifiersAgree(const char* p) {
  Word exactOnes = 0, exactSpaces = 0;
  for (int j = 0; j < wordBits; ++j) {
    exactOnes |= Word{p[j] == '1'} << j;
    exactSpaces |= Word{std::string_view(" \t\n\v\f\r").find(p[j]) != std::string_view::npos} << j;
  }
  std::vector<void (*)(const char*, Word&, Word&)> classifiers = {classify64, classify64Portable<>, classify64Exact};
  if (reinterpret_cast<std::uintptr_t>(p) % alignof(Word) == 0) classifiers.push_back(classify64Portable<true>);
#if defined(SPINDRA_AVX2)
  if (haveSse2()) classifiers.push_back(classify64Sse2);
  if (haveAvx2()) classifiers.push_back(classify64Avx2);
#if !defined(SPINDRA_NO_AVX512)
  if (haveAvx512()) classifiers.push_back(classify64Avx512);
#endif
#endif
#if defined(SPINDRA_NEON)
  if (haveNeon()) classifiers.push_back(classify64Neon);
#endif
#if defined(SPINDRA_VSX)
  classifiers.push_back(classify64Vsx);
#endif
#if defined(SPINDRA_VX)
  if (haveVx()) classifiers.push_back(classify64Vx);
#endif
#if defined(SPINDRA_RVV)
  if (haveRvv()) classifiers.push_back(classify64Rvv);
#endif
  for (const auto classify : classifiers) {
    Word ones = allOnes, spaces = allOnes;  // each sets both, whatever they held
    classify(p, ones, spaces);
    if (ones != exactOnes || spaces != exactSpaces) return false;
  }
  return true;
}

// The forms of the kernels that the tests run, widest first: those that
// useKernels gives, and the plain C++.
inline std::string kernelForms() {
  std::string forms;
#if defined(SPINDRA_AVX2)
#if !defined(SPINDRA_NO_AVX512)
  if (haveAvx512()) forms += "AVX-512, ";
#endif
  if (haveAvx2()) forms += "AVX2, ";
  if (haveSse2()) forms += "SSE2, ";
#endif
#if defined(SPINDRA_NEON)
  if (haveNeon()) forms += "NEON, ";
#endif
#if defined(SPINDRA_VSX)
  forms += "VSX, ";
#endif
#if defined(SPINDRA_VX)
  if (haveVx()) forms += "vector facility, ";
#endif
#if defined(SPINDRA_RVV)
  if (haveRvv()) forms += "RVV, ";
#endif
  return forms + "plain C++";
}

// The forms the kernels take from now on: 3, the widest this machine has; 2,
// AVX2 at most; 1, SSE2 at most (NEON, VSX, the vector facility, RVV); 0, the
// plain C++.
inline void useKernels([[maybe_unused]] int widest) {
#if defined(SPINDRA_AVX2)
  sse2Here = widest >= 1 && haveSse2();
  avx2Here = widest >= 2 && haveAvx2();
#if !defined(SPINDRA_NO_AVX512)
  avx512Here = widest >= 3 && haveAvx512();
#endif
#endif
#if defined(SPINDRA_NEON)
  neonHere = widest >= 1 && haveNeon();
#endif
#if defined(SPINDRA_VSX)
  vsxHere = widest >= 1;
#endif
#if defined(SPINDRA_VX)
  vxHere = widest >= 1 && haveVx();
#endif
#if defined(SPINDRA_RVV)
  rvvHere = widest >= 1 && haveRvv();
#endif
}

// Where sweeps from round `done` on `row`, `block` words at a time, first
// differ from the model's rounds, up to the first round whose scan finds no
// closed run shorter than MAXN; "" where they agree. With `unfilled`, the
// sweeps keep that record of the words not all ones, and use it once whole,
// as the plain program does.
inline std::string sweepsMismatch(BitRow row, const std::vector<ModelRound>& rounds, std::size_t block,
                                  std::size_t done = 0, Unfilled* unfilled = nullptr) {
  std::int64_t k = scanRow(row).k;
  while (k != MAXN) {
    if (done >= rounds.size() || k != rounds[done].k) return "after " + std::to_string(done) + " rounds, k differs";
    const Sweep sweep = sweepRow(row, k, block, unfilled);
    done += static_cast<std::size_t>(sweep.rounds);
    const std::string after = "after a sweep to round " + std::to_string(done) + ", ";
    if (sweep.rounds < 1 || done > rounds.size()) return after + "the rounds are off";
    if (!sameBits(row, rounds[done - 1].row)) return after + "the row differs";
    if (!clearPastEnd(row)) return after + "a bit is set past the end";
    k = sweep.k;
  }
  if (done >= rounds.size() || rounds[done].k != MAXN)
    return "the sweeps stop after " + std::to_string(done) + " rounds";
  return "";
}

// Where the scan and the pass, round after round from round `done` on `row`,
// first differ from the model's rounds; "" where they agree. Each scan is made
// both without and with the least length that the round loops give it.
inline std::string roundsMismatch(BitRow row, const std::vector<ModelRound>& rounds, std::size_t done = 0) {
  std::int64_t atLeast = done == 0 ? 1 : leastAfter(rounds[done - 1].k);
  for (std::size_t r = done; r < rounds.size(); ++r) {
    const ModelRound& round = rounds[r];
    const RunScan scan = scanRow(row), bounded = scanRow(row, atLeast);
    const std::string in = "in round " + std::to_string(r + 1) + ", ";
    if (scan.k != round.k || scan.pos != round.pos) return in + "the scan gives k " + std::to_string(scan.k);
    if (bounded.k != round.k || bounded.pos != round.pos)
      return in + "the bounded scan gives k " + std::to_string(bounded.k);
    atLeast = leastAfter(scan.k);
    if (round.stopped) break;
    const Spread done = spreadRow(row, scan.k);
    if (done.reached != round.hasChange || done.grew != round.grew) return in + "the pass reached or grew wrongly";
    if (!sameBits(row, round.row)) return in + "the row after the pass differs";
  }
  return "";
}

// Where the row that readRow left and the sweep that followed the reader
// (readSweep) differ from the model's rounds; "" where they agree. Without
// `roundsFollow` no round may have run.
inline std::string readSweepMismatch(const std::string& token, const std::vector<ModelRound>& rounds,
                                     bool roundsFollow) {
  const auto done = static_cast<std::size_t>(readSweep.rounds);
  if (readSweep.rounds < 0 || (!roundsFollow && done > 0) || done >= rounds.size())
    return std::to_string(readSweep.rounds) + " rounds ran behind the reader";
  if (done == 0 ? rowText(zecovi) != bitsOf(token) : !sameBits(zecovi, rounds[done - 1].row))
    return "after " + std::to_string(done) + " rounds behind the reader, the row differs";
  if (!clearPastEnd(zecovi)) return "a bit is set past the end";
  if (readSweep.k != rounds[done].k) return "after " + std::to_string(done) + " rounds behind the reader, k differs";
  return "";
}
