// parse_message on arbitrary bytes: every error names a position in the input.
#include <cstdint>
#include <string_view>

#include "checks.hpp"
#include "host/message.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  auto m = nm::host::parse_message(body);
  if (!m) fuzz::check_position(body, m.error());
  return 0;
}
