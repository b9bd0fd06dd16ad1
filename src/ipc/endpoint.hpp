#pragma once
// The endpoint file the running application keeps in the data directory.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.hpp"

namespace nm::ipc {

namespace fs = std::filesystem;

inline constexpr const char* kEndpointFile = "ipc.json";

struct Endpoint {
  uint16_t port = 0;
  std::string token;
  uint32_t pid = 0;  // 0: none

  bool operator==(const Endpoint&) const = default;
};

// Whether a request may go to whoever listens on the endpoint's port. The pid
// names the application that wrote the file: when that process is gone, or
// the system names another process as the port's listener, the file is
// stale, and the port may be held by any local program, which must not be
// handed the token, cookies and POST data. `runs` and `listener` are none
// where the system will not say, and a pid of 0 names nobody: both are
// trusted, as there is nothing to tell them by.
bool endpoint_is_live(uint32_t pid, std::optional<bool> runs, std::optional<uint32_t> listener);
// The pid AllowSetForegroundWindow takes for "every process" (ASFW_ANY).
inline constexpr uint32_t kAnyProcess = 0xFFFFFFFF;
// Which process may bring a window to the front in answer to a request: the
// endpoint's, and only once it is found live, so that a pid the system has
// since given to another program is granted nothing; never 0 (nobody) or
// kAnyProcess.
std::optional<uint32_t> foreground_grant(uint32_t pid, bool live);

// {"port":P,"token":"T","pid":N} or [P,"T",N], pid optional; only JSON white
// space may surround the value. The error is the reader's text.
Result<Endpoint> parse_endpoint(std::string_view bytes);
// The file as the application writes it: {"port":P,"token":"T","pid":N}.
std::string endpoint_text(const Endpoint& endpoint);
// Reads `<dir>/ipc.json`; the error is the system's or the reader's text.
Result<Endpoint> read_endpoint_in(const fs::path& dir);

}  // namespace nm::ipc
