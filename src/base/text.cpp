#include "base/text.hpp"

#include <cstdio>

namespace nm::base {

char32_t next_code_point(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  ++i;
  if (b0 < 0x80) return b0;
  int len = 0;
  char32_t cp = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, cp = b0 & 0x07;
  } else {
    return 0xFFFD;
  }
  // The second byte's range depends on the first, which rules out overlong
  // forms, surrogates and code points beyond U+10FFFF.
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 == 0xE0)
    lo = 0xA0;
  else if (b0 == 0xED)
    hi = 0x9F;
  else if (b0 == 0xF0)
    lo = 0x90;
  else if (b0 == 0xF4)
    hi = 0x8F;
  for (int k = 1; k < len; ++k, lo = 0x80, hi = 0xBF) {
    // A byte that cannot continue the sequence ends it: the bytes taken so
    // far are one invalid sequence and the byte starts the next.
    if (i >= s.size()) return 0xFFFD;
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < lo || b > hi) return 0xFFFD;
    cp = (cp << 6) | (b & 0x3F);
    ++i;
  }
  return cp;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The length of the valid sequence at i, or 0 when it is invalid.
static size_t valid_sequence_length(std::string_view s, size_t i) {
  size_t j = i;
  const char32_t cp = next_code_point(s, j);
  if (cp == 0xFFFD && !(j - i == 3 && static_cast<unsigned char>(s[i]) == 0xEF)) return 0;
  return j - i;
}

bool is_valid_utf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    const size_t n = valid_sequence_length(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string utf8_lossy(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) append_utf8(out, next_code_point(s, i));
  return out;
}

bool is_unicode_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::string_view trim_unicode_start(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    size_t j = i;
    if (!is_unicode_space(next_code_point(s, j))) break;
    i = j;
  }
  return s.substr(i);
}

std::string_view trim_unicode_end(std::string_view s) {
  // Walk forward so that multi-byte spaces are recognised; remember where the
  // last non-space character ended.
  size_t end = 0;
  for (size_t i = 0; i < s.size();) {
    const char32_t cp = next_code_point(s, i);
    if (!is_unicode_space(cp)) end = i;
  }
  return s.substr(0, end);
}

std::string_view trim_unicode(std::string_view s) {
  return trim_unicode_end(trim_unicode_start(s));
}

bool is_json_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string ascii_upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool iequals_ascii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string quote_debug(std::string_view s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size();) {
    const char32_t cp = next_code_point(s, i);
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case 0: out += "\\0"; break;
      default:
        if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F)) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
          out += buf;
        } else {
          append_utf8(out, cp);
        }
    }
  }
  out += '"';
  return out;
}

std::string quote_debug_list(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += ", ";
    out += quote_debug(items[i]);
  }
  out += ']';
  return out;
}

}  // namespace nm::base
