#pragma once
// The one way the program starts another on Windows.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/result.hpp"
#include "os/win32/handle.hpp"

namespace nm::os::win {

// The standard handles a child gets; null leaves that stream without one.
struct ChildStdio {
  HANDLE in = nullptr;
  HANDLE out = nullptr;
  HANDLE err = nullptr;
};

struct Started {
  Handle process;
  uint32_t pid = 0;
};

// CreateProcessW with the program's own path (no search) and a command line
// that the child splits back into `args`. The child inherits its three
// standard handles and nothing else: they are passed as inheritable copies
// that exist for the call only and are named in PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
// so no other inheritable handle of this process (a browser's pipe, say)
// stays open in a program that may outlive it. The error is the system's.
Result<Started> start_process(const std::filesystem::path& program,
                              const std::vector<std::string>& args, const ChildStdio& stdio,
                              DWORD flags);

// The null device, for reading and writing; not inheritable.
Result<Handle> open_null_device();

}  // namespace nm::os::win
