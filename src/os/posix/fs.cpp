#include "os/fs.hpp"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/error.hpp"

namespace nm::os {

fs::path path_from_utf8(std::string_view utf8) {
  return fs::path(std::string(utf8));
}

std::optional<std::string> path_to_utf8(const fs::path& p) {
  return p.string();
}

std::string path_display(const fs::path& p) {
  return p.string();
}

std::optional<std::string> get_env(const char* name) {
  const char* v = ::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

PathListRules path_list_rules() {
  return PathListRules::posix;
}

std::optional<fs::path> get_env_path(const char* name) {
  const char* v = ::getenv(name);
  if (!v) return std::nullopt;
  return fs::path(v);
}

Result<fs::path> exe_path() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n < 0) return last_system_error();
  return fs::path(std::string(buf, static_cast<size_t>(n)));
}

std::optional<fs::path> roaming_app_data() {
  if (auto xdg = get_env("XDG_CONFIG_HOME"); xdg && !xdg->empty() && (*xdg)[0] == '/')
    return fs::path(*xdg);
  if (auto home = get_env("HOME"); home && !home->empty()) return fs::path(*home) / ".config";
  return std::nullopt;
}

Result<std::string> read_file(const fs::path& p) {
  const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return last_system_error();
  std::string out;
  char buf[65536];
  for (;;) {
    const ssize_t r = ::read(fd, buf, sizeof buf);
    if (r < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return system_error(err);
    }
    if (r == 0) break;
    out.append(buf, static_cast<size_t>(r));
  }
  ::close(fd);
  return out;
}

static Status write_fd_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t w = ::write(fd, bytes.data(), bytes.size());
    if (w < 0) {
      if (errno == EINTR) continue;
      return last_system_error();
    }
    if (w == 0) return system_error(EIO);
    bytes.remove_prefix(static_cast<size_t>(w));
  }
  return {};
}

static Status write_with_flags(const fs::path& p, std::string_view bytes, int flags) {
  const int fd = ::open(p.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) return last_system_error();
  Status st = write_fd_all(fd, bytes);
  ::close(fd);
  return st;
}

Status write_file(const fs::path& p, std::string_view bytes) {
  return write_with_flags(p, bytes, O_WRONLY | O_CREAT | O_TRUNC);
}

Status append_file(const fs::path& p, std::string_view bytes) {
  return write_with_flags(p, bytes, O_WRONLY | O_CREAT | O_APPEND);
}

Status create_empty_file(const fs::path& p) {
  const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return last_system_error();
  ::close(fd);
  return {};
}

Status remove_file(const fs::path& p) {
  if (::unlink(p.c_str()) != 0) return last_system_error();
  return {};
}

Status make_dirs(const fs::path& p) {
  std::error_code ec;
  fs::create_directories(p, ec);
  if (ec) return system_error(ec.value());
  if (!is_dir(p)) return system_error(ENOTDIR);
  return {};
}

bool is_dir(const fs::path& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool metadata_readable(const fs::path& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

Status move_replace(const fs::path& from, const fs::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return last_system_error();
  return {};
}

FileLock::FileLock(const fs::path& p) {
  handle_ = ::open(p.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
}

FileLock::~FileLock() {
  // Closing the last descriptor releases the lock.
  if (handle_ != -1) ::close(static_cast<int>(handle_));
}

bool FileLock::try_lock() {
  if (handle_ == -1) return false;
  while (!held_) {
    if (::flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB) == 0)
      held_ = true;
    else if (errno != EINTR)
      break;
  }
  return held_;
}

}  // namespace nm::os
