// The trace-writing baseline: writes the lines of the file named by its
// argument to standard output, one write(2) per line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const int fd = open(argv[1], O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return 1;
  std::vector<char> text(static_cast<std::size_t>(st.st_size));
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t got = read(fd, text.data() + done, text.size() - done);
    if (got <= 0) return 1;
    done += static_cast<std::size_t>(got);
  }
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const void* newline = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    const char* next = newline != nullptr ? static_cast<const char*>(newline) + 1 : end;
    if (write(STDOUT_FILENO, p, static_cast<std::size_t>(next - p)) < 0) return 1;
    p = next;
  }
  return 0;
}
