// The program's entry point and framing, seen from the browser's side.
#include <gtest/gtest.h>

#include "harness.hpp"

namespace e2e {
namespace {

std::string error(const std::string& why, const std::string& text) {
  return R"({"ok":false,"error":")" + text + R"(","why":")" + why + R"("})";
}

// A body of exactly the limit is read and parsed; one byte more is drained
// and refused; each time the next frame is served. (Other lengths, input that
// ends early and cut replies: protocol.md's examples and the reply tests.)
TEST(EntryPoint, FramesAtTheLimit) {
  const std::string at_limit = "{\"pad\":\"" + std::string(1048576 - 10, 'a') + "\"}";
  EXPECT_EQ(
      Host().talk({at_limit, at_limit + " ", "[1]"}),
      (std::vector<std::string>{
          error("refused", "not an http(s) or ftp(s) URL"),
          error("too-large", "a message of 1048577 bytes"),
          error("refused", "invalid type: integer `1`, expected a boolean at line 1 column 2")}));
}

// A frame that arrives in pieces, the first a single byte, is read whole.
TEST(EntryPoint, FrameInPieces) {
  TempFolder data;
  Session s({.args = {kOrigin}, .env = {{"QTM_DATA_DIR", host_path(data.path())}}});
  const std::string f = frame(R"({"hello": true})");
  for (const auto& [at, n] : {std::pair{0, 1}, {1, 4}, {5, 1}, {6, 99}}) {
    s.write(f.substr(at, n));
    std::this_thread::sleep_for(Ms(50));
  }
  EXPECT_TRUE(s.read_reply().value_or("").starts_with(R"({"ok":true,"version":)"));
  EXPECT_EQ(s.finish().exit_code, 0);
}

}  // namespace
}  // namespace e2e
