#include "json/document.hpp"

#include <algorithm>
#include <boost/json/basic_parser_impl.hpp>
#include <charconv>
#include <cmath>

#include "base/text.hpp"
#include "json/reader.hpp"

// The events of a text, from Boost.JSON's streaming parser, and where in the
// text each one lies.

namespace nm::json::impl {

namespace bj = boost::json;

namespace {

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

// Boost stops at an exponent it cannot hold in 32 bits ("exponent overflow"),
// where the extension's reader takes the number as any other out of range:
// too large, or zero. The copy rewrites every exponent of more than nine
// significant digits (outside strings) into one of the same length that Boost
// takes, 0...0999999999 with its sign kept, so positions and strings stay as
// they were. The first significant digit of a text under a billion bytes
// stands nearer than that, so what was too large stays too large and what was
// too small stays too small, and Boost's sum of the exponent and the digits it
// counts stays within 32 bits.
std::string clamp_exponents(std::string_view text) {
  constexpr std::string_view kClamp = "999999999";
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  std::string out(text);
  bool in_string = false;
  for (size_t i = 0; i < out.size(); ++i) {
    const char c = out[i];
    if (in_string) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        in_string = false;
      continue;
    }
    if (c == '"') {
      in_string = true;
      continue;
    }
    // Outside strings only a number has a digit before an "e".
    if ((c != 'e' && c != 'E') || i == 0 || !digit(out[i - 1])) continue;
    size_t begin = i + 1;
    if (begin < out.size() && (out[begin] == '+' || out[begin] == '-')) ++begin;
    size_t end = begin;
    while (end < out.size() && digit(out[end])) ++end;
    size_t significant = begin;
    while (significant < end && out[significant] == '0') ++significant;
    if (end - significant > kClamp.size()) {
      std::fill(out.begin() + static_cast<ptrdiff_t>(begin),
                out.begin() + static_cast<ptrdiff_t>(end - kClamp.size()), '0');
      out.replace(end - kClamp.size(), kClamp.size(), kClamp);
    }
    i = end - 1;
  }
  return out;
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

  // Collects the events of doc->text_; the bytes read, as write_some.
  static size_t collect(Document* doc, bj::error_code& ec) {
    doc->events_.clear();
    doc->arena_.clear();
    bj::basic_parser<Collector> parser(parse_options(), doc);
    return parser.write_some(false, doc->text_.data(), doc->text_.size(), ec);
  }

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

void Document::push_syntax_error(std::string_view message, size_t offset) {
  Event e{};
  e.kind = Kind::syntax_error;
  e.offset = offset;
  e.text_begin = static_cast<uint32_t>(arena_.size());
  arena_ += message;
  e.text_size = static_cast<uint32_t>(message.size());
  events_.push_back(e);
}

Document::Document(std::string_view text) : text_(text) {
  bj::error_code ec;
  size_t n = Collector::collect(this, ec);
  if (ec == bj::error::exponent_overflow) {
    // Only then a copy and a second pass; any other text is read once.
    own_ = clamp_exponents(text);
    text_ = own_;
    ec = {};
    n = Collector::collect(this, ec);
  }
  if (ec) {
    // Say it as the scanner does; should it see nothing wrong, keep Boost's word.
    if (auto err = find_syntax_error(text_)) {
      push_syntax_error(err->message, err->offset);
    } else {
      push_syntax_error(ec.message(), std::min(n + 1, text_.size()));
    }
    return;
  }
  if (n < text_.size()) {
    push_syntax_error("trailing characters", n + 1);
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

}  // namespace

size_t event_offset(const Document& doc, size_t event, Where where) {
  const std::string_view text = doc.text();
  const Event& e = doc.events()[event];
  const size_t at = stop_offset(text, event);
  switch (where) {
    case Where::after_value:
      switch (e.kind) {
        case Kind::null: return at + 4;
        case Kind::boolean: return at + (e.flag ? 4 : 5);
        case Kind::string:
        case Kind::key: return at + 1;
        default: return at;
      }
    case Where::before_value: return at;
    case Where::first_byte:
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
    case Where::after_key: {
      size_t i = at + 1;
      while (i < text.size() && base::is_json_space(text[i])) ++i;
      return i;
    }
    case Where::after_close: return at + 1;
  }
  return at;
}

}  // namespace nm::json::impl
