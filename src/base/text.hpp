#pragma once
// Text helpers shared by every layer. Text is UTF-8; case folding is ASCII only.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nm::base {

// Decodes one code point at `i`, advancing `i`. An invalid sequence decodes
// as one U+FFFD for each maximal subpart (a lead byte and the continuation
// bytes that may follow it, or one stray byte), Unicode's recommended
// practice; the walk always moves on.
char32_t next_code_point(std::string_view s, size_t& i);
void append_utf8(std::string& out, char32_t cp);
bool is_valid_utf8(std::string_view s);
// Invalid sequences replaced by U+FFFD.
std::string utf8_lossy(std::string_view s);

// Unicode White_Space.
bool is_unicode_space(char32_t cp);
std::string_view trim_unicode(std::string_view s);
std::string_view trim_unicode_end(std::string_view s);
std::string_view trim_unicode_start(std::string_view s);
// Space, tab, carriage return and line feed only.
bool is_json_space(char c);

std::string ascii_lower(std::string_view s);
std::string ascii_upper(std::string_view s);
bool iequals_ascii(std::string_view a, std::string_view b);

// Rust-style debug quoting of a text: "a\"b", control characters escaped.
std::string quote_debug(std::string_view s);
// The same quoting applied to a list: ["a", "b"].
std::string quote_debug_list(const std::vector<std::string>& items);

}  // namespace nm::base
