// Running a program with its output captured (the registry tool's stand-in).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/error.hpp"
#include "platform/process.hpp"

extern char** environ;

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

struct SpawnActions {
  posix_spawn_file_actions_t a;
  SpawnActions() { posix_spawn_file_actions_init(&a); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&a); }
};

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
      return Error{last_error_text()};
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return Error{last_error_text()};
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
  if (!open_pipe(out) || !open_pipe(err)) return Error{last_error_text()};

  SpawnActions actions;
  posix_spawn_file_actions_addopen(&actions.a, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions.a, out.write.fd, 1);
  posix_spawn_file_actions_adddup2(&actions.a, err.write.fd, 2);

  std::vector<std::string> argv_text;
  argv_text.reserve(args.size() + 1);
  argv_text.push_back(program.string());
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, program.c_str(), &actions.a, nullptr, argv.data(), environ);
  if (rc != 0) return Error{system_error_text(rc)};
  // Only the child keeps the write ends, so the reads end when it does.
  out.write.reset();
  err.write.reset();

  Captured c;
  const Status drained = drain(out.read.fd, err.read.fd, c.out, c.err);
  out.read.reset();
  err.read.reset();

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return Error{last_error_text()};
  }
  if (!drained) return Error{drained.error()};
  if (WIFEXITED(status))
    c.exit_code = WEXITSTATUS(status);
  else
    c.exit_code = 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return c;
}

std::optional<fs::path> system_folder() {
  return std::nullopt;
}
std::optional<fs::path> windows_folder() {
  return std::nullopt;
}

}  // namespace nm::os
