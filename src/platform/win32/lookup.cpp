#include "platform/lookup.hpp"

#include <windows.h>

#include "platform/console.hpp"
#include "platform/win32/wide.hpp"

namespace nm::os {

namespace {
struct Handle {
  HANDLE h;
  ~Handle() {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
}  // namespace

std::optional<bool> process_exists(uint32_t pid) {
  if (pid == 0) return false;
  Handle p{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)};
  if (!p.h) {
    const DWORD err = GetLastError();
    if (err == ERROR_ACCESS_DENIED) return true;  // someone else's process
    if (err == ERROR_INVALID_PARAMETER) return false;
    return std::nullopt;
  }
  // A process that has ended but whose handle someone still holds can be
  // opened too.
  DWORD code = 0;
  if (!GetExitCodeProcess(p.h, &code)) return std::nullopt;
  return code == STILL_ACTIVE;
}

std::optional<bool> same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
  const auto identity = [](const std::filesystem::path& p,
                           BY_HANDLE_FILE_INFORMATION& info) -> bool {
    // No access rights needed to read a file's identity; folders need the
    // backup-semantics flag to be opened at all.
    Handle f{CreateFileW(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    return f.h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(f.h, &info);
  };
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  if (!identity(a, ia) || !identity(b, ib)) return std::nullopt;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool write_stdout_text(std::string_view utf8) {
  HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (h == nullptr || h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode))
    return write_stdout(utf8).ok();
  std::wstring wide = win::to_wide(utf8);
  std::wstring_view rest = wide;
  while (!rest.empty()) {
    DWORD done = 0;
    DWORD chunk = rest.size() > 8192 ? 8192 : static_cast<DWORD>(rest.size());
    // Never split a surrogate pair between two writes.
    if (chunk < rest.size() && rest[chunk - 1] >= 0xD800 && rest[chunk - 1] <= 0xDBFF) --chunk;
    if (!WriteConsoleW(h, rest.data(), chunk, &done, nullptr) || done == 0) return false;
    rest.remove_prefix(done);
  }
  return true;
}

}  // namespace nm::os
