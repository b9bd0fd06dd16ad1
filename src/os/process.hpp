#pragma once
// Starting programs: the application (detached), a helper that shares the
// console, and the registry tool (with its output captured).
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/result.hpp"

namespace nm::os {

namespace fs = std::filesystem;

enum class ProcessState { running, ended, unknown };

// A started process. Destroying it releases the handle and never waits for
// or stops the process.
class Process {
 public:
  Process() = default;
  Process(intptr_t handle, uint32_t pid) : handle_(handle), pid_(pid) {}
  Process(Process&& o) noexcept : handle_(o.handle_), pid_(o.pid_), ended_(o.ended_) {
    o.handle_ = -1;
  }
  Process& operator=(Process&& o) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  uint32_t pid() const { return pid_; }
  // Looks without waiting.
  ProcessState state();

 private:
  intptr_t handle_ = -1;  // Windows: the process handle; POSIX: the pid
  uint32_t pid_ = 0;
  bool ended_ = false;  // POSIX: reaped, so the pid may no longer be asked about
};

enum class StartMode {
  // Standard handles on the null device, no console, a process group of its
  // own and out of this process's job, so that it outlives the browser that
  // started the host (POSIX: a session of its own).
  detached_from_job,
  // The same for a job that does not let its processes leave it.
  detached,
  // Standard handles and console shared with this process.
  attached,
};

// Starts the program with the arguments, the current directory and the
// environment inherited; nothing but the standard handles is inherited. The
// error is the system's.
Result<Process> start_program(const fs::path& program, const std::vector<std::string>& args,
                              StartMode mode);
// Lets the system open an application bundle in the background (`open -g`,
// attached); the error is the system's.
Result<Process> open_app_bundle(const fs::path& bundle);

// AllowSetForegroundWindow; does nothing on POSIX. Failures are ignored.
void allow_set_foreground(uint32_t pid);

uint32_t current_pid();

struct Captured {
  int exit_code = 0;
  std::string out;
  std::string err;
};
// Runs the program with empty standard input, reads standard output and
// error to their ends without deadlock, waits for it. The error is the
// system's.
Result<Captured> run_captured(const fs::path& program, const std::vector<std::string>& args);

// The Windows system folder and the Windows folder; none on POSIX.
std::optional<fs::path> system_folder();
std::optional<fs::path> windows_folder();

}  // namespace nm::os
