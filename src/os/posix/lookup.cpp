#include "os/lookup.hpp"

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>

namespace nm::os {

std::optional<bool> process_exists(uint32_t pid) {
  if (pid == 0 || pid > static_cast<uint32_t>(INT32_MAX)) return false;
  if (kill(static_cast<pid_t>(pid), 0) == 0) return true;
  if (errno == EPERM) return true;
  if (errno == ESRCH) return false;
  return std::nullopt;
}

std::optional<bool> same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
  struct stat sa {};
  struct stat sb {};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return std::nullopt;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace nm::os
