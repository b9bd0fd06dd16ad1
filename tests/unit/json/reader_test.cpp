#include "json/reader.hpp"

#include <gtest/gtest.h>
#include <tuple>

namespace nm::json {
// The room is made once, for the values at the array's own depth, up to a
// syntax error; a nested value is then refused as it is read.
TEST(ReadStrings, RoomForTheWholeArrayAtOnce) {
  const std::tuple<const char*, bool, size_t> cases[] = {
      {"[]", true, 0},
      {R"(["a", "b", "c"])", true, 3},
      {R"(["a", {"k": ["x", "y"]}, [1, [2]], null, "b"])", false, 5},
      {R"(["a", "b")", false, 2}};
  for (const auto& [text, ok, room] : cases) {
    std::vector<std::string> out = {"old"};
    Cursor c(text);
    EXPECT_EQ(c.read_strings(out), ok) << text;
    if (ok) {
      EXPECT_EQ(out.size(), room) << "the old values are replaced";
    }
    EXPECT_EQ(out.capacity(), std::max<size_t>(room, 1)) << text;
  }
}
}  // namespace nm::json
