// Running a program with its output captured (the registry tool).
#include <windows.h>

#include "os/error.hpp"
#include "os/process.hpp"
#include "os/win32/handle.hpp"
#include "os/win32/spawn.hpp"

namespace nm::os {

namespace {

struct Pipe {
  win::Handle read, write;
};

// Neither end is inheritable: the child gets its copy of the write end
// through the start, and no other program ever holds one.
Result<Pipe> open_pipe() {
  HANDLE r = nullptr, w = nullptr;
  if (!CreatePipe(&r, &w, nullptr, 0)) return last_system_error();
  return Pipe{win::Handle(r), win::Handle(w)};
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

// Reads both pipes to their ends. Standard error is read on a second thread
// so that neither pipe can fill up and stall the child while the other one
// is read. The error code of the first failure, or 0.
DWORD drain(Pipe& out_pipe, Pipe& err_pipe, std::string& out, std::string& err) {
  Reader o, e;
  o.pipe = out_pipe.read.get();
  e.pipe = err_pipe.read.get();
  win::Handle err_thread(CreateThread(nullptr, 0, read_to_end, &e, 0, nullptr));
  DWORD start_error = 0;
  if (!err_thread) {
    start_error = GetLastError();
    err_pipe.read.reset();  // the child sees a broken pipe instead of blocking
  }
  read_to_end(&o);
  if (err_thread) WaitForSingleObject(err_thread.get(), INFINITE);
  out = std::move(o.data);
  err = std::move(e.data);
  for (const DWORD code : {start_error, o.error, e.error})
    if (code) return code;
  return 0;
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
  auto out = open_pipe();
  if (!out) return out.failure();
  auto err = open_pipe();
  if (!err) return err.failure();
  auto in = win::open_null_device();
  if (!in) return in.failure();

  auto started = win::start_process(program, args, {in->get(), out->write.get(), err->write.get()},
                                    CREATE_NO_WINDOW);
  if (!started) return started.failure();
  // Only the child keeps the write ends, so the reads end when it does.
  out->write.reset();
  err->write.reset();
  in->reset();

  Captured c;
  const DWORD read_error = drain(*out, *err, c.out, c.err);
  const HANDLE process = started->process.get();
  if (WaitForSingleObject(process, INFINITE) == WAIT_FAILED) return last_system_error();
  if (read_error) return system_error(static_cast<int>(read_error));
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) return last_system_error();
  c.exit_code = static_cast<int>(code);
  return c;
}

std::optional<fs::path> system_folder() {
  return folder_from(GetSystemDirectoryW);
}
std::optional<fs::path> windows_folder() {
  return folder_from(GetWindowsDirectoryW);
}

}  // namespace nm::os
