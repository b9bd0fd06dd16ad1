#include "platform/process.hpp"

#include <windows.h>

#include "base/cmdline.hpp"
#include "platform/error.hpp"
#include "platform/fs.hpp"
#include "platform/win32/wide.hpp"

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
    case WAIT_TIMEOUT:
      return ProcessState::running;
    case WAIT_OBJECT_0:
      return ProcessState::ended;
    default:
      return ProcessState::unknown;
  }
}

namespace {

// Handles that exist for the time of one CreateProcessW call.
struct OwnedHandles {
  std::vector<HANDLE> list;
  ~OwnedHandles() {
    for (HANDLE h : list) CloseHandle(h);
  }
};

// Inheritable copies of the standard handles, for a child that shares them.
void inherit_standard_handles(STARTUPINFOW& si, OwnedHandles& owned) {
  HANDLE* slots[] = {&si.hStdInput, &si.hStdOutput, &si.hStdError};
  const DWORD ids[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int i = 0; i < 3; ++i) {
    const HANDLE h = GetStdHandle(ids[i]);
    HANDLE dup = nullptr;
    if (h && h != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, TRUE,
                        DUPLICATE_SAME_ACCESS)) {
      owned.list.push_back(dup);
      *slots[i] = dup;
    } else {
      *slots[i] = h;
    }
  }
}

Result<Process> create(const fs::path& program, const std::vector<std::string>& args, DWORD flags,
                       bool null_stdio) {
  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof si;
  si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  OwnedHandles owned;
  if (null_stdio) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    const HANDLE nul =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                    OPEN_EXISTING, 0, nullptr);
    if (nul == INVALID_HANDLE_VALUE) return Error{last_error_text()};
    owned.list.push_back(nul);
    si.StartupInfo.hStdInput = si.StartupInfo.hStdOutput = si.StartupInfo.hStdError = nul;
  } else {
    inherit_standard_handles(si.StartupInfo, owned);
  }

  // Only the handles meant for the child are inherited: an inheritable pipe
  // of the browser must not stay open in a program that outlives the host.
  std::vector<char> attr_buf;
  SIZE_T attr_size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &attr_size);
  attr_buf.resize(attr_size);
  auto* attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attr_buf.data());
  bool have_attrs = false;
  if (!owned.list.empty() && attr_size &&
      InitializeProcThreadAttributeList(attrs, 1, 0, &attr_size)) {
    have_attrs = true;
    if (UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, owned.list.data(),
                                  owned.list.size() * sizeof(HANDLE), nullptr, nullptr)) {
      si.lpAttributeList = attrs;
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
  }

  const std::wstring app = program.native();
  std::wstring cmd = win::to_wide(join_command_line(path_display(program), args));
  PROCESS_INFORMATION pi{};
  const BOOL ok =
      CreateProcessW(app.c_str(), cmd.data(), nullptr, nullptr, owned.list.empty() ? FALSE : TRUE,
                     flags, nullptr, nullptr, &si.StartupInfo, &pi);
  const DWORD err = GetLastError();
  if (have_attrs) DeleteProcThreadAttributeList(attrs);
  if (!ok) return Error{system_error_text(static_cast<int>(err))};
  CloseHandle(pi.hThread);
  return Process(reinterpret_cast<intptr_t>(pi.hProcess), pi.dwProcessId);
}

}  // namespace

Result<Process> start_detached(const fs::path& program, const std::vector<std::string>& args,
                               uint32_t flags) {
  return create(program, args, flags, true);
}

Result<Process> start_plain(const fs::path& program, const std::vector<std::string>& args) {
  return create(program, args, 0, false);
}

void allow_set_foreground(uint32_t pid) {
  AllowSetForegroundWindow(pid);
}

uint32_t current_pid() {
  return GetCurrentProcessId();
}


}  // namespace nm::os
