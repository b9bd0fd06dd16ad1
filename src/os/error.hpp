#pragma once
// System errors as values: the system's text and the kind callers act on,
// both decided here, once per platform.
#include <string>

#include "base/result.hpp"

namespace nm::os {

// The platform's message for an error code, trailing white space removed,
// then " (os error N)".
std::string system_error_text(int code);
// The calling thread's last error code (GetLastError / errno).
int last_error();

// The error for a system error code: its text and its kind.
Error system_error(int code);
inline Error last_system_error() {
  return system_error(last_error());
}
// The system's own error for a file that is not there.
Error not_found_error();

}  // namespace nm::os
