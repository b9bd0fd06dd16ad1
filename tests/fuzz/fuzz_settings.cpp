// downloads.json on arbitrary bytes: errors have positions; rules give a reply.
#include <cstdint>
#include <string_view>

#include "capture/settings.hpp"
#include "checks.hpp"
#include "host/reply.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto rules = nm::capture::read_capture_rules(bytes);
  if (!rules) {
    fuzz::check_position(bytes, rules.error());
    return 0;
  }
  fuzz::check_reply(nm::host::serialize_reply(nm::host::rules_summary(*rules, "Google Chrome")));
  return 0;
}
