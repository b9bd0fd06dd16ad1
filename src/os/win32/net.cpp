#include "os/net.hpp"

// Winsock first: windows.h would otherwise bring the old socket header.
#include <winsock2.h>

#include <windows.h>
// After windows.h: the table types need its definitions.
#include <iphlpapi.h>

#include <vector>

#include "os/clock.hpp"
#include "os/error.hpp"

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

bool set_nonblocking(SOCKET s) {
  u_long nonblocking = 1;
  return ioctlsocket(s, FIONBIO, &nonblocking) == 0;
}

timeval to_timeval(int ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return tv;
}

// What a wait watches: only what its caller needs. Pending urgent data marks
// a connected socket in the exception set for as long as it is unread, so a
// wait for writing that also watched that set would end at once, again and
// again.
enum Watch : unsigned { kReadable = 1, kWritable = 2, kFailed = 4 };

// Waits at most ms for the socket to show in one of the watched sets: 1 when
// it does, 0 when the time ran out, SOCKET_ERROR.
int wait_ready(SOCKET s, unsigned watch, int ms) {
  fd_set sets[3];
  fd_set* watched[3] = {};
  for (unsigned i = 0; i < 3; ++i) {
    FD_ZERO(&sets[i]);
    if (!(watch & (1u << i))) continue;
    FD_SET(s, &sets[i]);
    watched[i] = &sets[i];
  }
  timeval tv = to_timeval(ms);
  return select(0, watched[0], watched[1], watched[2], &tv);
}

}  // namespace

void TcpStream::close() {
  if (handle_ != -1) closesocket(as_socket(handle_));
  handle_ = -1;
}

Result<TcpStream> TcpStream::connect_loopback(uint16_t port, int timeout_ms) {
  auto made = new_socket();
  if (!made) return made.failure();
  const SOCKET s = *made;
  TcpStream stream(static_cast<intptr_t>(s));
  if (!set_nonblocking(s)) return wsa_error();
  const sockaddr_in addr = loopback(port);
  if (connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    if (WSAGetLastError() != WSAEWOULDBLOCK) return wsa_error();
    // A refused connection shows in the exception set, not the write set.
    const int r = wait_ready(s, kWritable | kFailed, timeout_ms);
    if (r == SOCKET_ERROR) return wsa_error();
    if (r == 0) return Error{"connection timed out", ErrorKind::timed_out};
    int err = 0;
    int len = sizeof err;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
      return wsa_error();
    if (err != 0) return system_error(err);
  }
  return stream;
}

Error TcpStream::timeout_error() {
  return system_error(WSAETIMEDOUT);
}

Status TcpStream::send_all(std::string_view bytes, int stall_ms) {
  const SOCKET s = as_socket(handle_);
  // Chunks small enough that each is taken as the peer reads, so that a
  // peer that reads slowly but steadily keeps the send going.
  constexpr size_t kMaxChunk = 64 * 1024;
  int64_t last_progress = monotonic_ns();
  while (!bytes.empty()) {
    const int chunk = static_cast<int>(bytes.size() < kMaxChunk ? bytes.size() : kMaxChunk);
    const int w = send(s, bytes.data(), chunk, 0);
    if (w > 0) {
      bytes.remove_prefix(static_cast<size_t>(w));
      last_progress = monotonic_ns();
      continue;
    }
    if (w == SOCKET_ERROR) {
      const int err = WSAGetLastError();
      if (err != WSAEWOULDBLOCK && err != WSAEINTR) return system_error(err);
    }
    const int left = ms_until(last_progress + int64_t{stall_ms} * 1000000);
    if (left == 0) return timeout_error();
    if (wait_ready(s, kWritable, left) == SOCKET_ERROR) return wsa_error();
  }
  return {};
}

Result<size_t> TcpStream::recv(char* buf, size_t n, int timeout_ms) {
  const SOCKET s = as_socket(handle_);
  const int len = static_cast<int>(n < 2147483647 ? n : 2147483647);
  const int64_t deadline = monotonic_ns() + int64_t{timeout_ms} * 1000000;
  for (;;) {
    const int r = ::recv(s, buf, len, 0);
    if (r != SOCKET_ERROR) return static_cast<size_t>(r);
    const int err = WSAGetLastError();
    if (err != WSAEWOULDBLOCK && err != WSAEINTR) return system_error(err);
    const int left = ms_until(deadline);
    if (left == 0) return timeout_error();
    if (wait_ready(s, kReadable, left) == SOCKET_ERROR) return wsa_error();
  }
}

Status TcpStream::send_urgent(char byte) {
  if (send(as_socket(handle_), &byte, 1, MSG_OOB) != 1) return wsa_error();
  return {};
}

Status TcpStream::shutdown_send() {
  if (shutdown(as_socket(handle_), SD_SEND) != 0) return wsa_error();
  return {};
}

void TcpStream::reset() {
  const linger now{1, 0};
  setsockopt(as_socket(handle_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&now),
             sizeof now);
  close();
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
  const int64_t deadline = monotonic_ns() + int64_t{timeout_ms} * 1000000;
  for (;;) {
    const int r = wait_ready(s, kReadable, ms_until(deadline));
    if (r == SOCKET_ERROR) return wsa_error();
    if (r == 0) return std::optional<TcpStream>();
    // The accepted socket takes the listener's properties: not inherited.
    const SOCKET c = ::accept(s, nullptr, nullptr);
    if (c != INVALID_SOCKET) {
      TcpStream stream(static_cast<intptr_t>(c));
      if (!set_nonblocking(c)) return wsa_error();
      return std::optional<TcpStream>(std::move(stream));
    }
    const int err = WSAGetLastError();
    if (err == WSAEINTR || err == WSAECONNRESET || err == WSAEWOULDBLOCK) continue;
    return system_error(err);
  }
}

std::optional<uint32_t> loopback_listener_pid(uint16_t port) {
  // Loaded on first need from the system folder alone, not imported: every
  // imported DLL costs each start of the host, and most runs never ask.
  using GetTable = DWORD(WINAPI*)(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);
  static const GetTable get_table = [] {
    const HMODULE dll = LoadLibraryExW(L"iphlpapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return dll ? reinterpret_cast<GetTable>(
                     reinterpret_cast<void*>(GetProcAddress(dll, "GetExtendedTcpTable")))
               : nullptr;
  }();
  if (!get_table) return std::nullopt;
  std::vector<char> buf;
  DWORD size = 0;
  DWORD rc = ERROR_INSUFFICIENT_BUFFER;
  // The table may grow between the two calls: a few tries, then give up.
  for (int i = 0; i < 4 && rc == ERROR_INSUFFICIENT_BUFFER; ++i) {
    buf.resize(size ? size : sizeof(MIB_TCPTABLE_OWNER_PID));
    size = static_cast<DWORD>(buf.size());
    rc = get_table(buf.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
  }
  if (rc != NO_ERROR) return std::nullopt;
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buf.data());
  std::optional<uint32_t> any, loopback;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = table->table[i];
    if (ntohs(static_cast<u_short>(row.dwLocalPort)) != port) continue;
    if (row.dwLocalAddr == htonl(INADDR_LOOPBACK)) loopback = row.dwOwningPid;
    if (row.dwLocalAddr == htonl(INADDR_ANY)) any = row.dwOwningPid;
  }
  const std::optional<uint32_t> owner = loopback ? loopback : any;
  if (!owner || *owner == 0) return std::nullopt;
  return owner;
}

}  // namespace nm::os
