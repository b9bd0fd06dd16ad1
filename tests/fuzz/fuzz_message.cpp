// parse_message on arbitrary bytes: never crashes, and every error names a
// position inside the input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "nmhost/message.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  auto m = nm::host::parse_message(body);
  if (m) return 0;
  const std::string& e = m.error();
  const size_t at = e.rfind(" at line ");
  if (at == std::string::npos) std::abort();
  unsigned long line = 0, column = 0;
  if (std::sscanf(e.c_str() + at, " at line %lu column %lu", &line, &column) != 2) std::abort();
  // The line exists and the column lies within it.
  size_t start = 0;
  for (unsigned long l = 1; l < line; ++l) {
    start = body.find('\n', start);
    if (start == std::string_view::npos) std::abort();
    ++start;
  }
  size_t end = body.find('\n', start);
  if (end == std::string_view::npos) end = body.size();
  if (line == 0 || column > end - start + 1) std::abort();
  return 0;
}
