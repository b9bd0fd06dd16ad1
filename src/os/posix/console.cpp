#include "os/console.hpp"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include "os/error.hpp"

namespace nm::os {

std::vector<std::string> arguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

void init_stdio() {
  signal(SIGPIPE, SIG_IGN);
}

Result<size_t> read_stdin(char* buf, size_t n) {
  for (;;) {
    const ssize_t r = ::read(0, buf, n);
    if (r >= 0) return static_cast<size_t>(r);
    if (errno == EINTR) continue;
    return system_error(errno);
  }
}

static bool write_all(int fd, std::string_view bytes, int* err) {
  while (!bytes.empty()) {
    const ssize_t w = ::write(fd, bytes.data(), bytes.size());
    if (w < 0) {
      if (errno == EINTR) continue;
      *err = errno;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(w));
  }
  return true;
}

Status write_stdout(std::string_view bytes) {
  int err = 0;
  if (!write_all(1, bytes, &err)) return system_error(err);
  return {};
}

void write_stderr(std::string_view bytes) {
  int err = 0;
  write_all(2, bytes, &err);
}

Status write_stdout_text(std::string_view utf8) {
  return write_stdout(utf8);
}

}  // namespace nm::os
