#include "json/reader.hpp"

#include <algorithm>
#include <cmath>
#include <memory>

#include "base/text.hpp"
#include "json/document.hpp"
#include "json/writer.hpp"

namespace nm::json {

using impl::Document;
using impl::Event;
using impl::Kind;
using impl::Where;

std::string describe_float(double d) {
  std::string s = format_plain(d);
  if (s.find('.') == std::string::npos && std::isfinite(d)) s += ".0";
  return s;
}

namespace {

std::string describe(const Document& doc, const Event& e) {
  switch (e.kind) {
    case Kind::null: return "null";
    case Kind::boolean: return e.flag ? "boolean `true`" : "boolean `false`";
    case Kind::int64: return "integer `" + std::to_string(e.i) + "`";
    case Kind::uint64: return "integer `" + std::to_string(e.u) + "`";
    case Kind::float64: return "floating point `" + describe_float(e.d) + "`";
    case Kind::string: return "string " + base::quote_debug(doc.text_of(e));
    case Kind::array_begin: return "sequence";
    case Kind::object_begin: return "map";
    default: return "value";
  }
}

}  // namespace

Cursor::Cursor(std::string_view text) : doc_(std::make_unique<const Document>(text)) {}

Cursor::~Cursor() = default;

const Event& Cursor::peek() const {
  return doc_->events()[pos_];
}

bool Cursor::fail_at_event(std::string message, size_t event, Where where) {
  if (failed_) return false;
  failed_ = true;
  message_ = std::move(message);
  error_offset_ = event_offset(*doc_, event, where);
  return false;
}

bool Cursor::fail_syntax(const Event& e) {
  if (failed_) return false;
  failed_ = true;
  message_ = std::string(doc_->text_of(e));
  error_offset_ = e.offset;
  return false;
}

bool Cursor::fail_invalid_type(std::string_view expected) {
  const Event& e = peek();
  if (e.kind == Kind::syntax_error) return fail_syntax(e);
  if (e.kind == Kind::float64 && !std::isfinite(e.d))
    return fail_at_event("number out of range", pos_, Where::after_value);
  const bool bracket = e.kind == Kind::array_begin || e.kind == Kind::object_begin;
  return fail_at_event(
      "invalid type: " + describe(*doc_, e) + ", expected " + std::string(expected), pos_,
      bracket ? Where::before_value : Where::after_value);
}

std::string Cursor::error() const {
  const std::string_view text = doc_->text();
  const size_t off = std::min(error_offset_, text.size());
  size_t line = 1;
  size_t line_start = 0;
  for (size_t i = 0; i < off; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return message_ + " at line " + std::to_string(line) + " column " +
         std::to_string(off - line_start);
}

bool Cursor::peek_null() const {
  return peek().kind == Kind::null;
}

bool Cursor::peek_non_object() const {
  const Kind k = peek().kind;
  return k != Kind::object_begin && k != Kind::syntax_error;
}

bool Cursor::read_string(std::string& out) {
  const Event& e = peek();
  if (e.kind != Kind::string) return fail_invalid_type("a string");
  out.assign(doc_->text_of(e));
  ++pos_;
  return true;
}

bool Cursor::read_opt_string(std::optional<std::string>& out) {
  if (peek_null()) {
    out.reset();
    ++pos_;
    return true;
  }
  std::string s;
  if (!read_string(s)) return false;
  out = std::move(s);
  return true;
}

bool Cursor::read_bool(bool& out) {
  const Event& e = peek();
  if (e.kind != Kind::boolean) return fail_invalid_type("a boolean");
  out = e.flag;
  ++pos_;
  return true;
}

bool Cursor::read_uint(uint64_t& out, uint64_t max, std::string_view expected) {
  const Event& e = peek();
  if (e.kind == Kind::int64 && e.i < 0)
    return fail_at_event(
        "invalid value: integer `" + std::to_string(e.i) + "`, expected " + std::string(expected),
        pos_, Where::after_value);
  if (e.kind != Kind::int64 && e.kind != Kind::uint64) return fail_invalid_type(expected);
  const uint64_t v = e.kind == Kind::int64 ? static_cast<uint64_t>(e.i) : e.u;
  if (v > max)
    return fail_at_event(
        "invalid value: integer `" + std::to_string(v) + "`, expected " + std::string(expected),
        pos_, Where::after_value);
  out = v;
  ++pos_;
  return true;
}

bool Cursor::read_opt_uint(std::optional<uint64_t>& out, uint64_t max, std::string_view expected) {
  if (peek_null()) {
    out.reset();
    ++pos_;
    return true;
  }
  uint64_t v = 0;
  if (!read_uint(v, max, expected)) return false;
  out = v;
  return true;
}

bool Cursor::read_opt_f64(std::optional<double>& out) {
  const Event& e = peek();
  switch (e.kind) {
    case Kind::null: out.reset(); break;
    case Kind::int64: out = static_cast<double>(e.i); break;
    case Kind::uint64: out = static_cast<double>(e.u); break;
    case Kind::float64:
      if (!std::isfinite(e.d)) return fail_invalid_type("f64");
      out = e.d;
      break;
    default: return fail_invalid_type("f64");
  }
  ++pos_;
  return true;
}

bool Cursor::read_seq(const std::function<bool(Cursor&)>& element) {
  if (peek().kind != Kind::array_begin) return fail_invalid_type("a sequence");
  ++pos_;
  for (;;) {
    const Event& e = peek();
    if (e.kind == Kind::array_end) {
      ++pos_;
      return true;
    }
    if (e.kind == Kind::syntax_error) return fail_syntax(e);
    if (!element(*this)) return false;
  }
}

// Counts the values at the array's own depth, from the event after its bracket.
size_t Cursor::seq_length() const {
  const auto& events = doc_->events();
  size_t n = 0;
  int depth = 0;
  for (size_t i = pos_ + 1; i < events.size(); ++i) {
    switch (events[i].kind) {
      case Kind::object_begin:
      case Kind::array_begin:
        if (depth++ == 0) ++n;
        break;
      case Kind::object_end:
      case Kind::array_end:
        if (depth-- == 0) return n;
        break;
      case Kind::key: break;
      case Kind::syntax_error:
      case Kind::end: return n;
      default:
        if (depth == 0) ++n;
    }
  }
  return n;
}

bool Cursor::read_strings(std::vector<std::string>& out) {
  out.clear();
  if (peek().kind == Kind::array_begin) out.reserve(seq_length());
  return read_seq([&out](Cursor& c) { return c.read_string(out.emplace_back()); });
}

bool Cursor::read_tuple(size_t n, std::string_view expected,
                        const std::function<bool(Cursor&, size_t)>& element) {
  if (peek().kind != Kind::array_begin) return fail_invalid_type(expected);
  ++pos_;
  for (size_t i = 0; i < n; ++i) {
    const Event& e = peek();
    if (e.kind == Kind::syntax_error) return fail_syntax(e);
    if (e.kind == Kind::array_end)
      return fail_at_event(
          "invalid length " + std::to_string(i) + ", expected " + std::string(expected), pos_,
          Where::after_close);
    if (!element(*this, i)) return false;
  }
  const Event& e = peek();
  if (e.kind == Kind::array_end) {
    ++pos_;
    return true;
  }
  if (e.kind == Kind::syntax_error) return fail_syntax(e);
  return fail_at_event("trailing characters", pos_, Where::first_byte);
}

bool Cursor::read_record(const RecordLayout& layout,
                         const std::function<bool(Cursor&, size_t)>& field,
                         std::vector<bool>* seen_out) {
  std::vector<bool> seen(layout.fields.size(), false);
  const Event& first = peek();
  if (first.kind == Kind::object_begin) {
    ++pos_;
    for (;;) {
      const Event& e = peek();
      if (e.kind == Kind::syntax_error) return fail_syntax(e);
      if (e.kind == Kind::object_end) {
        ++pos_;
        break;
      }
      const size_t key_event = pos_;
      const std::string_view key = doc_->text_of(e);
      ++pos_;
      size_t index = layout.fields.size();
      for (const auto& k : layout.keys) {
        if (k.key == key) {
          index = k.field;
          break;
        }
      }
      if (index == layout.fields.size()) {
        if (!skip()) return false;
        continue;
      }
      if (seen[index])
        return fail_at_event("duplicate field `" + std::string(layout.fields[index]) + "`",
                             key_event, Where::after_key);
      seen[index] = true;
      if (!field(*this, index)) return false;
    }
  } else if (first.kind == Kind::array_begin && layout.by_position) {
    ++pos_;
    for (size_t i = 0; i < layout.fields.size(); ++i) {
      const Event& e = peek();
      if (e.kind == Kind::array_end) break;
      if (e.kind == Kind::syntax_error) return fail_syntax(e);
      seen[i] = true;
      if (!field(*this, i)) return false;
    }
    const Event& e = peek();
    if (e.kind == Kind::syntax_error) return fail_syntax(e);
    if (e.kind != Kind::array_end)
      return fail_at_event("trailing characters", pos_, Where::first_byte);
    ++pos_;
  } else {
    return fail_invalid_type(layout.expected);
  }
  if (seen_out) *seen_out = std::move(seen);
  return true;
}

bool Cursor::read_record_required(const RecordLayout& layout, std::span<const size_t> required,
                                  const std::function<bool(Cursor&, size_t)>& field) {
  const bool array_form = peek().kind == Kind::array_begin;
  std::vector<bool> seen;
  if (!read_record(layout, field, &seen)) return false;
  for (const size_t f : required) {
    if (seen[f]) continue;
    const size_t close = pos_ - 1;
    if (array_form) {
      size_t count = 0;
      for (const bool s : seen) count += s;
      return fail_at_event("invalid length " + std::to_string(count) + ", expected " +
                               std::string(layout.expected) + " with " +
                               std::to_string(layout.fields.size()) + " elements",
                           close, Where::after_close);
    }
    return fail_at_event("missing field `" + std::string(layout.fields[f]) + "`", close,
                         Where::after_close);
  }
  return true;
}

bool Cursor::skip() {
  int depth = 0;
  do {
    const Event& e = peek();
    switch (e.kind) {
      case Kind::syntax_error: return fail_syntax(e);
      case Kind::end: return fail_syntax(e);
      case Kind::object_begin:
      case Kind::array_begin: ++depth; break;
      case Kind::object_end:
      case Kind::array_end: --depth; break;
      // A number too large for a double is still well-formed: skipped, not refused.
      default: break;
    }
    ++pos_;
  } while (depth > 0);
  return true;
}

bool Cursor::finish() {
  const Event& e = peek();
  if (e.kind == Kind::end) return true;
  return fail_syntax(e);
}

Status read_document(std::string_view text, const RecordLayout& layout,
                     const std::function<bool(Cursor&, size_t)>& field) {
  Cursor cursor(text);
  if (!cursor.read_record(layout, field) || !cursor.finish()) return cursor.failure();
  return {};
}

}  // namespace nm::json
