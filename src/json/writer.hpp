#pragma once
// Writing compact JSON records and the pretty-printed manifests.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nm::json {

// A JSON string: quote and backslash escaped, \b \t \n \f \r, other control
// characters as \u00xx (lower case), everything else as it is.
void append_string(std::string& out, std::string_view s);
// The longest start of `s`, whole characters only, that append_string writes
// in at most `budget` bytes (its quotes not counted).
std::string_view escaped_prefix(std::string_view s, size_t budget);
void append_uint(std::string& out, uint64_t v);
// The shortest text that reads back as the same double, in plain notation
// (never an exponent): 1e16 gives "10000000000000000", 1e-7 "0.0000001".
std::string format_plain(double d);
// The shortest text that reads back as the same double: plain notation with
// at least one digit after the point from 1e-5 up to below 1e16, exponent
// notation otherwise ("1e16", "1.5e-7"). Not finite gives null.
void append_double(std::string& out, double d);

// Writes a compact object: `{"key":value,...}` with the commas between.
class ObjectWriter {
 public:
  explicit ObjectWriter(std::string& out) : out_(out) { out_ += '{'; }
  void end() { out_ += '}'; }

  // The key and its colon; the caller writes the value.
  std::string& key(std::string_view k);
  void text(std::string_view k, std::string_view v) { append_string(key(k), v); }
  void flag(std::string_view k, bool v) { key(k) += v ? "true" : "false"; }
  void uint(std::string_view k, uint64_t v) { append_uint(key(k), v); }
  void number(std::string_view k, double v) { append_double(key(k), v); }
  void null(std::string_view k) { key(k) += "null"; }
  void texts(std::string_view k, const std::vector<std::string>& v);
  void uints(std::string_view k, const std::vector<uint64_t>& v);

 private:
  std::string& out_;
  bool first_ = true;
};

// A small pretty writer: two-space indent, ": " after keys, one array element
// a line. Values are strings or arrays of strings, which is all a host
// manifest holds.
class PrettyObject {
 public:
  PrettyObject& string(std::string_view key, std::string_view value);
  PrettyObject& strings(std::string_view key, const std::vector<std::string>& values);
  // The document, without a final line feed.
  std::string str() const;

 private:
  std::vector<std::pair<std::string, std::string>> members_;  // key, rendered value
};

}  // namespace nm::json
