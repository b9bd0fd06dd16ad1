// Text operations on arbitrary bytes; the sanitiser keeps UTF-8 and its length.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/text.hpp"
#include "host/describe.hpp"
#include "host/proxy.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto p = nm::host::normalize_proxy(text); p && nm::host::normalize_proxy(*p) != p)
    std::abort();  // a normal form is stable (and so keeps its "://")
  const size_t limit = size % 40;
  const std::string s = nm::host::sanitize_text(text, limit);
  size_t count = 0;
  for (size_t i = 0; i < s.size(); ++count) {
    const char32_t cp = nm::base::next_code_point(s, i);
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) std::abort();
  }
  if (count > limit) std::abort();
  if (nm::base::is_valid_utf8(text) && !nm::base::is_valid_utf8(s)) std::abort();
  return 0;
}
