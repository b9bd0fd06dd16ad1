#pragma once
// The one owner of a Win32 kernel handle.
#include <windows.h>

#include <string_view>
#include <utility>

namespace nm::os::win {

// Closes its handle when destroyed; moves, never copies, so that no handle
// is closed twice. Both null and INVALID_HANDLE_VALUE (what failed calls
// give) count as no handle.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  Handle(Handle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  Handle& operator=(Handle&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }

  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  // Gives the handle up without closing it.
  HANDLE release() { return std::exchange(h_, nullptr); }
  void reset() {
    if (h_) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

// Writes every byte to a file or pipe; 0, or the system's error code.
// Success without progress (a full pipe in non-blocking mode) counts as a
// write fault, so that it cannot loop for ever.
inline DWORD write_all(HANDLE h, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD done = 0;
    const DWORD chunk = bytes.size() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(bytes.size());
    if (!WriteFile(h, bytes.data(), chunk, &done, nullptr)) return GetLastError();
    if (done == 0) return ERROR_WRITE_FAULT;
    bytes.remove_prefix(done);
  }
  return 0;
}

}  // namespace nm::os::win
