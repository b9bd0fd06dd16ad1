#pragma once
// Starting programs: detached (the application) and captured (the registry tool).
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

// Windows process creation flags.
inline constexpr uint32_t kStartDetachedBreakaway = 0x01000208;
inline constexpr uint32_t kStartDetached = 0x00000208;

// Starts the program with the arguments, standard handles on the null device,
// current directory and environment inherited, with the given creation flags
// (POSIX: a new session). The error is the system's text.
Result<Process> start_detached(const fs::path& program, const std::vector<std::string>& args,
                               uint32_t flags);
// Starts with default settings: standard handles inherited, no flags.
Result<Process> start_plain(const fs::path& program, const std::vector<std::string>& args);

// AllowSetForegroundWindow; does nothing on POSIX. Failures are ignored.
void allow_set_foreground(uint32_t pid);

uint32_t current_pid();
// Sets (or, with none, removes) a variable of this process's environment,
// which the programs it starts inherit.

struct Captured {
  int exit_code = 0;
  std::string out;
  std::string err;
};
// Runs the program with empty standard input, reads standard output and
// error to their ends without deadlock, waits for it. The error is the
// system's text.
Result<Captured> run_captured(const fs::path& program, const std::vector<std::string>& args);

// The Windows system folder and the Windows folder; none on POSIX.
std::optional<fs::path> system_folder();
std::optional<fs::path> windows_folder();

}  // namespace nm::os
