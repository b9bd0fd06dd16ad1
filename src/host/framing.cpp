#include "host/framing.hpp"

#include <algorithm>
#include <cstring>

#include "os/console.hpp"

namespace nm::host {

// Reads until n bytes or the end of input; gives the count read.
static Result<size_t> read_full(ByteSource& in, char* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    auto r = in.read(buf + got, n - got);
    if (!r) return r.failure();
    if (*r == 0) break;
    got += *r;
  }
  return got;
}

Status skip_bytes(ByteSource& in, uint64_t n) {
  char buf[kSkipBufferBytes];
  while (n > 0) {
    const size_t chunk = n < sizeof buf ? static_cast<size_t>(n) : sizeof buf;
    auto r = in.read(buf, chunk);
    if (!r) return r.failure();
    if (*r == 0) break;
    n -= *r;
  }
  return {};
}

Result<Frame> read_frame(ByteSource& in) {
  unsigned char len[4];
  auto got = read_full(in, reinterpret_cast<char*>(len), 4);
  if (!got) return got.failure();
  Frame f;
  if (*got < 4) return f;  // the browser closed the pipe between frames
  f.length = static_cast<uint32_t>(len[0]) | static_cast<uint32_t>(len[1]) << 8 |
             static_cast<uint32_t>(len[2]) << 16 | static_cast<uint32_t>(len[3]) << 24;
  if (f.length > kMaxMessageBytes) {
    if (auto st = skip_bytes(in, f.length); !st) return st.failure();
    f.kind = Frame::Kind::oversized;
    return f;
  }
  f.body.resize(f.length);
  auto body = read_full(in, f.body.data(), f.length);
  if (!body) return body.failure();
  if (*body < f.length) return Error{"failed to fill whole buffer"};
  f.kind = Frame::Kind::body;
  return f;
}

Status write_frame(ByteSink& out, std::string_view body) {
  std::string frame;
  frame.reserve(4 + body.size());
  const auto n = static_cast<uint32_t>(body.size());
  for (int i = 0; i < 4; ++i) frame += static_cast<char>((n >> (8 * i)) & 0xFF);
  frame += body;
  return out.write(frame);
}

Result<size_t> StdinSource::read(char* buf, size_t n) {
  if (pos_ == len_) {
    // A large request bypasses the buffer; a small one refills it.
    if (n >= buffer_.size()) return os::read_stdin(buf, n);
    auto got = os::read_stdin(buffer_.data(), buffer_.size());
    if (!got) return got;
    pos_ = 0;
    len_ = *got;
    if (len_ == 0) return size_t{0};
  }
  const size_t take = std::min(n, len_ - pos_);
  std::memcpy(buf, buffer_.data() + pos_, take);
  pos_ += take;
  return take;
}

Status StdoutSink::write(std::string_view bytes) {
  return os::write_stdout(bytes);
}

}  // namespace nm::host
