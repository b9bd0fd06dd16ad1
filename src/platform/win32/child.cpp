#include "platform/child.hpp"

#include <windows.h>

#include "base/cmdline.hpp"
#include "platform/error.hpp"
#include "platform/fs.hpp"
#include "platform/win32/wide.hpp"

namespace nm::os {

namespace {

Result<HANDLE> spawn_one(const fs::path& program, const std::vector<std::string>& args,
                         HANDLE null_in, HANDLE null_out) {
  const auto utf8_program = path_display(program);
  std::wstring line = win::to_wide(join_command_line(utf8_program, args));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = null_in;
  si.hStdOutput = null_out;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &si, &pi))
    return Error{last_error_text()};
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

int wait_exit_code(HANDLE process) {
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) code = static_cast<DWORD>(-1);
  CloseHandle(process);
  return static_cast<int>(code);
}

HANDLE open_null(DWORD access) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0,
                     nullptr);
}

}  // namespace

Result<std::vector<int>> run_side_by_side(const fs::path& program,
                                          const std::vector<std::vector<std::string>>& arg_lists) {
  const HANDLE null_in = open_null(GENERIC_READ);
  const HANDLE null_out = open_null(GENERIC_WRITE);
  std::vector<HANDLE> started;
  std::optional<Error> failure;
  if (null_in == INVALID_HANDLE_VALUE || null_out == INVALID_HANDLE_VALUE) {
    failure = Error{last_error_text()};
  } else {
    for (const auto& args : arg_lists) {
      auto process = spawn_one(program, args, null_in, null_out);
      if (!process) {
        failure = Error{process.error()};
        break;
      }
      started.push_back(*process);
    }
  }
  std::vector<int> codes;
  for (HANDLE h : started) codes.push_back(wait_exit_code(h));
  if (null_in != INVALID_HANDLE_VALUE) CloseHandle(null_in);
  if (null_out != INVALID_HANDLE_VALUE) CloseHandle(null_out);
  if (failure) return *failure;
  return codes;
}

Status set_env(const char* name, const std::optional<std::string>& value) {
  const std::wstring wname = win::to_wide(name);
  const std::wstring wvalue = value ? win::to_wide(*value) : std::wstring();
  if (!SetEnvironmentVariableW(wname.c_str(), value ? wvalue.c_str() : nullptr))
    return Error{last_error_text()};
  return {};
}

}  // namespace nm::os
