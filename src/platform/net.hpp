#pragma once
// TCP on the loopback interface.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/result.hpp"

namespace nm::os {

// A connected IPv4 stream socket, never inherited by child processes.
// Closed when destroyed.
class TcpStream {
 public:
  TcpStream() = default;
  explicit TcpStream(intptr_t handle) : handle_(handle) {}
  TcpStream(TcpStream&& o) noexcept : handle_(o.handle_) { o.handle_ = -1; }
  TcpStream& operator=(TcpStream&& o) noexcept;
  TcpStream(const TcpStream&) = delete;
  TcpStream& operator=(const TcpStream&) = delete;
  ~TcpStream() { close(); }

  // Non-blocking connect to 127.0.0.1:port, waiting at most timeout_ms for it
  // to complete, then back to blocking mode. The error is a short description.
  static Result<TcpStream> connect_loopback(uint16_t port, int timeout_ms);

  // SO_RCVTIMEO; false when it cannot be set.
  bool set_recv_timeout(int ms);
  // Sends every byte; the error is the system's text.
  Status send_all(std::string_view bytes);
  // Up to n bytes; 0 at the end of the stream; the error is the system's text
  // (a receive time-out included). Interrupted reads are retried.
  Result<size_t> recv(char* buf, size_t n);
  void close();
  bool is_open() const { return handle_ != -1; }
  intptr_t handle() const { return handle_; }

 private:
  intptr_t handle_ = -1;
};

}  // namespace nm::os
