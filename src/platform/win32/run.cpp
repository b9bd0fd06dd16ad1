// Running a program with its output captured (the registry tool).
#include <windows.h>

#include "base/cmdline.hpp"
#include "platform/error.hpp"
#include "platform/fs.hpp"
#include "platform/process.hpp"
#include "platform/win32/wide.hpp"

namespace nm::os {

namespace {

struct Handle {
  HANDLE h = nullptr;
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }
  void reset() {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = nullptr;
  }
};

// A pipe whose write end the child inherits and whose read end it does not.
bool open_pipe(Handle& read, Handle& write) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  if (!CreatePipe(&read.h, &write.h, &sa, 0)) return false;
  return SetHandleInformation(read.h, HANDLE_FLAG_INHERIT, 0) != 0;
}

struct Reader {
  HANDLE pipe = nullptr;
  std::string data;
  DWORD error = 0;
};

DWORD WINAPI read_to_end(void* arg) {
  auto* r = static_cast<Reader*>(arg);
  char buf[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(r->pipe, buf, sizeof buf, &got, nullptr)) {
      // The pipe breaks when the child has ended and closed its end.
      const DWORD e = GetLastError();
      if (e != ERROR_BROKEN_PIPE) r->error = e;
      return 0;
    }
    if (got == 0) return 0;
    r->data.append(buf, got);
  }
}

std::optional<fs::path> folder_from(UINT (*get)(LPWSTR, UINT)) {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const UINT n = get(buf.data(), static_cast<UINT>(buf.size()));
    if (n == 0) return std::nullopt;
    if (n < buf.size()) {
      buf.resize(n);
      return fs::path(buf);
    }
    buf.resize(n);
  }
}

}  // namespace

Result<Captured> run_captured(const fs::path& program, const std::vector<std::string>& args) {
  Handle out_read, out_write, err_read, err_write, in;
  if (!open_pipe(out_read, out_write) || !open_pipe(err_read, err_write))
    return Error{last_error_text()};
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  in.h = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in.h == INVALID_HANDLE_VALUE) return Error{last_error_text()};

  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in.h;
  si.hStdOutput = out_write.h;
  si.hStdError = err_write.h;
  // The application name is given, so no search happens here; the command
  // line only carries the arguments in the form the child splits.
  std::wstring line = win::to_wide(join_command_line(path_display(program), args));
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &si, &pi))
    return Error{last_error_text()};
  Handle process, thread;
  process.h = pi.hProcess;
  thread.h = pi.hThread;
  // Only the child keeps the write ends, so the reads end when it does.
  out_write.reset();
  err_write.reset();
  in.reset();

  // Standard error is read on a second thread so that neither pipe can fill
  // up and stall the child while the other one is read.
  Reader out, err;
  out.pipe = out_read.h;
  err.pipe = err_read.h;
  Handle err_thread;
  err_thread.h = CreateThread(nullptr, 0, read_to_end, &err, 0, nullptr);
  DWORD start_error = 0;
  if (!err_thread.h) {
    start_error = GetLastError();
    err_read.reset();  // the child sees a broken pipe instead of blocking
  }
  read_to_end(&out);
  if (err_thread.h) WaitForSingleObject(err_thread.h, INFINITE);

  if (WaitForSingleObject(process.h, INFINITE) == WAIT_FAILED) return Error{last_error_text()};
  for (const DWORD e : {start_error, out.error, err.error})
    if (e) return Error{system_error_text(static_cast<int>(e))};
  DWORD code = 0;
  if (!GetExitCodeProcess(process.h, &code)) return Error{last_error_text()};
  return Captured{static_cast<int>(code), std::move(out.data), std::move(err.data)};
}

std::optional<fs::path> system_folder() {
  return folder_from(GetSystemDirectoryW);
}
std::optional<fs::path> windows_folder() {
  return folder_from(GetWindowsDirectoryW);
}

}  // namespace nm::os
