#include "scoped_env.hpp"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide.hpp"
#else
#include <stdlib.h>
#endif

#include "platform/fs.hpp"

namespace nm::test {

bool set_env(const char* name, const std::optional<std::string>& value) {
#ifdef _WIN32
  // The Win32 environment, which os::get_env reads and children inherit.
  const std::wstring wname = os::win::to_wide(name);
  const std::wstring wvalue = value ? os::win::to_wide(*value) : std::wstring();
  return SetEnvironmentVariableW(wname.c_str(), value ? wvalue.c_str() : nullptr) != 0;
#else
  return (value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name)) == 0;
#endif
}

ScopedEnv::ScopedEnv(const char* name, const std::optional<std::string>& value)
    : name_(name), old_(os::get_env(name)), ok_(set_env(name, value)) {}

ScopedEnv::~ScopedEnv() {
  set_env(name_, old_);
}

}  // namespace nm::test
