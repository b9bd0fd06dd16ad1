#pragma once
// Properties shared by the fuzz targets; a failed check aborts (a finding).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json/reader.hpp"

namespace fuzz {

[[noreturn]] inline void fail(const char* what, std::string_view detail) {
  std::fprintf(stderr, "check failed: %s: %.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

inline void check(bool ok, const char* what, std::string_view detail = {}) {
  if (!ok) fail(what, detail);
}

// The error ends with " at line L column C", a position inside the input.
inline void check_position(std::string_view input, const std::string& error) {
  const size_t at = error.rfind(" at line ");
  check(at != std::string::npos, "error without a position", error);
  unsigned long line = 0, column = 0;
  int used = 0;
  if (std::sscanf(error.c_str() + at, " at line %lu column %lu%n", &line, &column, &used) != 2 ||
      at + static_cast<size_t>(used) != error.size())
    fail("error does not end with its position", error);
  check(line >= 1, "line 0", error);
  size_t start = 0;
  for (unsigned long l = 1; l < line; ++l) {
    start = input.find('\n', start);
    check(start != std::string_view::npos, "line beyond the input", error);
    ++start;
  }
  size_t end = input.find('\n', start);
  if (end == std::string_view::npos) end = input.size();
  check(column <= end - start + 1, "column beyond its line", error);
}

// What the browser expects of every reply: JSON (UTF-8 as it reads), "ok" first, a boolean.
inline void check_reply(std::string_view body) {
  check(body.starts_with("{\"ok\":"), "reply does not begin with ok", body);
  static constexpr std::string_view kFields[] = {"ok"};
  static constexpr nm::json::RecordLayout::Key kKeys[] = {{"ok", 0}};
  static constexpr nm::json::RecordLayout kReply{"a reply", kFields, kKeys};
  static constexpr size_t kRequired[] = {0};
  nm::json::Cursor cursor(body);
  bool ok = false;
  const auto field = [&ok](nm::json::Cursor& c, size_t) { return c.read_bool(ok); };
  if (!cursor.read_record_required(kReply, kRequired, field) || !cursor.finish())
    fail("reply JSON", cursor.error() + ": " + std::string(body));
}

}  // namespace fuzz
