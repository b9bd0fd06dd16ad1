#include "scoped_env.hpp"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide.hpp"
#else
#include <stdlib.h>
#endif

namespace nm::test {

bool set_env(const char* name, const std::optional<std::string>& value) {
#ifdef _WIN32
  // The Win32 environment, which os::get_env reads and children inherit.
  const std::wstring wvalue = value ? os::win::to_wide(*value) : std::wstring();
  return SetEnvironmentVariableW(os::win::to_wide(name).c_str(), value ? wvalue.c_str() : nullptr);
#else
  return (value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name)) == 0;
#endif
}

}  // namespace nm::test
