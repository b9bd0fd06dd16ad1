#include "platform/process.hpp"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/error.hpp"

extern char** environ;

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

namespace {

struct SpawnSettings {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  SpawnSettings() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnSettings() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;
};

Result<Process> spawn(const fs::path& program, const std::vector<std::string>& args,
                      bool detached) {
  SpawnSettings s;
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (detached) {
    posix_spawn_file_actions_addopen(&s.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&s.actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&s.actions, 2, "/dev/null", O_WRONLY, 0);
    flags |= POSIX_SPAWN_SETSID;
  }
  // The host ignores SIGPIPE; a started program gets the default back.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&s.attr, &none);
  posix_spawnattr_setsigdefault(&s.attr, &defaults);
  posix_spawnattr_setflags(&s.attr, flags);

  std::string path = program.string();
  std::vector<std::string> owned;
  owned.reserve(args.size() + 1);
  owned.push_back(path);
  owned.insert(owned.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : owned) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, path.c_str(), &s.actions, &s.attr, argv.data(), environ);
  if (rc != 0) return Error{system_error_text(rc)};
  return Process(static_cast<intptr_t>(pid), static_cast<uint32_t>(pid));
}

}  // namespace

Result<Process> start_detached(const fs::path& program, const std::vector<std::string>& args,
                               uint32_t /*flags: Windows only*/) {
  return spawn(program, args, true);
}

Result<Process> start_plain(const fs::path& program, const std::vector<std::string>& args) {
  return spawn(program, args, false);
}

void allow_set_foreground(uint32_t /*pid*/) {}

uint32_t current_pid() {
  return static_cast<uint32_t>(::getpid());
}


}  // namespace nm::os
