#include "ipc/endpoint.hpp"

#include <array>

#include "json/reader.hpp"
#include "json/writer.hpp"
#include "os/fs.hpp"

namespace nm::ipc {

namespace {

enum Field : size_t { kPort, kToken, kPid };

constexpr std::array<std::string_view, 3> kFields = {"port", "token", "pid"};
constexpr auto kKeys = json::keys_by_name(kFields);
constexpr json::RecordLayout kLayout{"struct Endpoint", kFields, kKeys};
constexpr std::array<size_t, 2> kRequired = {kPort, kToken};

}  // namespace

bool endpoint_is_live(uint32_t pid, std::optional<bool> runs, std::optional<uint32_t> listener) {
  if (pid == 0) return true;
  if (runs == false) return false;
  return !listener || *listener == pid;
}

std::optional<uint32_t> foreground_grant(uint32_t pid, bool live) {
  if (!live || pid == 0 || pid == kAnyProcess) return std::nullopt;
  return pid;
}

Result<Endpoint> parse_endpoint(std::string_view bytes) {
  json::Cursor cursor(bytes);
  Endpoint ep;
  const auto field = [&ep](json::Cursor& c, size_t i) {
    uint64_t n = 0;
    switch (i) {
      case kPort:
        if (!c.read_uint(n, 0xFFFF, "u16")) return false;
        ep.port = static_cast<uint16_t>(n);
        return true;
      case kToken: return c.read_string(ep.token);
      case kPid:
        if (!c.read_uint(n, 0xFFFFFFFF, "u32")) return false;
        ep.pid = static_cast<uint32_t>(n);
        return true;
    }
    return c.skip();
  };
  if (!cursor.read_record_required(kLayout, kRequired, field) || !cursor.finish())
    return cursor.failure();
  return ep;
}

std::string endpoint_text(const Endpoint& endpoint) {
  std::string out;
  json::ObjectWriter w(out);
  w.uint(kFields[kPort], endpoint.port);
  w.text(kFields[kToken], endpoint.token);
  w.uint(kFields[kPid], endpoint.pid);
  w.end();
  return out;
}

Result<Endpoint> read_endpoint_in(const fs::path& dir) {
  auto bytes = os::read_file(dir / kEndpointFile);
  if (!bytes) return bytes.failure();
  return parse_endpoint(*bytes);
}

}  // namespace nm::ipc
