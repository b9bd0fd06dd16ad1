#pragma once
#include <string>

namespace nm::os {

// The platform's message for an error code, trailing white space removed,
// then " (os error N)".
std::string system_error_text(int code);
// The calling thread's last error code (GetLastError / errno).
int last_error();
inline std::string last_error_text() { return system_error_text(last_error()); }

}  // namespace nm::os
