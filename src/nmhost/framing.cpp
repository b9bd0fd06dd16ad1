#include "nmhost/framing.hpp"

#include "platform/console.hpp"

namespace nm::host {

// Reads until n bytes or the end of input; gives the count read.
static Result<size_t> read_full(ByteSource& in, char* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    auto r = in.read(buf + got, n - got);
    if (!r) return Error{r.error()};
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
    if (!r) return Error{r.error()};
    if (*r == 0) break;
    n -= *r;
  }
  return {};
}

Result<Frame> read_frame(ByteSource& in) {
  unsigned char len[4];
  auto got = read_full(in, reinterpret_cast<char*>(len), 4);
  if (!got) return Error{got.error()};
  Frame f;
  if (*got < 4) return f;  // the browser closed the pipe between frames
  f.length = static_cast<uint32_t>(len[0]) | static_cast<uint32_t>(len[1]) << 8 |
             static_cast<uint32_t>(len[2]) << 16 | static_cast<uint32_t>(len[3]) << 24;
  if (f.length > MAX_MESSAGE_BYTES) {
    if (auto st = skip_bytes(in, f.length); !st) return Error{st.error()};
    f.kind = Frame::Kind::oversized;
    return f;
  }
  f.body.resize(f.length);
  auto body = read_full(in, f.body.data(), f.length);
  if (!body) return Error{body.error()};
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

Result<size_t> StdinSource::read(char* buf, size_t n) { return os::read_stdin(buf, n); }

Status StdoutSink::write(std::string_view bytes) { return os::write_stdout(bytes); }

}  // namespace nm::host
