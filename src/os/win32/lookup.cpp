#include "os/lookup.hpp"

#include <windows.h>

#include "os/win32/handle.hpp"

namespace nm::os {

std::optional<bool> process_exists(uint32_t pid) {
  if (pid == 0) return false;
  const win::Handle p(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!p) {
    const DWORD err = GetLastError();
    if (err == ERROR_ACCESS_DENIED) return true;  // someone else's process
    if (err == ERROR_INVALID_PARAMETER) return false;
    return std::nullopt;
  }
  // A process that has ended but whose handle someone still holds can be
  // opened too.
  DWORD code = 0;
  if (!GetExitCodeProcess(p.get(), &code)) return std::nullopt;
  return code == STILL_ACTIVE;
}

std::optional<bool> same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
  const auto identity = [](const std::filesystem::path& p,
                           BY_HANDLE_FILE_INFORMATION& info) -> bool {
    // No access rights needed to read a file's identity; folders need the
    // backup-semantics flag to be opened at all.
    const win::Handle f(CreateFileW(p.c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return f && GetFileInformationByHandle(f.get(), &info);
  };
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  if (!identity(a, ia) || !identity(b, ib)) return std::nullopt;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace nm::os
