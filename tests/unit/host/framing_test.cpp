#include "host/framing.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace nm::host {

// Input in memory, handed out at most `step` bytes a read, as a pipe may.
class Chunks final : public ByteSource {
 public:
  Chunks(std::string bytes, size_t step) : bytes_(std::move(bytes)), step_(step) {}
  Result<size_t> read(char* buf, size_t n) override {
    const size_t got = std::min({n, step_, bytes_.size() - at_});
    std::memcpy(buf, bytes_.data() + at_, got);
    at_ += got;
    return got;
  }

 private:
  std::string bytes_;
  size_t step_, at_ = 0;
};

std::string framed(uint32_t length, std::string_view body) {
  std::string f(4, '\0');
  for (int i = 0; i < 4; ++i) f[i] = static_cast<char>(length >> (8 * i) & 0xFF);
  return f += body;
}

// An oversized body is drained to its last byte however the reads fall, so
// the frame behind it is read whole.
TEST(ReadFrame, OversizedBodyDrainedToTheByte) {
  const std::string over(kMaxMessageBytes + 1, 'x');
  for (const size_t step : {size_t{1} << 20, kSkipBufferBytes, size_t{4096}, size_t{3}}) {
    Chunks in(framed(kMaxMessageBytes + 1, over) + framed(2, "{}"), step);
    auto first = read_frame(in);
    ASSERT_TRUE(first.ok()) << step;
    auto second = read_frame(in);
    ASSERT_TRUE(second.ok()) << step;
    EXPECT_EQ(second->body, "{}") << step;
  }
}

}  // namespace nm::host
