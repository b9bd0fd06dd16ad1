#include "os/process.hpp"

#include <errno.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/posix/spawn.hpp"

namespace nm::os {

Process& Process::operator=(Process&& o) noexcept {
  if (this != &o) {
    handle_ = o.handle_;
    pid_ = o.pid_;
    ended_ = o.ended_;
    o.handle_ = -1;
  }
  return *this;
}

// A pid is no handle: there is nothing to release, and the process is neither
// waited for nor stopped.
Process::~Process() = default;

ProcessState Process::state() {
  if (ended_) return ProcessState::ended;
  if (handle_ == -1) return ProcessState::unknown;
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(static_cast<pid_t>(handle_), &status, WNOHANG);
    if (r == 0) return ProcessState::running;
    if (r == static_cast<pid_t>(handle_)) {
      ended_ = true;
      return ProcessState::ended;
    }
    if (r < 0 && errno == EINTR) continue;
    return ProcessState::unknown;
  }
}

Result<Process> start_program(const fs::path& program, const std::vector<std::string>& args,
                              StartMode mode) {
  const bool detached = mode != StartMode::attached;
  posix::ChildStdio stdio;
  if (detached) stdio = {posix::kNullDevice, posix::kNullDevice, posix::kNullDevice};
  auto pid = posix::spawn(program, args, stdio, detached);
  if (!pid) return pid.failure();
  return Process(static_cast<intptr_t>(*pid), static_cast<uint32_t>(*pid));
}

Result<Process> open_app_bundle(const fs::path& bundle) {
  return start_program("/usr/bin/open", {"-g", bundle.string()}, StartMode::attached);
}

void allow_set_foreground(uint32_t /*pid*/) {}

uint32_t current_pid() {
  return static_cast<uint32_t>(::getpid());
}

}  // namespace nm::os
