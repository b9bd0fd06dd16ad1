#pragma once
// Native messaging frames: a 32-bit little-endian length, then that many
// bytes of UTF-8 JSON.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.hpp"

namespace nm::host {

inline constexpr uint32_t kMaxMessageBytes = 1048576;
// Oversized bodies are drained through a buffer of this size, never held.
inline constexpr size_t kSkipBufferBytes = 8192;

// Where frames come from and go to: standard input and output in the
// program, memory in tests.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to n bytes; 0 at the end of input.
  virtual Result<size_t> read(char* buf, size_t n) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Every byte, delivered at once (no buffering of its own).
  virtual Status write(std::string_view bytes) = 0;
};

struct Frame {
  enum class Kind { body, oversized, end };
  Kind kind = Kind::end;
  std::string body;     // kind body
  uint32_t length = 0;  // the announced length
};

// A body, an oversized frame (already drained), the end of input (also
// within the length bytes), or an input error ("failed to fill whole buffer"
// when the input ends inside a body).
Result<Frame> read_frame(ByteSource& in);
// Length and body in one write.
Status write_frame(ByteSink& out, std::string_view body);
// Reads and discards n bytes; stops early at the end of input.
Status skip_bytes(ByteSource& in, uint64_t n);

// Standard input, read through a buffer: a stream of small frames then costs
// one read for many frames instead of two or more for each.
class StdinSource final : public ByteSource {
 public:
  Result<size_t> read(char* buf, size_t n) override;

 private:
  std::string buffer_ = std::string(65536, '\0');
  size_t pos_ = 0;
  size_t len_ = 0;
};

class StdoutSink final : public ByteSink {
 public:
  Status write(std::string_view bytes) override;
};

}  // namespace nm::host
