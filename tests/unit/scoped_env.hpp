#pragma once
// Changing this process's environment for one test: the programs it starts
// inherit the change, and the old value comes back when the test ends.
#include <optional>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide.hpp"
#else
#include <stdlib.h>
#endif

#include "platform/fs.hpp"

namespace nm::test {

// Sets (or, given none, removes) a variable; false when the system refuses.
inline bool set_env(const char* name, const std::optional<std::string>& value) {
#ifdef _WIN32
  // The Win32 environment, which os::get_env reads and children inherit.
  const std::wstring wvalue = value ? os::win::to_wide(*value) : std::wstring();
  return SetEnvironmentVariableW(os::win::to_wide(name).c_str(), value ? wvalue.c_str() : nullptr);
#else
  return (value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name)) == 0;
#endif
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value)
      : name_(name), old_(os::get_env(name)), ok_(set_env(name, value)) {}
  ~ScopedEnv() { set_env(name_, old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  bool ok() const { return ok_; }  // whether the value could be set

 private:
  const char* name_;
  std::optional<std::string> old_;
  bool ok_;
};

}  // namespace nm::test
