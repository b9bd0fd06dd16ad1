#include "json/writer.hpp"

#include <array>
#include <charconv>
#include <cmath>

#include "base/text.hpp"

namespace nm::json {

namespace {

// How a byte of a string is written: its escape, or the byte itself. The one
// statement of the escaping, for writing and for measuring alike.
struct Escaped {
  char text[6];
  size_t size;
};

constexpr Escaped escaped(char c) {
  switch (c) {
    case '"': return {{'\\', '"'}, 2};
    case '\\': return {{'\\', '\\'}, 2};
    case '\b': return {{'\\', 'b'}, 2};
    case '\t': return {{'\\', 't'}, 2};
    case '\n': return {{'\\', 'n'}, 2};
    case '\f': return {{'\\', 'f'}, 2};
    case '\r': return {{'\\', 'r'}, 2};
  }
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x20) return {{c}, 1};
  constexpr char kHex[] = "0123456789abcdef";
  return {{'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]}, 6};
}

// Looked up per byte: strings run to a megabyte.
constexpr auto kEscapes = [] {
  std::array<Escaped, 256> table{};
  for (size_t b = 0; b < table.size(); ++b) table[b] = escaped(static_cast<char>(b));
  return table;
}();

const Escaped& escape_of(char c) {
  return kEscapes[static_cast<unsigned char>(c)];
}

}  // namespace

void append_string(std::string& out, std::string_view s) {
  out += '"';
  size_t plain = 0;  // the start of the bytes written as they are
  for (size_t i = 0; i < s.size(); ++i) {
    const Escaped& e = escape_of(s[i]);
    if (e.size == 1) continue;
    out.append(s.substr(plain, i - plain));
    out.append(e.text, e.size);
    plain = i + 1;
  }
  out.append(s.substr(plain));
  out += '"';
}

std::string_view escaped_prefix(std::string_view s, size_t budget) {
  size_t used = 0;
  size_t i = 0;
  while (i < s.size()) {
    size_t next = i;
    base::next_code_point(s, next);
    size_t n = 0;
    for (size_t b = i; b < next; ++b) n += escape_of(s[b]).size;
    if (used + n > budget) break;
    used += n;
    i = next;
  }
  return s.substr(0, i);
}

void append_uint(std::string& out, uint64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

std::string format_plain(double d) {
  // Shortest digits first, then laid out without an exponent; fixed
  // notation alone would print every digit of the exact binary value.
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string_view text(buf, static_cast<size_t>(r.ptr - buf));
  std::string out;
  if (!text.empty() && text[0] == '-') {
    out += '-';
    text.remove_prefix(1);
  }
  const size_t e = text.find('e');
  if (e == std::string_view::npos) return out + std::string(text);  // inf, nan
  std::string digits;
  for (const char c : text.substr(0, e))
    if (c != '.') digits += c;
  int exp = 0;
  std::from_chars(text.data() + e + 1 + (text[e + 1] == '+'), text.data() + text.size(), exp);
  if (exp >= 0) {
    const size_t int_len = static_cast<size_t>(exp) + 1;
    if (digits.size() <= int_len) {
      out += digits;
      out.append(int_len - digits.size(), '0');
    } else {
      out += digits.substr(0, int_len);
      out += '.';
      out += digits.substr(int_len);
    }
  } else {
    out += "0.";
    out.append(static_cast<size_t>(-exp - 1), '0');
    out += digits;
  }
  return out;
}

void append_double(std::string& out, double d) {
  if (!std::isfinite(d)) {
    out += "null";
    return;
  }
  char buf[64];
  const double mag = std::fabs(d);
  if (mag == 0 || (mag >= 1e-5 && mag < 1e16)) {
    const std::string text = format_plain(d);
    out += text;
    if (text.find('.') == std::string::npos) out += ".0";
    return;
  }
  // Exponent form without a plus sign or leading zeros: 1e16, 1.5e-7.
  const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  const std::string_view text(buf, static_cast<size_t>(r.ptr - buf));
  const size_t e = text.find('e');
  out += text.substr(0, e + 1);
  std::string_view exp = text.substr(e + 1);
  if (!exp.empty() && exp[0] == '+') exp.remove_prefix(1);
  if (!exp.empty() && exp[0] == '-') {
    out += '-';
    exp.remove_prefix(1);
  }
  while (exp.size() > 1 && exp[0] == '0') exp.remove_prefix(1);
  out += exp;
}

std::string& ObjectWriter::key(std::string_view k) {
  if (!first_) out_ += ',';
  first_ = false;
  append_string(out_, k);
  out_ += ':';
  return out_;
}

void ObjectWriter::texts(std::string_view k, const std::vector<std::string>& v) {
  key(k) += '[';
  for (size_t i = 0; i < v.size(); ++i) {
    if (i) out_ += ',';
    append_string(out_, v[i]);
  }
  out_ += ']';
}

void ObjectWriter::uints(std::string_view k, const std::vector<uint64_t>& v) {
  key(k) += '[';
  for (size_t i = 0; i < v.size(); ++i) {
    if (i) out_ += ',';
    append_uint(out_, v[i]);
  }
  out_ += ']';
}

PrettyObject& PrettyObject::string(std::string_view key, std::string_view value) {
  std::string v;
  append_string(v, value);
  members_.emplace_back(std::string(key), std::move(v));
  return *this;
}

PrettyObject& PrettyObject::strings(std::string_view key, const std::vector<std::string>& values) {
  std::string v;
  if (values.empty()) {
    v = "[]";
  } else {
    v = "[\n";
    for (size_t i = 0; i < values.size(); ++i) {
      v += "    ";
      append_string(v, values[i]);
      v += i + 1 < values.size() ? ",\n" : "\n";
    }
    v += "  ]";
  }
  members_.emplace_back(std::string(key), std::move(v));
  return *this;
}

std::string PrettyObject::str() const {
  if (members_.empty()) return "{}";
  std::string out = "{\n";
  for (size_t i = 0; i < members_.size(); ++i) {
    out += "  ";
    append_string(out, members_[i].first);
    out += ": ";
    out += members_[i].second;
    out += i + 1 < members_.size() ? ",\n" : "\n";
  }
  out += "}";
  return out;
}

}  // namespace nm::json
