#include "os/net.hpp"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "os/clock.hpp"
#include "os/error.hpp"

namespace nm::os {

namespace {

sockaddr_in loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// Waits for `events` on the socket until the deadline, resuming after
// signals with the time that is left. 1 ready, 0 timed out, -1 error (errno).
int wait_for(int fd, short events, int64_t deadline_ns) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, ms_until(deadline_ns));
    if (r >= 0) return r;
    if (errno != EINTR) return -1;
  }
}

int64_t deadline_in(int ms) {
  return monotonic_ns() + int64_t{ms} * 1000000;
}

}  // namespace

void TcpStream::close() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

Result<TcpStream> TcpStream::connect_loopback(uint16_t port, int timeout_ms) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return last_system_error();
  TcpStream s(fd);
  const sockaddr_in addr = loopback(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) return last_system_error();
    const int r = wait_for(fd, POLLOUT, deadline_in(timeout_ms));
    if (r < 0) return last_system_error();
    if (r == 0) return Error{"connection timed out", ErrorKind::timed_out};
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return last_system_error();
    if (err != 0) return system_error(err);
  }
  return s;
}

Error TcpStream::timeout_error() {
  Error e = system_error(EAGAIN);
  e.kind = ErrorKind::timed_out;
  return e;
}

Status TcpStream::send_all(std::string_view bytes, int stall_ms) {
  constexpr size_t kMaxChunk = 2147483647;
  const int fd = static_cast<int>(handle_);
  int64_t last_progress = monotonic_ns();
  while (!bytes.empty()) {
    const size_t chunk = bytes.size() < kMaxChunk ? bytes.size() : kMaxChunk;
    // No SIGPIPE when the peer has gone: the error comes back as a value.
    const ssize_t w = ::send(fd, bytes.data(), chunk, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w > 0) {
      bytes.remove_prefix(static_cast<size_t>(w));
      last_progress = monotonic_ns();
      continue;
    }
    if (w < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
      return last_system_error();
    const int64_t deadline = last_progress + int64_t{stall_ms} * 1000000;
    if (ms_until(deadline) == 0) return timeout_error();
    if (wait_for(fd, POLLOUT, deadline) < 0) return last_system_error();
  }
  return {};
}

Result<size_t> TcpStream::recv(char* buf, size_t n, int timeout_ms) {
  const int fd = static_cast<int>(handle_);
  const int64_t deadline = deadline_in(timeout_ms);
  for (;;) {
    const ssize_t r = ::recv(fd, buf, n, MSG_DONTWAIT);
    if (r >= 0) return static_cast<size_t>(r);
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return last_system_error();
    if (ms_until(deadline) == 0) return timeout_error();
    if (wait_for(fd, POLLIN, deadline) < 0) return last_system_error();
  }
}

Status TcpStream::send_urgent(char byte) {
  if (::send(static_cast<int>(handle_), &byte, 1, MSG_OOB | MSG_NOSIGNAL) != 1)
    return last_system_error();
  return {};
}

Status TcpStream::shutdown_send() {
  if (::shutdown(static_cast<int>(handle_), SHUT_WR) != 0) return last_system_error();
  return {};
}

void TcpStream::reset() {
  const linger now{1, 0};
  ::setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_LINGER, &now, sizeof now);
  close();
}

void TcpListener::close() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

Result<TcpListener> TcpListener::bind_loopback(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return last_system_error();
  TcpListener l;
  l.handle_ = fd;
  sockaddr_in addr = loopback(port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd, SOMAXCONN) != 0)
    return last_system_error();
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return last_system_error();
  l.port_ = ntohs(addr.sin_port);
  return l;
}

Result<std::optional<TcpStream>> TcpListener::accept(int timeout_ms) {
  const int fd = static_cast<int>(handle_);
  const int64_t deadline = deadline_in(timeout_ms);
  for (;;) {
    const int r = wait_for(fd, POLLIN, deadline);
    if (r < 0) return last_system_error();
    if (r == 0) return std::optional<TcpStream>();
    const int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (c >= 0) return std::optional<TcpStream>(TcpStream(c));
    // A connection that was reset before it was taken: wait for the next.
    if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) continue;
    return last_system_error();
  }
}

std::optional<uint32_t> loopback_listener_pid(uint16_t) {
  return std::nullopt;
}

}  // namespace nm::os
