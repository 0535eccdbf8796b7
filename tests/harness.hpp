// Running the built programs and feeding the shared reader, for the tests.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "row.hpp"

struct Result {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when a signal ended the program
  int signal = 0;
};

enum class Feed { file, pipe };

// A reader that stops at the end of its token closes a pipe that a writer
// thread still feeds: the writer must see EPIPE, not die of SIGPIPE.
inline const bool sigpipeIgnored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;

inline std::string readAll(int fd) {
  std::string text;
  char buf[1 << 16];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t got; (got = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(got));
  return text;
}

// A deleted temporary file holding `text`, open for reading and writing at offset 0.
inline int tempFile(const std::string& text = {}) {
  char name[] = "/tmp/spindra-test-XXXXXX";
  const int fd = mkostemp(name, O_CLOEXEC);
  if (fd < 0) std::abort();
  unlink(name);
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t put = write(fd, text.data() + done, text.size() - done);
    if (put <= 0) std::abort();
    done += static_cast<std::size_t>(put);
  }
  lseek(fd, 0, SEEK_SET);
  return fd;
}

// A pipe whose read end is returned; a thread writes `text` into it and closes it.
inline int feedPipe(const std::string& text, std::thread& writer) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) std::abort();
  writer = std::thread([text, fd = ends[1]] {
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t put = write(fd, text.data() + done, text.size() - done);
      if (put <= 0) break;
      done += static_cast<std::size_t>(put);
    }
    close(fd);
  });
  return ends[0];
}

// Runs `program` with standard input on inFd (-1: closed) and standard output
// on outFd (-1: captured in Result::out); standard error is captured. A
// nonzero addressLimit caps the program's address space, in bytes.
inline Result runOn(const char* program, int inFd, int outFd = -1, rlim_t addressLimit = 0) {
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
    execl(program, program, static_cast<char*>(nullptr));
    _exit(127);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  Result result;
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

// Runs `program` on `input`, given as a regular file or through a pipe.
inline Result run(const char* program, const std::string& input, Feed feed = Feed::file) {
  if (feed == Feed::file) {
    const int in = tempFile(input);
    Result result = runOn(program, in);
    close(in);
    return result;
  }
  std::thread writer;
  const int in = feedPipe(input, writer);
  Result result = runOn(program, in);
  close(in);
  writer.join();
  return result;
}

// Puts every piece of program-wide state back to its value before main.
inline void resetState() {
  s = {};
  zecovi = {};
  hasChange = true;
  sol = 0;
}

// Runs readRow with standard input on inFd, from fresh state.
inline void readRowOn(int inFd, std::size_t block = readBlock) {
  resetState();
  const int saved = dup(STDIN_FILENO);
  dup2(inFd, STDIN_FILENO);
  try {
    readRow(block);
  } catch (...) {
    dup2(saved, STDIN_FILENO);
    close(saved);
    throw;
  }
  dup2(saved, STDIN_FILENO);
  close(saved);
}

// Runs readRow on `input`, given as a regular file or through a pipe.
inline void readRowOn(const std::string& input, Feed feed, std::size_t block = readBlock) {
  if (feed == Feed::file) {
    const int in = tempFile(input);
    readRowOn(in, block);
    close(in);
    return;
  }
  std::thread writer;
  const int in = feedPipe(input, writer);
  readRowOn(in, block);
  close(in);
  writer.join();
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
  std::string text;
  for (std::int64_t i = 0; i < row.n; ++i) text += testBit(row, i) ? '1' : '0';
  return text;
}

// A row built from "0" and "1".
inline BitRow rowOf(const std::string& text) {
  BitRow row;
  for (const char c : text) appendBits(row, c == '1' ? 1 : 0, 1);
  return row;
}
