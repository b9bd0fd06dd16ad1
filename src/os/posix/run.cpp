// Running a program with its output captured (the registry tool's stand-in).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "os/error.hpp"
#include "os/posix/spawn.hpp"
#include "os/process.hpp"

namespace nm::os {

namespace {

struct Fd {
  int fd = -1;
  ~Fd() { reset(); }
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

struct Pipe {
  Fd read, write;
};

bool open_pipe(Pipe& p) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  p.read.fd = fds[0];
  p.write.fd = fds[1];
  return true;
}

// Reads both pipes until both end; poll keeps a full pipe from blocking the
// child while the other one is being read.
Status drain(int out_fd, int err_fd, std::string& out, std::string& err) {
  struct pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  char buf[65536];
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return last_system_error();
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return last_system_error();
      }
      if (n == 0) {
        fds[i].fd = -1;
        --open;
      } else {
        sinks[i]->append(buf, static_cast<size_t>(n));
      }
    }
  }
  return {};
}

}  // namespace

Result<Captured> run_captured(const fs::path& program, const std::vector<std::string>& args) {
  Pipe out, err;
  if (!open_pipe(out) || !open_pipe(err)) return last_system_error();
  auto pid = posix::spawn(program, args, {posix::kNullDevice, out.write.fd, err.write.fd}, false);
  if (!pid) return pid.failure();
  // Only the child keeps the write ends, so the reads end when it does.
  out.write.reset();
  err.write.reset();

  Captured c;
  const Status drained = drain(out.read.fd, err.read.fd, c.out, c.err);
  out.read.reset();
  err.read.reset();
  const auto code = posix::wait_exit_code(*pid);
  if (!code) return code.failure();
  if (!drained) return drained.failure();
  c.exit_code = *code;
  return c;
}

std::optional<fs::path> system_folder() {
  return std::nullopt;
}
std::optional<fs::path> windows_folder() {
  return std::nullopt;
}

}  // namespace nm::os
