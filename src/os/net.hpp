#pragma once
// TCP on the loopback interface.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "base/result.hpp"

namespace nm::os {

// A connected IPv4 stream socket, never inherited by child processes, in
// non-blocking mode: every wait on the peer is bounded here, by the caller's
// time, never by a socket option that might not take. Closed when destroyed.
class TcpStream {
 public:
  TcpStream() = default;
  explicit TcpStream(intptr_t handle) : handle_(handle) {}
  TcpStream(TcpStream&& o) noexcept : handle_(o.handle_) { o.handle_ = -1; }
  TcpStream& operator=(TcpStream&& o) noexcept {
    if (this != &o) {
      close();
      handle_ = std::exchange(o.handle_, -1);
    }
    return *this;
  }
  TcpStream(const TcpStream&) = delete;
  TcpStream& operator=(const TcpStream&) = delete;
  ~TcpStream() { close(); }

  // Connects to 127.0.0.1:port, waiting at most timeout_ms for it to
  // complete. The error is the system's, or "connection timed out" (of the
  // kind timed_out).
  static Result<TcpStream> connect_loopback(uint16_t port, int timeout_ms);

  // The system's error for a wait on the peer that ran out of time, of the
  // kind timed_out.
  static Error timeout_error();
  // Sends every byte. When the socket takes no byte for stall_ms, counted
  // from the last byte it took, whatever else the peer does (urgent data, a
  // closed window, a half-close), it ends with timeout_error(), so that a
  // peer that stops reading cannot hold the host; otherwise the error is the
  // system's text.
  Status send_all(std::string_view bytes, int stall_ms);
  // Waits at most timeout_ms for bytes, then reads up to n of them: 0 at the
  // end of the stream, timeout_error() when none came in time, otherwise the
  // system's error.
  Result<size_t> recv(char* buf, size_t n, int timeout_ms);
  void close();

  // What a peer that breaks the rules does, for the stand-in application:
  // one byte of urgent (out-of-band) data; the end of this side's sending
  // (a half-close); a close that resets the connection instead of ending it.
  Status send_urgent(char byte);
  Status shutdown_send();
  void reset();

 private:
  intptr_t handle_ = -1;
};

// A listening IPv4 socket on 127.0.0.1, never inherited by child processes.
// Closed when destroyed.
class TcpListener {
 public:
  TcpListener() = default;
  TcpListener(TcpListener&& o) noexcept : handle_(o.handle_), port_(o.port_) { o.handle_ = -1; }
  TcpListener& operator=(TcpListener&& o) noexcept {
    if (this != &o) {
      close();
      handle_ = std::exchange(o.handle_, -1);
      port_ = o.port_;
    }
    return *this;
  }
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;
  ~TcpListener() { close(); }

  // Port 0 picks a free port; port() then tells which.
  static Result<TcpListener> bind_loopback(uint16_t port = 0);
  uint16_t port() const { return port_; }
  // Waits at most timeout_ms for a connection: the connected stream, none
  // when the time ran out, or the system's error text.
  Result<std::optional<TcpStream>> accept(int timeout_ms);
  void close();

 private:
  intptr_t handle_ = -1;
  uint16_t port_ = 0;
};

// The process listening on 127.0.0.1:port (a listener on that address wins
// over one on every address, as connections do); none when nothing listens
// or the system will not say (POSIX is not asked; Wine names every owner 0).
std::optional<uint32_t> loopback_listener_pid(uint16_t port);

}  // namespace nm::os
