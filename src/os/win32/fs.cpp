#include "os/fs.hpp"

#include <initguid.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <windows.h>

#include <vector>

#include "os/error.hpp"
#include "os/win32/handle.hpp"
#include "os/win32/wide.hpp"

namespace nm::os {

fs::path path_from_utf8(std::string_view utf8) {
  return fs::path(win::to_wide(utf8));
}

std::optional<std::string> path_to_utf8(const fs::path& p) {
  return win::from_wide(p.native());
}

std::string path_display(const fs::path& p) {
  return win::from_wide_lossy(p.native());
}

static std::optional<std::wstring> get_env_wide(const char* name) {
  const std::wstring wname = win::to_wide(name);
  SetLastError(0);
  const DWORD n = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
  if (n == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::wstring();
  }
  std::wstring buf(n, L'\0');
  const DWORD m = GetEnvironmentVariableW(wname.c_str(), buf.data(), n);
  buf.resize(m);
  return buf;
}

std::optional<std::string> get_env(const char* name) {
  auto wide = get_env_wide(name);
  if (!wide) return std::nullopt;
  return win::from_wide_lossy(*wide);
}

std::optional<fs::path> get_env_path(const char* name) {
  auto wide = get_env_wide(name);
  if (!wide) return std::nullopt;
  return fs::path(std::move(*wide));
}

PathListRules path_list_rules() {
  return PathListRules::windows;
}

Result<fs::path> exe_path() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return last_system_error();
    if (n < buf.size()) return fs::path(std::wstring(buf.data(), n));
    buf.resize(buf.size() * 2);
  }
}

std::optional<fs::path> roaming_app_data() {
  PWSTR raw = nullptr;
  const HRESULT hr = SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &raw);
  if (FAILED(hr)) {
    CoTaskMemFree(raw);
    return std::nullopt;
  }
  fs::path p(std::wstring(raw, static_cast<size_t>(lstrlenW(raw))));
  CoTaskMemFree(raw);
  return p;
}

namespace {

using win::Handle;

using win::write_all;
}  // namespace

Result<std::string> read_file(const fs::path& p) {
  Handle f(CreateFileW(p.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return last_system_error();
  std::string out;
  char buf[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(f.get(), buf, sizeof buf, &got, nullptr)) return last_system_error();
    if (got == 0) break;
    out.append(buf, got);
  }
  return out;
}

Status write_file(const fs::path& p, std::string_view bytes) {
  Handle f(CreateFileW(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return last_system_error();
  if (const DWORD err = write_all(f.get(), bytes)) return system_error(static_cast<int>(err));
  return {};
}

// Appenders also take turns on one byte far beyond any real data. Windows
// appends atomically for an append-only handle and needs no lock (a refused
// lock is simply not held), but Wine emulates the append with a size query
// and a positioned write, which lets two processes write over each other.
// The byte is never read or written, so the lock blocks nobody's data;
// waiting is bounded, after which the line is written anyway.
class AppendTurn {
 public:
  explicit AppendTurn(HANDLE h) : h_(h) {
    const ULONGLONG deadline = GetTickCount64() + 2000;
    for (;;) {
      OVERLAPPED o = region();
      if (LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &o)) {
        held_ = true;
        return;
      }
      if (GetLastError() != ERROR_LOCK_VIOLATION || GetTickCount64() >= deadline) return;
      Sleep(1);
    }
  }
  ~AppendTurn() {
    if (!held_) return;
    OVERLAPPED o = region();
    UnlockFileEx(h_, 0, 1, 0, &o);
  }
  AppendTurn(const AppendTurn&) = delete;
  AppendTurn& operator=(const AppendTurn&) = delete;

 private:
  static OVERLAPPED region() {
    OVERLAPPED o{};
    o.Offset = 0xFFFFFFF0u;
    o.OffsetHigh = 0x7FFFFFFFu;
    return o;
  }
  HANDLE h_;
  bool held_ = false;
};

Status append_file(const fs::path& p, std::string_view bytes) {
  // Append-only access: every write lands at the current end of the file,
  // so lines of several processes never overwrite each other.
  Handle f(CreateFileW(p.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return last_system_error();
  AppendTurn turn(f.get());
  if (const DWORD err = write_all(f.get(), bytes)) return system_error(static_cast<int>(err));
  return {};
}

Status create_empty_file(const fs::path& p) {
  Handle f(CreateFileW(p.c_str(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return last_system_error();
  return {};
}

Status remove_file(const fs::path& p) {
  if (!DeleteFileW(p.c_str())) return last_system_error();
  return {};
}

// As CreateDirectoryW sees paths, so that a drive-relative path ("Z:sub",
// under that drive's current folder) works: walking up by name would reach
// the bare drive and fail there.
Status make_dirs(const fs::path& p) {
  if (CreateDirectoryW(p.c_str(), nullptr)) return {};
  const DWORD err = GetLastError();
  if (err == ERROR_ALREADY_EXISTS)
    return is_dir(p) ? Status() : Status(system_error(ERROR_DIRECTORY));
  const fs::path parent = p.parent_path();
  // A root ("C:\", "Z:", "\\server\share") or nothing above: nothing to make.
  if (err != ERROR_PATH_NOT_FOUND || parent == p || parent.relative_path().empty())
    return system_error(static_cast<int>(err));
  if (auto made = make_dirs(parent); !made) return made;
  if (CreateDirectoryW(p.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
    return is_dir(p) ? Status() : Status(system_error(ERROR_DIRECTORY));
  return last_system_error();
}

bool is_dir(const fs::path& p) {
  const DWORD a = GetFileAttributesW(p.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  if (!(a & FILE_ATTRIBUTE_REPARSE_POINT)) return (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // Follow a link: open the target itself.
  Handle f(CreateFileW(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!f) return false;
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(f.get(), &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool metadata_readable(const fs::path& p) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  return GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &d) != 0;
}

Status move_replace(const fs::path& from, const fs::path& to) {
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return last_system_error();
  return {};
}

FileLock::FileLock(const fs::path& p) {
  Handle h(CreateFileW(p.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (h) handle_ = reinterpret_cast<intptr_t>(h.release());
}

FileLock::~FileLock() {
  if (handle_ == -1) return;
  // Closing the handle releases the lock too; unlocking first says so.
  const Handle h(reinterpret_cast<HANDLE>(handle_));
  if (held_) {
    OVERLAPPED o{};
    UnlockFileEx(h.get(), 0, 1, 0, &o);
  }
}

bool FileLock::try_lock() {
  if (handle_ == -1) return false;
  if (!held_) {
    OVERLAPPED o{};
    held_ = LockFileEx(reinterpret_cast<HANDLE>(handle_),
                       LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &o) != 0;
  }
  return held_;
}

}  // namespace nm::os
