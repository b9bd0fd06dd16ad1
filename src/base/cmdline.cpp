#include "base/cmdline.hpp"

namespace nm::base {

static bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

std::vector<std::string> split_command_line(std::string_view s) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = s.size();
  if (n == 0) return args;

  std::string prog;
  if (s[0] == '"') {
    i = 1;
    while (i < n && s[i] != '"') prog += s[i++];
    if (i < n) ++i;
  } else {
    while (i < n && !is_blank(s[i])) prog += s[i++];
  }
  args.push_back(std::move(prog));

  for (;;) {
    while (i < n && is_blank(s[i])) ++i;
    if (i >= n) break;
    std::string cur;
    bool quoted = false;
    while (i < n) {
      const char c = s[i];
      if (is_blank(c) && !quoted) break;
      if (c == '\\') {
        size_t m = 0;
        while (i < n && s[i] == '\\') ++m, ++i;
        if (i < n && s[i] == '"') {
          cur.append(m / 2, '\\');
          if (m % 2 == 1) {
            cur += '"';
            ++i;
          }
        } else {
          cur.append(m, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && s[i + 1] == '"') {
          cur += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
        continue;
      }
      cur += c;
      ++i;
    }
    args.push_back(std::move(cur));
  }
  return args;
}

std::string quote_argument(std::string_view arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string_view::npos)
    return std::string(arg);
  std::string out = "\"";
  size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

std::string join_command_line(std::string_view program, const std::vector<std::string>& args) {
  // The program name cannot hold a quote, and its rule has no escapes.
  std::string line(1, '"');
  line += program;
  line += '"';
  for (const auto& a : args) {
    line += ' ';
    line += quote_argument(a);
  }
  return line;
}

}  // namespace nm::base
