#pragma once
// The one way the program starts another on POSIX.
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/result.hpp"

namespace nm::os::posix {

// A child's standard stream: one of this process's descriptors, or one of
// these two.
inline constexpr int kSameAsOurs = -1;
inline constexpr int kNullDevice = -2;

struct ChildStdio {
  int in = kSameAsOurs;
  int out = kSameAsOurs;
  int err = kSameAsOurs;
};

// posix_spawn of the program's own path (no search) with argv[0] the
// program and then `args`, this process's environment, the default signal
// mask and SIGPIPE back at its default. No descriptor but the three
// standard ones is inherited. `new_session` detaches it from the terminal.
// The error is the system's.
Result<pid_t> spawn(const std::filesystem::path& program, const std::vector<std::string>& args,
                    const ChildStdio& stdio, bool new_session);

// Waits for the child to end (resuming after signals) and gives its exit
// code: the code it exited with, or 128 plus the number of the signal that
// ended it.
Result<int> wait_exit_code(pid_t pid);

}  // namespace nm::os::posix
