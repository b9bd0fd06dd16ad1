// ipc.json on arbitrary bytes: errors have positions; what is read round-trips.
#include <cstdint>
#include <string>
#include <string_view>

#include "checks.hpp"
#include "ipc/endpoint.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto ep = nm::ipc::parse_endpoint(bytes);
  if (!ep) {
    fuzz::check_position(bytes, ep.error());
    return 0;
  }
  const std::string object = nm::ipc::endpoint_text(*ep);
  const auto back = nm::ipc::parse_endpoint(object);
  fuzz::check(back.ok() && *back == *ep, "endpoint does not read back", object);
  return 0;
}
