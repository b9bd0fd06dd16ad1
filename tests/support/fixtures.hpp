#pragma once
// A fresh temporary folder; an environment variable changed for one test; a
// file's text without its time stamps.
#include <filesystem>
#include <optional>
#include <random>
#include <regex>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "os/win32/wide.hpp"

#else
#include <stdlib.h>

#endif

#include "os/clock.hpp"
#include "os/fs.hpp"

namespace {

class TempFolder {
 public:
  TempFolder() { std::filesystem::create_directories(path_); }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const char* name) const { return path_ / name; }

 private:
  const std::filesystem::path path_ =
      std::filesystem::temp_directory_path() /
      ("nmhost-test-" + std::to_string(std::random_device{}() ^
                                       static_cast<unsigned long long>(nm::os::monotonic_ns())));
};

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value)
      : name_(name), old_(nm::os::get_env(name)) {
    set(name, value);
  }
  ~ScopedEnv() { set(name_, old_); }

 private:
  static bool set(const char* name, const std::optional<std::string>& value) {
#ifdef _WIN32
    // The Win32 environment, which os::get_env reads and children inherit.
    const std::wstring w = value ? nm::os::win::to_wide(*value) : std::wstring();
    return SetEnvironmentVariableW(nm::os::win::to_wide(name).c_str(), value ? w.c_str() : nullptr);
#else
    return (value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name)) == 0;
#endif
  }
  const char* name_;
  std::optional<std::string> old_;
};

// A file's text (or why it could not be read) with each time stamp as "@".
inline std::string unstamped(const std::filesystem::path& file) {
  const auto text = nm::os::read_file(file);
  static const std::regex stamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z)");
  return text ? std::regex_replace(*text, stamp, "@") : text.error();
}

}  // namespace
