#include "platform/net.hpp"

// Winsock first: windows.h would otherwise bring the old socket header.
#include <winsock2.h>

#include <windows.h>

#include "platform/error.hpp"

#ifndef WSA_FLAG_NO_HANDLE_INHERIT
#define WSA_FLAG_NO_HANDLE_INHERIT 0x80
#endif

namespace nm::os {

namespace {

// Winsock is started once per process, on first use, and left running.
bool winsock_started() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

Error wsa_error() {
  return system_error(WSAGetLastError());
}

SOCKET as_socket(intptr_t h) {
  return static_cast<SOCKET>(h);
}

sockaddr_in loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

Result<SOCKET> new_socket() {
  if (!winsock_started()) return wsa_error();
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
    // Systems that predate the flag: clear the inheritance bit afterwards.
    s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s != INVALID_SOCKET)
      SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  }
  if (s == INVALID_SOCKET) return wsa_error();
  return s;
}

bool set_blocking(SOCKET s, bool blocking) {
  u_long nonblocking = blocking ? 0 : 1;
  return ioctlsocket(s, FIONBIO, &nonblocking) == 0;
}

timeval to_timeval(int ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return tv;
}

}  // namespace

TcpStream& TcpStream::operator=(TcpStream&& o) noexcept {
  if (this != &o) {
    close();
    handle_ = o.handle_;
    o.handle_ = -1;
  }
  return *this;
}

void TcpStream::close() {
  if (handle_ != -1) closesocket(as_socket(handle_));
  handle_ = -1;
}

Result<TcpStream> TcpStream::connect_loopback(uint16_t port, int timeout_ms) {
  auto made = new_socket();
  if (!made) return made.failure();
  const SOCKET s = *made;
  TcpStream stream(static_cast<intptr_t>(s));
  if (!set_blocking(s, false)) return wsa_error();
  const sockaddr_in addr = loopback(port);
  if (connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    if (WSAGetLastError() != WSAEWOULDBLOCK) return wsa_error();
    // A refused connection shows in the exception set, not the write set.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv = to_timeval(timeout_ms);
    const int r = select(0, nullptr, &writable, &failed, &tv);
    if (r == SOCKET_ERROR) return wsa_error();
    if (r == 0) return Error{"connection timed out", ErrorKind::timed_out};
    int err = 0;
    int len = sizeof err;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
      return wsa_error();
    if (err != 0) return system_error(err);
  }
  if (!set_blocking(s, true)) return wsa_error();
  return stream;
}

bool TcpStream::set_recv_timeout(int ms) {
  const DWORD v = static_cast<DWORD>(ms);
  return setsockopt(as_socket(handle_), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&v),
                    sizeof v) == 0;
}

Error TcpStream::recv_timeout_error() {
  return system_error(WSAETIMEDOUT);
}

Status TcpStream::send_all(std::string_view bytes) {
  constexpr size_t kMaxChunk = 2147483647;
  while (!bytes.empty()) {
    const int chunk = static_cast<int>(bytes.size() < kMaxChunk ? bytes.size() : kMaxChunk);
    const int w = send(as_socket(handle_), bytes.data(), chunk, 0);
    if (w == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAEINTR) continue;
      return wsa_error();
    }
    bytes.remove_prefix(static_cast<size_t>(w));
  }
  return {};
}

Result<size_t> TcpStream::recv(char* buf, size_t n) {
  const int len = static_cast<int>(n < 2147483647 ? n : 2147483647);
  for (;;) {
    const int r = ::recv(as_socket(handle_), buf, len, 0);
    if (r != SOCKET_ERROR) return static_cast<size_t>(r);
    if (WSAGetLastError() != WSAEINTR) return wsa_error();
  }
}

TcpListener& TcpListener::operator=(TcpListener&& o) noexcept {
  if (this != &o) {
    close();
    handle_ = o.handle_;
    port_ = o.port_;
    o.handle_ = -1;
  }
  return *this;
}

void TcpListener::close() {
  if (handle_ != -1) closesocket(as_socket(handle_));
  handle_ = -1;
}

Result<TcpListener> TcpListener::bind_loopback(uint16_t port) {
  auto made = new_socket();
  if (!made) return made.failure();
  TcpListener l;
  l.handle_ = static_cast<intptr_t>(*made);
  sockaddr_in addr = loopback(port);
  if (bind(*made, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(*made, SOMAXCONN) != 0)
    return wsa_error();
  int len = sizeof addr;
  if (getsockname(*made, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return wsa_error();
  l.port_ = ntohs(addr.sin_port);
  return l;
}

Result<std::optional<TcpStream>> TcpListener::accept(int timeout_ms) {
  const SOCKET s = as_socket(handle_);
  for (;;) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval tv = to_timeval(timeout_ms);
    const int r = select(0, &readable, nullptr, nullptr, &tv);
    if (r == SOCKET_ERROR) return wsa_error();
    if (r == 0) return std::optional<TcpStream>();
    // The accepted socket takes the listener's properties: not inherited.
    const SOCKET c = ::accept(s, nullptr, nullptr);
    if (c != INVALID_SOCKET) return std::optional<TcpStream>(TcpStream(static_cast<intptr_t>(c)));
    const int err = WSAGetLastError();
    if (err == WSAEINTR || err == WSAECONNRESET || err == WSAEWOULDBLOCK) continue;
    return system_error(err);
  }
}

}  // namespace nm::os
