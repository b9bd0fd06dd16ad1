#include "os/win32/spawn.hpp"

#include "base/cmdline.hpp"
#include "os/error.hpp"
#include "os/fs.hpp"
#include "os/win32/wide.hpp"

namespace nm::os::win {

namespace {

// Inheritable copies of the child's standard handles, one per distinct
// handle, closed again when the call is over.
class InheritedCopies {
 public:
  // The copy that stands for `h`; no handle stays as it is.
  Result<HANDLE> copy_of(HANDLE h) {
    if (!h || h == INVALID_HANDLE_VALUE) return h;
    for (size_t i = 0; i < originals_.size(); ++i)
      if (originals_[i] == h) return copies_[i].get();
    HANDLE dup = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
      return last_system_error();
    originals_.push_back(h);
    copies_.emplace_back(dup);
    list_.push_back(dup);
    return dup;
  }
  std::vector<HANDLE>& list() { return list_; }

 private:
  std::vector<HANDLE> originals_;
  std::vector<Handle> copies_;
  std::vector<HANDLE> list_;
};

// A thread attribute list that names the handles a child may inherit.
class HandleList {
 public:
  explicit HandleList(std::vector<HANDLE>& handles) {
    if (handles.empty()) return;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    buf_.resize(size);
    auto* attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buf_.data());
    if (!size || !InitializeProcThreadAttributeList(attrs, 1, 0, &size)) return;
    initialized_ = true;
    if (UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                  handles.size() * sizeof(HANDLE), nullptr, nullptr))
      attrs_ = attrs;
  }
  ~HandleList() {
    if (initialized_)
      DeleteProcThreadAttributeList(reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buf_.data()));
  }
  HandleList(const HandleList&) = delete;
  HandleList& operator=(const HandleList&) = delete;
  // None when the list is empty or the system cannot make it.
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return attrs_; }

 private:
  std::vector<char> buf_;
  bool initialized_ = false;
  LPPROC_THREAD_ATTRIBUTE_LIST attrs_ = nullptr;
};

}  // namespace

Result<Started> start_process(const std::filesystem::path& program,
                              const std::vector<std::string>& args, const ChildStdio& stdio,
                              DWORD flags) {
  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof si;
  si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  InheritedCopies copies;
  HANDLE* slots[] = {&si.StartupInfo.hStdInput, &si.StartupInfo.hStdOutput,
                     &si.StartupInfo.hStdError};
  const HANDLE wanted[] = {stdio.in, stdio.out, stdio.err};
  for (int i = 0; i < 3; ++i) {
    auto copy = copies.copy_of(wanted[i]);
    if (!copy) return copy.failure();
    *slots[i] = *copy;
  }
  const HandleList handles(copies.list());
  if (handles.get()) {
    si.lpAttributeList = handles.get();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  } else {
    // Without the list the child would inherit every inheritable handle of
    // ours: it inherits nothing then, its standard handles included.
    si.StartupInfo.dwFlags &= ~STARTF_USESTDHANDLES;
    si.StartupInfo.hStdInput = si.StartupInfo.hStdOutput = si.StartupInfo.hStdError = nullptr;
  }

  std::wstring cmd = to_wide(base::join_command_line(path_display(program), args));
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(program.c_str(), cmd.data(), nullptr, nullptr, handles.get() ? TRUE : FALSE,
                      flags, nullptr, nullptr, &si.StartupInfo, &pi))
    return last_system_error();
  CloseHandle(pi.hThread);
  return Started{Handle(pi.hProcess), pi.dwProcessId};
}

Result<Handle> open_null_device() {
  Handle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr));
  if (!nul) return last_system_error();
  return nul;
}

}  // namespace nm::os::win
