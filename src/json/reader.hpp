#pragma once
// Strict record reading on top of Boost.JSON's streaming parser.
//
// A Cursor turns a text into a flat list of events once, then reads records
// from it in order, like a pull parser. Errors carry the texts the extension
// and its users know ("invalid type: null, expected a boolean",
// "duplicate field `url`", "EOF while parsing an object", ...) and end with
// " at line L column C", C being the number of bytes read on line L where the
// reader stopped. Errors are reported in the order of the text: a type error
// before a later syntax error wins, as a streaming reader would have it.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"

namespace nm::json {

// Arrays and objects nest at most this deep; the outermost value is level 1.
inline constexpr int kMaxDepth = 127;

namespace impl {
class Document;
struct Event;
enum class Where;
}  // namespace impl

// Describes the fields of a record: its keys (several keys may name one
// field), the field names used in "duplicate field" texts, and the name used
// in "expected struct X".
struct RecordLayout {
  std::string_view expected;                 // "struct Message"
  std::span<const std::string_view> fields;  // field names, in declared order
  struct Key {
    std::string_view key;
    size_t field;
  };
  std::span<const Key> keys;  // keys accepted in object form
  bool by_position = true;    // also read from an array, field by field
};

// The keys of a record whose keys are its field names.
template <size_t N>
constexpr std::array<RecordLayout::Key, N> keys_by_name(
    const std::array<std::string_view, N>& fields) {
  std::array<RecordLayout::Key, N> keys{};
  for (size_t i = 0; i < N; ++i) keys[i] = {fields[i], i};
  return keys;
}

class Cursor {
 public:
  // `text` must outlive the cursor: values are read from it in place.
  explicit Cursor(std::string_view text);
  ~Cursor();
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  // Each reader consumes one value and returns true, or records the error
  // (the first one only) and returns false.
  bool read_string(std::string& out);
  bool read_opt_string(std::optional<std::string>& out);
  bool read_bool(bool& out);
  // A non-negative integer no larger than max; `expected` is "u64", "u16"...
  bool read_uint(uint64_t& out, uint64_t max, std::string_view expected);
  bool read_opt_uint(std::optional<uint64_t>& out, uint64_t max, std::string_view expected);
  // Any JSON number, as the nearest double; null gives absent.
  bool read_opt_f64(std::optional<double>& out);
  // An array; `element` reads one element (called until the array ends).
  bool read_seq(const std::function<bool(Cursor&)>& element);
  // An array of strings, in place of what `out` held. Its room is made once:
  // growing by doubling holds the old and new storage at once, the largest
  // cost of a 1 MiB list of links.
  bool read_strings(std::vector<std::string>& out);
  // An array of exactly n values read by `element(i)`.
  bool read_tuple(size_t n, std::string_view expected,
                  const std::function<bool(Cursor&, size_t)>& element);
  // A record as an object (keys of the layout; unknown keys skipped; a field
  // given twice is an error) or, unless the layout says otherwise, as an
  // array read by position (missing trailing values keep their defaults; an
  // extra value is an error).
  // `field(i)` reads the value of field i. `seen`, when given, receives which
  // fields were present.
  bool read_record(const RecordLayout& layout, const std::function<bool(Cursor&, size_t)>& field,
                   std::vector<bool>* seen = nullptr);
  // `read_record`, then an error "missing field `F`" for the first field of
  // `required` that was absent.
  bool read_record_required(const RecordLayout& layout, std::span<const size_t> required,
                            const std::function<bool(Cursor&, size_t)>& field);
  // Skips any value.
  bool skip();
  // True when the next value is null (without consuming it).
  bool peek_null() const;
  // True when the next value is well-formed so far and no object (without
  // consuming it); a broken text is left to the readers to report.
  bool peek_non_object() const;
  // After the outermost value: nothing but white space may follow.
  bool finish();

  bool failed() const { return failed_; }
  // The error text with its position suffix.
  std::string error() const;
  // The same as an error value; no caller tells reading errors apart.
  Error failure() const { return {error(), ErrorKind::other}; }

 private:
  const impl::Event& peek() const;
  // How many values the array at the cursor holds, up to any syntax error.
  size_t seq_length() const;
  bool fail_invalid_type(std::string_view expected);
  bool fail_at_event(std::string message, size_t event, impl::Where where);
  bool fail_syntax(const impl::Event& e);

  std::unique_ptr<const impl::Document> doc_;
  size_t pos_ = 0;
  bool failed_ = false;
  std::string message_;
  size_t error_offset_ = 0;
};

// Reads a whole text as one record of `layout` (see Cursor::read_record), with
// nothing but white space after it.
Status read_document(std::string_view text, const RecordLayout& layout,
                     const std::function<bool(Cursor&, size_t)>& field);

// How numbers look in error texts: "integer `5`", "floating point `2.5`".
std::string describe_float(double d);

}  // namespace nm::json
