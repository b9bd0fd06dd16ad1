#include "os/error.hpp"

#include <windows.h>
#include <winternl.h>

#include "base/text.hpp"
#include "os/win32/wide.hpp"

// Exported by ntdll, which every process has loaded; the SDK headers do not
// declare it.
extern "C" NTSTATUS NTAPI RtlGetLastNtStatus();

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

Error system_error(int code) {
  return Error{system_error_text(code), windows_error_kind(static_cast<uint32_t>(code), 0)};
}

Error last_system_error() {
  // Both read before anything else can change them.
  const DWORD code = GetLastError();
  const NTSTATUS status = RtlGetLastNtStatus();
  return Error{system_error_text(static_cast<int>(code)),
               windows_error_kind(code, static_cast<uint32_t>(status))};
}

Error not_found_error() {
  return system_error(ERROR_FILE_NOT_FOUND);
}

}  // namespace nm::os
