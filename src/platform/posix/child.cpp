#include "platform/child.hpp"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/error.hpp"

extern char** environ;

namespace nm::os {

namespace {

Result<pid_t> spawn_one(const fs::path& program, const std::vector<std::string>& args) {
  std::vector<std::string> owned;
  owned.reserve(args.size() + 1);
  owned.push_back(program.string());
  owned.insert(owned.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : owned) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return Error{system_error_text(rc)};
  return pid;
}

int wait_exit_code(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

Result<std::vector<int>> run_side_by_side(const fs::path& program,
                                          const std::vector<std::vector<std::string>>& arg_lists) {
  std::vector<pid_t> started;
  std::optional<Error> failure;
  for (const auto& args : arg_lists) {
    auto pid = spawn_one(program, args);
    if (!pid) {
      failure = Error{pid.error()};
      break;
    }
    started.push_back(*pid);
  }
  std::vector<int> codes;
  for (pid_t pid : started) codes.push_back(wait_exit_code(pid));
  if (failure) return *failure;
  return codes;
}

Status set_env(const char* name, const std::optional<std::string>& value) {
  const int rc = value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
  if (rc != 0) return Error{last_error_text()};
  return {};
}

}  // namespace nm::os
