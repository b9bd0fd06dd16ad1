#pragma once
// System errors as values: the system's text and the kind callers act on,
// both decided here, once per platform.
#include <cstdint>
#include <string>

#include "base/result.hpp"

namespace nm::os {

// The platform's message for an error code, trailing white space removed,
// then " (os error N)".
std::string system_error_text(int code);

// The error for a system error code: its text and its kind.
Error system_error(int code);
// The error the calling thread's last failed call left. On Windows its kind
// also takes the NT status that call ended with (see windows_error_kind).
Error last_system_error();

// The kind of a Windows error code, given the NT status the failed call
// ended with (RtlGetLastNtStatus; 0 when unknown): access denied to a file
// whose deletion is pending is a file in use, like a sharing violation.
ErrorKind windows_error_kind(uint32_t code, uint32_t nt_status);

// The system's own error for a file that is not there.
Error not_found_error();

}  // namespace nm::os
