#include "os/win32/wide.hpp"

#include "base/text.hpp"

namespace nm::os::win {

std::wstring to_wide(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const char32_t cp = base::next_code_point(utf8, i);
    if (cp >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(cp);
    }
  }
  return out;
}

static std::optional<std::string> convert(std::wstring_view w, bool lossy) {
  std::string out;
  out.reserve(w.size());
  for (size_t i = 0; i < w.size(); ++i) {
    char32_t c = static_cast<char16_t>(w[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 &&
        w[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(w[i + 1]) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      if (!lossy) return std::nullopt;
      c = 0xFFFD;
    }
    base::append_utf8(out, c);
  }
  return out;
}

std::optional<std::string> from_wide(std::wstring_view wide) {
  return convert(wide, false);
}

std::string from_wide_lossy(std::wstring_view wide) {
  return *convert(wide, true);
}

}  // namespace nm::os::win
