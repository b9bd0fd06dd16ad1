#include "json/reader.hpp"

#include <algorithm>
#include <boost/json/basic_parser_impl.hpp>
#include <charconv>
#include <cmath>

#include "base/text.hpp"
#include "json/writer.hpp"

namespace nm::json {

namespace bj = boost::json;

// ---------------------------------------------------------------------------
// Syntax errors. Boost tells that a text is broken; this scanner tells where
// and in which words, walking the text the way the extension's own reader
// reports it: "EOF while parsing an object", "trailing comma", ... Columns are
// "bytes read": an error found on a peeked byte counts that byte.

namespace {

struct SyntaxError {
  std::string message;
  size_t offset;
};

class Scanner {
 public:
  explicit Scanner(std::string_view s) : s_(s) {}

  std::optional<SyntaxError> run() {
    if (value()) {
      ws();
      if (i_ < s_.size()) fail("trailing characters", i_ + 1);
    }
    return error_;
  }

 private:
  bool fail(std::string message, size_t offset) {
    error_ = SyntaxError{std::move(message), std::min(offset, s_.size())};
    return false;
  }
  bool at_end() const { return i_ >= s_.size(); }
  void ws() {
    while (!at_end() && is_json_space(s_[i_])) ++i_;
  }
  bool digit() const { return !at_end() && s_[i_] >= '0' && s_[i_] <= '9'; }

  bool value() {
    ws();
    if (at_end()) return fail("EOF while parsing a value", i_);
    switch (s_[i_]) {
      case 'n': return ident("null");
      case 't': return ident("true");
      case 'f': return ident("false");
      case '"': ++i_; return string();
      case '[':
      case '{': {
        if (++depth_ > kMaxDepth) return fail("recursion limit exceeded", i_ + 1);
        const bool object = s_[i_] == '{';
        ++i_;
        const bool ok = object ? members() : elements();
        --depth_;
        return ok;
      }
      default:
        if (s_[i_] == '-' || digit()) return number();
        return fail("expected value", i_ + 1);
    }
  }

  bool ident(std::string_view word) {
    for (const char expected : word) {
      if (at_end()) return fail("EOF while parsing a value", i_);
      if (s_[i_++] != expected) return fail("expected ident", i_);
    }
    return true;
  }

  bool number() {
    if (s_[i_] == '-') ++i_;
    if (at_end()) return fail("invalid number", i_);
    if (s_[i_] == '0') {
      ++i_;
      if (digit()) return fail("invalid number", i_ + 1);
    } else if (digit()) {
      while (digit()) ++i_;
    } else {
      return fail("invalid number", i_ + 1);
    }
    if (!at_end() && s_[i_] == '.') {
      ++i_;
      if (!digit()) return fail(at_end() ? "EOF while parsing a value" : "invalid number", i_ + 1);
      while (digit()) ++i_;
    }
    if (!at_end() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      ++i_;
      if (!at_end() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
      if (at_end()) return fail("EOF while parsing a value", i_);
      if (!digit()) return fail("invalid number", i_ + 1);
      while (digit()) ++i_;
    }
    return true;
  }

  bool hex4(unsigned& out) {
    out = 0;
    for (int k = 0; k < 4; ++k) {
      if (at_end()) return fail("EOF while parsing a string", i_);
      const char c = s_[i_++];
      out <<= 4;
      if (c >= '0' && c <= '9') out |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') out |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') out |= static_cast<unsigned>(c - 'A' + 10);
      else return fail("invalid escape", i_);
    }
    return true;
  }

  // After the opening quote.
  bool string() {
    const size_t start = i_;
    for (;;) {
      if (at_end()) return fail("EOF while parsing a string", i_);
      const auto c = static_cast<unsigned char>(s_[i_]);
      if (c == '"') {
        ++i_;
        if (!is_valid_utf8(s_.substr(start, i_ - 1 - start)))
          return fail("invalid unicode code point", i_);
        return true;
      }
      if (c == '\\') {
        ++i_;
        if (at_end()) return fail("EOF while parsing a string", i_);
        const char e = s_[i_++];
        if (e == 'u') {
          unsigned cp;
          if (!hex4(cp)) return false;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return fail("invalid unicode code point", i_);
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (s_.substr(i_, 2) != "\\u") return fail("lone leading surrogate in hex escape", i_);
            i_ += 2;
            unsigned low;
            if (!hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return fail("invalid unicode code point", i_);
          }
        } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
          return fail("invalid escape", i_);
        }
        continue;
      }
      if (c < 0x20) {
        ++i_;
        return fail("control character (\\u0000-\\u001F) found while parsing a string", i_);
      }
      ++i_;
    }
  }

  // After "[".
  bool elements() {
    for (bool first = true;; first = false) {
      ws();
      if (at_end()) return fail("EOF while parsing a list", i_);
      if (s_[i_] == ']') {
        ++i_;
        return true;
      }
      if (!first) {
        if (s_[i_] != ',') return fail("expected `,` or `]`", i_ + 1);
        ++i_;
        ws();
        if (at_end()) return fail("EOF while parsing a value", i_);
        if (s_[i_] == ']') return fail("trailing comma", i_ + 1);
      }
      if (!value()) return false;
    }
  }

  // After "{".
  bool members() {
    for (bool first = true;; first = false) {
      ws();
      if (at_end()) return fail("EOF while parsing an object", i_);
      if (s_[i_] == '}') {
        ++i_;
        return true;
      }
      if (!first) {
        if (s_[i_] != ',') return fail("expected `,` or `}`", i_ + 1);
        ++i_;
        ws();
        if (at_end()) return fail("EOF while parsing a value", i_);
        if (s_[i_] == '}') return fail("trailing comma", i_ + 1);
      }
      if (s_[i_] != '"') return fail("key must be a string", i_ + 1);
      ++i_;
      if (!string()) return false;
      ws();
      if (at_end()) return fail("EOF while parsing an object", i_);
      if (s_[i_] != ':') return fail("expected `:`", i_ + 1);
      ++i_;
      if (!value()) return false;
    }
  }

  std::string_view s_;
  size_t i_ = 0;
  int depth_ = 0;
  std::optional<SyntaxError> error_;
};

// from_chars says "out of range" both for a magnitude that rounds to infinity
// and for one that rounds to zero. They lie hundreds of orders of magnitude
// apart, so the decimal exponent of the first significant digit tells them
// apart: at least 0 is too large, below 0 is too small.
double out_of_range_value(std::string_view num) {
  const bool negative = !num.empty() && num[0] == '-';
  if (negative) num.remove_prefix(1);
  int64_t first = 0;  // exponent of the first significant digit, before "e"
  bool found = false;
  size_t i = 0;
  size_t int_digits = 0;
  while (i < num.size() && num[i] >= '0' && num[i] <= '9') ++i, ++int_digits;
  for (size_t k = 0; k < int_digits && !found; ++k) {
    if (num[k] != '0') {
      first = static_cast<int64_t>(int_digits - k - 1);
      found = true;
    }
  }
  if (i < num.size() && num[i] == '.') {
    ++i;
    for (int64_t k = 1; i < num.size() && num[i] >= '0' && num[i] <= '9'; ++i, ++k) {
      if (!found && num[i] != '0') {
        first = -k;
        found = true;
      }
    }
  }
  int64_t exponent = 0;
  if (i < num.size() && (num[i] == 'e' || num[i] == 'E')) {
    ++i;
    const bool minus = i < num.size() && num[i] == '-';
    if (i < num.size() && (num[i] == '-' || num[i] == '+')) ++i;
    // Saturates: any exponent beyond this is out of range either way.
    for (; i < num.size() && num[i] >= '0' && num[i] <= '9'; ++i)
      exponent = std::min<int64_t>(exponent * 10 + (num[i] - '0'), int64_t{1} << 40);
    if (minus) exponent = -exponent;
  }
  const double magnitude = first + exponent >= 0 ? HUGE_VAL : 0.0;
  return negative ? -magnitude : magnitude;
}

bj::parse_options parse_options() {
  bj::parse_options opt;
  opt.max_depth = kMaxDepth;
  return opt;
}

// Handler base with the limits Boost asks every handler for.
struct HandlerLimits {
  constexpr static std::size_t max_object_size = std::size_t(-1);
  constexpr static std::size_t max_array_size = std::size_t(-1);
  constexpr static std::size_t max_key_size = std::size_t(-1);
  constexpr static std::size_t max_string_size = std::size_t(-1);
  bool on_document_begin(bj::error_code&) { return true; }
  bool on_document_end(bj::error_code&) { return true; }
  bool on_comment_part(bj::string_view, bj::error_code&) { return true; }
  bool on_comment(bj::string_view, bj::error_code&) { return true; }
};

}  // namespace

// ---------------------------------------------------------------------------
// Document: the events of a text.

struct Collector : HandlerLimits {
  explicit Collector(Document* doc) : doc(doc) {}
  Document* doc;
  std::string pending;  // key, string or number text split across parts

  bool push(Kind kind) {
    Event e{};
    e.kind = kind;
    doc->events_.push_back(e);
    return true;
  }
  bool push_text(Kind kind, bj::string_view last) {
    Event e{};
    e.kind = kind;
    const std::string_view text = doc->text_;
    if (pending.empty() && last.data() >= text.data() &&
        last.data() + last.size() <= text.data() + text.size()) {
      e.in_text = true;
      e.text_begin = static_cast<uint32_t>(last.data() - text.data());
      e.text_size = static_cast<uint32_t>(last.size());
      doc->events_.push_back(e);
      return true;
    }
    e.text_begin = static_cast<uint32_t>(doc->arena_.size());
    doc->arena_ += pending;
    doc->arena_.append(last.data(), last.size());
    e.text_size = static_cast<uint32_t>(doc->arena_.size() - e.text_begin);
    pending.clear();
    doc->events_.push_back(e);
    return true;
  }
  bool push_double(double d) {
    Event e{};
    e.kind = Kind::float64;
    e.d = d;
    doc->events_.push_back(e);
    return true;
  }

  bool on_object_begin(bj::error_code&) { return push(Kind::object_begin); }
  bool on_object_end(std::size_t, bj::error_code&) { return push(Kind::object_end); }
  bool on_array_begin(bj::error_code&) { return push(Kind::array_begin); }
  bool on_array_end(std::size_t, bj::error_code&) { return push(Kind::array_end); }
  bool on_key_part(bj::string_view s, std::size_t, bj::error_code&) {
    pending.append(s.data(), s.size());
    return true;
  }
  bool on_key(bj::string_view s, std::size_t, bj::error_code&) { return push_text(Kind::key, s); }
  bool on_string_part(bj::string_view s, std::size_t, bj::error_code&) {
    pending.append(s.data(), s.size());
    return true;
  }
  bool on_string(bj::string_view s, std::size_t, bj::error_code&) {
    return push_text(Kind::string, s);
  }
  bool on_number_part(bj::string_view s, bj::error_code&) {
    pending.append(s.data(), s.size());
    return true;
  }
  // Boost ends a number at a leading zero and only then finds the digit after
  // it out of place, so "012" would read as 0 followed by broken JSON. Such a
  // number is no value at all: stop here and let the scanner name the error.
  bool leading_zero(bj::string_view s, bj::error_code& ec) const {
    const std::string_view text = doc->text_;
    if (!pending.empty() || s.data() < text.data() ||
        s.data() + s.size() >= text.data() + text.size())
      return false;
    const char next = s.data()[s.size()];
    if (next < '0' || next > '9') return false;
    ec = bj::error::syntax;
    return true;
  }

  bool on_int64(std::int64_t i, bj::string_view s, bj::error_code& ec) {
    if (leading_zero(s, ec)) return false;
    // "-0" is a float for the extension's reader.
    if (i == 0 && pending.empty() && s == "-0") return push_double(-0.0);
    pending.clear();
    Event e{};
    e.kind = Kind::int64;
    e.i = i;
    doc->events_.push_back(e);
    return true;
  }
  bool on_uint64(std::uint64_t u, bj::string_view s, bj::error_code& ec) {
    if (leading_zero(s, ec)) return false;
    pending.clear();
    Event e{};
    e.kind = Kind::uint64;
    e.u = u;
    doc->events_.push_back(e);
    return true;
  }
  bool on_double(double, bj::string_view s, bj::error_code&) {
    // Boost 1.81 is not exact; the number's own text gives the nearest double.
    pending.append(s.data(), s.size());
    double d = 0;
    const auto r = std::from_chars(pending.data(), pending.data() + pending.size(), d);
    if (r.ec == std::errc::result_out_of_range) d = out_of_range_value(pending);
    pending.clear();
    return push_double(d);
  }
  bool on_bool(bool b, bj::error_code&) {
    Event e{};
    e.kind = Kind::boolean;
    e.flag = b;
    doc->events_.push_back(e);
    return true;
  }
  bool on_null(bj::error_code&) { return push(Kind::null); }
};

static void push_syntax_error(std::vector<Event>& events, std::string& arena, std::string_view msg,
                              size_t offset) {
  Event e{};
  e.kind = Kind::syntax_error;
  e.offset = offset;
  e.text_begin = static_cast<uint32_t>(arena.size());
  arena += msg;
  e.text_size = static_cast<uint32_t>(msg.size());
  events.push_back(e);
}

Document::Document(std::string_view text) : text_(text) {
  bj::basic_parser<Collector> parser(parse_options(), this);
  bj::error_code ec;
  const size_t n = parser.write_some(false, text.data(), text.size(), ec);
  if (ec) {
    // Say it as the scanner does; should it see nothing wrong, keep Boost's word.
    if (auto err = Scanner(text).run()) {
      push_syntax_error(events_, arena_, err->message, err->offset);
    } else {
      push_syntax_error(events_, arena_, ec.message(), std::min(n + 1, text.size()));
    }
    return;
  }
  if (n < text.size()) {
    push_syntax_error(events_, arena_, "trailing characters", n + 1);
    return;
  }
  Event end{};
  end.kind = Kind::end;
  events_.push_back(end);
}

// ---------------------------------------------------------------------------
// Positions of events. Only an error needs one: the text is parsed again and
// stopped at the event, which tells where the parser stood.

namespace {

struct Stopper : HandlerLimits {
  size_t stop_at;
  size_t seen = 0;
  bool hit() { return seen++ != stop_at; }
  bool on_object_begin(bj::error_code&) { return hit(); }
  bool on_object_end(std::size_t, bj::error_code&) { return hit(); }
  bool on_array_begin(bj::error_code&) { return hit(); }
  bool on_array_end(std::size_t, bj::error_code&) { return hit(); }
  bool on_key_part(bj::string_view, std::size_t, bj::error_code&) { return true; }
  bool on_key(bj::string_view, std::size_t, bj::error_code&) { return hit(); }
  bool on_string_part(bj::string_view, std::size_t, bj::error_code&) { return true; }
  bool on_string(bj::string_view, std::size_t, bj::error_code&) { return hit(); }
  bool on_number_part(bj::string_view, bj::error_code&) { return true; }
  bool on_int64(std::int64_t, bj::string_view, bj::error_code&) { return hit(); }
  bool on_uint64(std::uint64_t, bj::string_view, bj::error_code&) { return hit(); }
  bool on_double(double, bj::string_view, bj::error_code&) { return hit(); }
  bool on_bool(bool, bj::error_code&) { return hit(); }
  bool on_null(bj::error_code&) { return hit(); }
};

// Where the parser stops for an event: the first byte of null and booleans
// and of brackets, the closing quote of strings and keys, just after numbers.
size_t stop_offset(std::string_view text, size_t event) {
  bj::basic_parser<Stopper> parser(parse_options());
  parser.handler().stop_at = event;
  bj::error_code ec;
  return parser.write_some(false, text.data(), text.size(), ec);
}

bool is_number_byte(char c) {
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// The opening quote of the string whose closing quote is at `close`: the
// nearest quote before it that no odd run of backslashes escapes.
size_t opening_quote(std::string_view text, size_t close) {
  size_t i = close;
  while (i > 0) {
    --i;
    if (text[i] != '"') continue;
    size_t backslashes = 0;
    while (backslashes < i && text[i - 1 - backslashes] == '\\') ++backslashes;
    if (backslashes % 2 == 0) return i;
  }
  return 0;
}

enum Where {
  after_value,     // a scalar of the wrong type: just after it
  before_value,    // an array or object of the wrong type: at its bracket
  first_byte,      // a value that should not be there: just after its first byte
  after_key,       // a repeated key: after its quote and the white space after it
  after_close,     // a record that misses something: just after its closing bracket
};

size_t event_offset(const Document& doc, size_t event, Where where) {
  const std::string_view text = doc.text();
  const Event& e = doc.events()[event];
  const size_t at = stop_offset(text, event);
  switch (where) {
    case after_value:
      switch (e.kind) {
        case Kind::null: return at + 4;
        case Kind::boolean: return at + (e.flag ? 4 : 5);
        case Kind::string:
        case Kind::key: return at + 1;
        default: return at;
      }
    case before_value: return at;
    case first_byte:
      switch (e.kind) {
        case Kind::string: return opening_quote(text, at) + 1;
        case Kind::int64:
        case Kind::uint64:
        case Kind::float64: {
          size_t i = at;
          while (i > 0 && is_number_byte(text[i - 1])) --i;
          return i + 1;
        }
        default: return at + 1;
      }
    case after_key: {
      size_t i = at + 1;
      while (i < text.size() && is_json_space(text[i])) ++i;
      return i;
    }
    case after_close: return at + 1;
  }
  return at;
}

}  // namespace

// ---------------------------------------------------------------------------
// Cursor

std::string describe_float(double d) {
  std::string s = format_plain(d);
  if (s.find('.') == std::string::npos && std::isfinite(d)) s += ".0";
  return s;
}

static std::string describe(const Document& doc, const Event& e) {
  switch (e.kind) {
    case Kind::null: return "null";
    case Kind::boolean: return e.flag ? "boolean `true`" : "boolean `false`";
    case Kind::int64: return "integer `" + std::to_string(e.i) + "`";
    case Kind::uint64: return "integer `" + std::to_string(e.u) + "`";
    case Kind::float64: return "floating point `" + describe_float(e.d) + "`";
    case Kind::string: return "string " + quote_debug(doc.text_of(e));
    case Kind::array_begin: return "sequence";
    case Kind::object_begin: return "map";
    default: return "value";
  }
}

bool Cursor::fail_at_event(std::string message, size_t event, int where) {
  if (failed_) return false;
  failed_ = true;
  message_ = std::move(message);
  error_offset_ = event_offset(doc_, event, static_cast<Where>(where));
  return false;
}

bool Cursor::fail_syntax(const Event& e) {
  if (failed_) return false;
  failed_ = true;
  message_ = std::string(doc_.text_of(e));
  error_offset_ = e.offset;
  return false;
}

bool Cursor::fail_invalid_type(std::string_view expected) {
  const Event& e = peek();
  if (e.kind == Kind::syntax_error) return fail_syntax(e);
  if (e.kind == Kind::float64 && !std::isfinite(e.d))
    return fail_at_event("number out of range", pos_, after_value);
  const bool bracket = e.kind == Kind::array_begin || e.kind == Kind::object_begin;
  return fail_at_event("invalid type: " + describe(doc_, e) + ", expected " + std::string(expected),
                       pos_, bracket ? before_value : after_value);
}

std::string Cursor::error() const {
  const std::string_view text = doc_.text();
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

bool Cursor::peek_null() const { return peek().kind == Kind::null; }

bool Cursor::read_string(std::string& out) {
  const Event& e = peek();
  if (e.kind != Kind::string) return fail_invalid_type("a string");
  out.assign(doc_.text_of(e));
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
    return fail_at_event("invalid value: integer `" + std::to_string(e.i) + "`, expected " +
                             std::string(expected),
                         pos_, after_value);
  if (e.kind != Kind::int64 && e.kind != Kind::uint64) return fail_invalid_type(expected);
  const uint64_t v = e.kind == Kind::int64 ? static_cast<uint64_t>(e.i) : e.u;
  if (v > max)
    return fail_at_event(
        "invalid value: integer `" + std::to_string(v) + "`, expected " + std::string(expected),
        pos_, after_value);
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

// After the last value an array form may hold: its end, or an error.
static constexpr int kFirstByte = first_byte;

bool Cursor::read_tuple(size_t n, std::string_view expected,
                        const std::function<bool(Cursor&, size_t)>& element) {
  if (peek().kind != Kind::array_begin) return fail_invalid_type(expected);
  ++pos_;
  for (size_t i = 0; i < n; ++i) {
    const Event& e = peek();
    if (e.kind == Kind::syntax_error) return fail_syntax(e);
    if (e.kind == Kind::array_end)
      return fail_at_event("invalid length " + std::to_string(i) + ", expected " +
                               std::string(expected),
                           pos_, after_close);
    if (!element(*this, i)) return false;
  }
  const Event& e = peek();
  if (e.kind == Kind::array_end) {
    ++pos_;
    return true;
  }
  if (e.kind == Kind::syntax_error) return fail_syntax(e);
  return fail_at_event("trailing characters", pos_, kFirstByte);
}

bool Cursor::read_record(const RecordSpec& layout, const std::function<bool(Cursor&, size_t)>& field,
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
      const std::string_view key = doc_.text_of(e);
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
        return fail_at_event("duplicate field `" + std::string(layout.fields[index]) + "`", key_event,
                             after_key);
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
    if (e.kind != Kind::array_end) return fail_at_event("trailing characters", pos_, kFirstByte);
    ++pos_;
  } else {
    return fail_invalid_type(layout.expected);
  }
  if (seen_out) *seen_out = std::move(seen);
  return true;
}

bool Cursor::read_record_required(const RecordSpec& layout, std::span<const size_t> required,
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
                           close, after_close);
    }
    return fail_at_event("missing field `" + std::string(layout.fields[f]) + "`", close, after_close);
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
      case Kind::float64:
        if (!std::isfinite(e.d)) return fail_invalid_type("a value");
        break;
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

std::optional<std::string> read_document(std::string_view text, const RecordSpec& layout,
                                         const std::function<bool(Cursor&, size_t)>& field) {
  Document doc(text);
  Cursor cursor(doc);
  if (!cursor.read_record(layout, field) || !cursor.finish()) return cursor.error();
  return std::nullopt;
}

}  // namespace nm::json
