#include <algorithm>

#include "base/text.hpp"
#include "json/document.hpp"
#include "json/reader.hpp"

namespace nm::json::impl {

// Syntax errors. Boost tells that a text is broken; this scanner tells where
// and in which words, walking the text the way the extension's own reader
// reports it: "EOF while parsing an object", "trailing comma", ... Columns are
// "bytes read": an error found on a peeked byte counts that byte.

namespace {

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
    while (!at_end() && base::is_json_space(s_[i_])) ++i_;
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
      if (c >= '0' && c <= '9')
        out |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        out |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        out |= static_cast<unsigned>(c - 'A' + 10);
      else
        return fail("invalid escape", i_);
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
        if (!base::is_valid_utf8(s_.substr(start, i_ - 1 - start)))
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

}  // namespace

std::optional<SyntaxError> find_syntax_error(std::string_view text) {
  return Scanner(text).run();
}

}  // namespace nm::json::impl
