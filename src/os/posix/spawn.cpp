#include "os/posix/spawn.hpp"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/error.hpp"

extern char** environ;

namespace nm::os::posix {

namespace {

class SpawnSettings {
 public:
  SpawnSettings() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attr_);
  }
  ~SpawnSettings() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  void stream(int target, int source, int null_flags) {
    if (source == kNullDevice)
      posix_spawn_file_actions_addopen(&actions_, target, "/dev/null", null_flags, 0);
    else if (source != kSameAsOurs)
      posix_spawn_file_actions_adddup2(&actions_, source, target);
  }
  void finish(bool new_session) {
    // Descriptors that lack close-on-exec (a browser's, say) stay here.
    posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    // The host ignores SIGPIPE; a started program gets the default back.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setsigdefault(&attr_, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (new_session) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr_, flags);
  }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attr() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

}  // namespace

Result<pid_t> spawn(const std::filesystem::path& program, const std::vector<std::string>& args,
                    const ChildStdio& stdio, bool new_session) {
  SpawnSettings s;
  s.stream(0, stdio.in, O_RDONLY);
  s.stream(1, stdio.out, O_WRONLY);
  s.stream(2, stdio.err, O_WRONLY);
  s.finish(new_session);

  std::vector<std::string> owned;
  owned.reserve(args.size() + 1);
  owned.push_back(program.string());
  owned.insert(owned.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : owned) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, program.c_str(), s.actions(), s.attr(), argv.data(), environ);
  if (rc != 0) return system_error(rc);
  return pid;
}

Result<int> wait_exit_code(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return last_system_error();
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace nm::os::posix
