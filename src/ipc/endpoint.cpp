#include "ipc/endpoint.hpp"

#include <array>

#include "ipc/data_dir.hpp"
#include "json/reader.hpp"
#include "platform/fs.hpp"

namespace nm::ipc {

namespace {

constexpr std::array<std::string_view, 3> kFields = {"port", "token", "pid"};
constexpr std::array<json::RecordSpec::Key, 3> kKeys = {{{"port", 0}, {"token", 1}, {"pid", 2}}};
constexpr json::RecordSpec kSpec{"struct Endpoint", kFields, kKeys};
constexpr std::array<size_t, 2> kRequired = {0, 1};

}  // namespace

Result<Endpoint> parse_endpoint(std::string_view bytes) {
  json::Cursor cursor(bytes);
  Endpoint ep;
  const auto field = [&ep](json::Cursor& c, size_t i) {
    uint64_t n = 0;
    switch (i) {
      case 0:
        if (!c.read_uint(n, 0xFFFF, "u16")) return false;
        ep.port = static_cast<uint16_t>(n);
        return true;
      case 1:
        return c.read_string(ep.token);
      default:
        if (!c.read_uint(n, 0xFFFFFFFF, "u32")) return false;
        ep.pid = static_cast<uint32_t>(n);
        return true;
    }
  };
  if (!cursor.read_record_required(kSpec, kRequired, field) || !cursor.finish())
    return Error{cursor.error()};
  return ep;
}

Result<Endpoint> read_endpoint_in(const fs::path& dir) {
  auto bytes = os::read_file(dir / kEndpointFile);
  if (!bytes) return Error{bytes.error()};
  return parse_endpoint(*bytes);
}

Result<Endpoint> read_endpoint() {
  const auto dir = data_dir();
  if (!dir) return Error{"no data dir"};
  return read_endpoint_in(*dir);
}

}  // namespace nm::ipc
