#include "os/console.hpp"

#include <windows.h>

#include "base/cmdline.hpp"
#include "os/error.hpp"
#include "os/win32/handle.hpp"
#include "os/win32/wide.hpp"

namespace nm::os {

std::vector<std::string> arguments(int, char**) {
  auto all = base::split_command_line(win::from_wide_lossy(GetCommandLineW()));
  if (!all.empty()) all.erase(all.begin());
  return all;
}

// The handles are raw: no text-mode translation ever touches the bytes.
void init_stdio() {}

Result<size_t> read_stdin(char* buf, size_t n) {
  HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
  DWORD got = 0;
  const DWORD want = n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(n);
  if (!ReadFile(h, buf, want, &got, nullptr)) {
    const DWORD err = GetLastError();
    if (err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF) return size_t{0};
    return system_error(static_cast<int>(err));
  }
  return static_cast<size_t>(got);
}

Status write_stdout(std::string_view bytes) {
  if (const DWORD err = win::write_all(GetStdHandle(STD_OUTPUT_HANDLE), bytes))
    return system_error(static_cast<int>(err));
  return {};
}

void write_stderr(std::string_view bytes) {
  win::write_all(GetStdHandle(STD_ERROR_HANDLE), bytes);
}

Status write_stdout_text(std::string_view utf8) {
  HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (h == nullptr || h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode))
    return write_stdout(utf8);
  std::wstring wide = win::to_wide(utf8);
  std::wstring_view rest = wide;
  while (!rest.empty()) {
    DWORD done = 0;
    DWORD chunk = rest.size() > 8192 ? 8192 : static_cast<DWORD>(rest.size());
    // Never split a surrogate pair between two writes.
    if (chunk < rest.size() && rest[chunk - 1] >= 0xD800 && rest[chunk - 1] <= 0xDBFF) --chunk;
    if (!WriteConsoleW(h, rest.data(), chunk, &done, nullptr)) return last_system_error();
    if (done == 0) return system_error(ERROR_WRITE_FAULT);
    rest.remove_prefix(done);
  }
  return {};
}

}  // namespace nm::os
