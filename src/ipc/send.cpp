#include "ipc/send.hpp"

#include <algorithm>

#include "base/text.hpp"
#include "ipc/data_dir.hpp"
#include "ipc/endpoint.hpp"
#include "os/clock.hpp"
#include "os/lookup.hpp"
#include "os/net.hpp"
#include "os/process.hpp"

namespace nm::ipc {

namespace {

// Bytes up to and including the first line feed, or to the end of the
// stream. Whatever follows the line feed is dropped. The whole line must come
// within one time-out, however it trickles in, and within kMaxAnswerBytes, so
// that a faulty application holds neither the host (and with it every later
// message of the browser) nor its memory for longer.
Result<std::string> read_line(os::TcpStream& s) {
  const int64_t deadline = os::monotonic_ns() + int64_t{kAnswerTimeoutMs} * 1000000;
  std::string line;
  char buf[8192];
  for (;;) {
    const int left_ms = os::ms_until(deadline);
    if (left_ms == 0) return os::TcpStream::timeout_error();
    // Room for the longest line and its line feed, and not a byte more.
    const size_t room = std::min(sizeof buf, kMaxAnswerBytes + 1 - line.size());
    auto n = s.recv(buf, room, left_ms);
    if (!n) return n.failure();
    if (*n == 0) return line;
    const std::string_view got(buf, *n);
    const size_t lf = got.find('\n');
    if (lf != std::string_view::npos) {
      line.append(got.substr(0, lf + 1));
      return line;
    }
    line.append(got);
    if (line.size() > kMaxAnswerBytes)
      return Error{"answer line longer than " + std::to_string(kMaxAnswerBytes) + " bytes"};
  }
}

AppAnswer exchange(const Endpoint& ep, const AppRequest& request) {
  auto conn = os::TcpStream::connect_loopback(ep.port, kConnectTimeoutMs);
  if (!conn) return AppAnswer::unreachable("cannot connect: " + conn.error());
  if (auto sent = conn->send_all(serialize_request(request, ep.token), kSendStallMs); !sent)
    return AppAnswer::failed(sent.error());
  auto line = read_line(*conn);
  conn->close();
  if (!line) return AppAnswer::failed(line.error());
  return interpret_answer(*line);
}

}  // namespace

AppAnswer interpret_answer(std::string_view line) {
  if (!base::is_valid_utf8(line)) return AppAnswer::failed("stream did not contain valid UTF-8");
  const std::string_view answer = base::trim_unicode_end(line);
  if (base::trim_unicode_start(answer) == "ok") return AppAnswer::delivered();
  if (answer.empty()) return AppAnswer::failed("no answer");
  // The application's refusals for size begin with this word.
  if (answer.starts_with("too-large")) return AppAnswer::too_large(std::string(answer));
  return AppAnswer::failed(std::string(answer));
}

AppAnswer send_to_app_in(const fs::path& dir, const AppRequest& request) {
  auto ep = read_endpoint_in(dir);
  if (!ep) return AppAnswer::unreachable("endpoint file: " + ep.error());
  // Asked only when there is a pid to tell by: the usual file has one.
  const bool live = ep->pid == 0 || endpoint_is_live(ep->pid, os::process_exists(ep->pid),
                                                     os::loopback_listener_pid(ep->port));
  if (!live)
    return AppAnswer::unreachable("stale endpoint: process " + std::to_string(ep->pid) +
                                  " does not listen on port " + std::to_string(ep->port));
  // Lets the application bring its window to the front in answer.
  if (const auto pid = foreground_grant(ep->pid, live)) os::allow_set_foreground(*pid);
  return exchange(*ep, request);
}

AppAnswer send_to_app(const AppRequest& request) {
  const auto dir = data_dir();
  if (!dir) return AppAnswer::unreachable("no data dir");
  return send_to_app_in(*dir, request);
}

}  // namespace nm::ipc
