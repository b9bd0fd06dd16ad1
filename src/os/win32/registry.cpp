#include "os/registry.hpp"

#include <windows.h>

#include <vector>

#include "os/error.hpp"
#include "os/win32/wide.hpp"

namespace nm::os {

std::string_view registry_tool_file() {
  return "reg.exe";
}

bool registry_available() {
  return true;
}

namespace {
struct Key {
  HKEY h = nullptr;
  ~Key() {
    if (h) RegCloseKey(h);
  }
};
}  // namespace

Result<RegistryDefault> read_default_value(Hive hive, RegistryView view, std::string_view subkey) {
  const HKEY root = hive == Hive::current_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  const REGSAM flags =
      KEY_QUERY_VALUE | (view == RegistryView::bits32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
  RegistryDefault out;
  Key key;
  LSTATUS rc = RegOpenKeyExW(root, win::to_wide(subkey).c_str(), 0, flags, &key.h);
  if (rc == ERROR_FILE_NOT_FOUND) return out;
  if (rc != ERROR_SUCCESS) return system_error(static_cast<int>(rc));

  // The value may change between asking for its size and reading it.
  std::vector<BYTE> data;
  DWORD type = 0;
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    rc = RegQueryValueExW(key.h, nullptr, nullptr, &type, data.empty() ? nullptr : data.data(),
                          &size);
    if (rc == ERROR_FILE_NOT_FOUND) {
      out.state = RegistryDefault::State::no_value;
      return out;
    }
    if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && data.empty() && size > 0)) {
      data.resize(size + sizeof(wchar_t));
      continue;
    }
    if (rc != ERROR_SUCCESS) return system_error(static_cast<int>(rc));
    data.resize(size);
    break;
  }
  out.type = type;
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    out.state = RegistryDefault::State::not_text;
    return out;
  }
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  out.state = RegistryDefault::State::text;
  out.text = win::from_wide_lossy(text);
  return out;
}

}  // namespace nm::os
