#include "os/error.hpp"

#include <windows.h>

#include "base/text.hpp"
#include "os/win32/wide.hpp"

namespace nm::os {

std::string system_error_text(int code) {
  wchar_t* buf = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::string text;
  if (n && buf) text = win::from_wide_lossy(std::wstring_view(buf, n));
  if (buf) LocalFree(buf);
  return std::string(base::trim_unicode_end(text)) + " (os error " + std::to_string(code) + ")";
}

int last_error() {
  return static_cast<int>(GetLastError());
}

static ErrorKind kind_of(int code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ErrorKind::not_found;
    case WSAETIMEDOUT:
    case ERROR_TIMEOUT:
    case WAIT_TIMEOUT: return ErrorKind::timed_out;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return ErrorKind::in_use;
    default: return ErrorKind::other;
  }
}

Error system_error(int code) {
  return Error{system_error_text(code), kind_of(code)};
}

Error not_found_error() {
  return system_error(ERROR_FILE_NOT_FOUND);
}

}  // namespace nm::os
