#pragma once
// The reader's inside, for src/json/*.cpp only: a text as a flat list of
// events (Document), the syntax scanner that words what is broken, and where
// in the text an event lies. Callers read through Cursor (reader.hpp).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nm::json::impl {

enum class Kind : uint8_t {
  object_begin,
  object_end,
  array_begin,
  array_end,
  key,
  string,
  null,
  boolean,
  int64,
  uint64,
  float64,
  end,           // the text ended after the value (only white space followed)
  syntax_error,  // the text is broken here; `text` is the message
};

// One event of the text. Strings (keys, values, error messages) are views of
// the input where they need no unescaping, and live in the document's arena
// otherwise, so an event stays small even for large texts.
struct Event {
  Kind kind;
  bool flag = false;     // boolean value
  bool in_text = false;  // the text lies in the input itself (no escapes)
  union {
    int64_t i;
    uint64_t u;
    double d;
    size_t offset;  // syntax_error: byte offset where the reader stopped
  };
  uint32_t text_begin = 0;
  uint32_t text_size = 0;
};

class Document {
 public:
  explicit Document(std::string_view text);
  // text_ may point into own_: a copy or move would leave it behind.
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  // What the events and positions refer to: the input, or a copy of the same
  // length whose exponents Boost could not hold are clamped.
  std::string_view text() const { return text_; }
  const std::vector<Event>& events() const { return events_; }
  std::string_view text_of(const Event& e) const {
    return (e.in_text ? text_ : std::string_view(arena_)).substr(e.text_begin, e.text_size);
  }

 private:
  friend struct Collector;
  void push_syntax_error(std::string_view message, size_t offset);

  std::string_view text_;  // the input, or own_
  std::string own_;        // the clamped copy, when one was needed
  std::vector<Event> events_;
  std::string arena_;
};

struct SyntaxError {
  std::string message;
  size_t offset;
};

// What is broken in a text and where, in the words of the extension's own
// reader; none when the scanner finds the text sound.
std::optional<SyntaxError> find_syntax_error(std::string_view text);

// Which position of an event an error names.
enum class Where {
  after_value,   // a scalar of the wrong type: just after it
  before_value,  // an array or object of the wrong type: at its bracket
  first_byte,    // a value that should not be there: just after its first byte
  after_key,     // a repeated key: after its quote and the white space after it
  after_close,   // a record that misses something: just after its closing bracket
};

// The byte offset an error at event `event` of `doc` reports.
size_t event_offset(const Document& doc, size_t event, Where where);

}  // namespace nm::json::impl
