#include "os/process.hpp"

#include <windows.h>

#include "os/error.hpp"
#include "os/fs.hpp"
#include "os/win32/spawn.hpp"

namespace nm::os {

Process& Process::operator=(Process&& o) noexcept {
  if (this != &o) {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = o.handle_;
    pid_ = o.pid_;
    ended_ = o.ended_;
    o.handle_ = -1;
  }
  return *this;
}

Process::~Process() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

ProcessState Process::state() {
  if (handle_ == -1) return ProcessState::unknown;
  const HANDLE h = reinterpret_cast<HANDLE>(handle_);
  DWORD code = 0;
  if (!GetExitCodeProcess(h, &code)) return ProcessState::unknown;
  if (code != STILL_ACTIVE) return ProcessState::ended;
  // A program may also end with the code that means "still active".
  switch (WaitForSingleObject(h, 0)) {
    case WAIT_TIMEOUT: return ProcessState::running;
    case WAIT_OBJECT_0: return ProcessState::ended;
    default: return ProcessState::unknown;
  }
}

namespace {

DWORD creation_flags(StartMode mode) {
  constexpr DWORD detached = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP;
  switch (mode) {
    case StartMode::detached_from_job: return detached | CREATE_BREAKAWAY_FROM_JOB;
    case StartMode::detached: return detached;
    case StartMode::attached: break;
  }
  return 0;
}

Process adopt(win::Started started) {
  return Process(reinterpret_cast<intptr_t>(started.process.release()), started.pid);
}

}  // namespace

Result<Process> start_program(const fs::path& program, const std::vector<std::string>& args,
                              StartMode mode) {
  win::ChildStdio stdio;
  win::Handle nul;
  if (mode == StartMode::attached) {
    stdio = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
             GetStdHandle(STD_ERROR_HANDLE)};
  } else {
    auto opened = win::open_null_device();
    if (!opened) return opened.failure();
    nul = std::move(opened).value();
    stdio = {nul.get(), nul.get(), nul.get()};
  }
  auto started = win::start_process(program, args, stdio, creation_flags(mode));
  if (!started) return started.failure();
  return adopt(std::move(started).value());
}

// Safari runs on macOS only; here the start fails as it would on any system
// without that program.
Result<Process> open_app_bundle(const fs::path& bundle) {
  return start_program("/usr/bin/open", {"-g", path_display(bundle)}, StartMode::attached);
}

void allow_set_foreground(uint32_t pid) {
  AllowSetForegroundWindow(pid);
}

uint32_t current_pid() {
  return GetCurrentProcessId();
}

}  // namespace nm::os
