#include "json/writer.hpp"

#include <gtest/gtest.h>
#include <cmath>
#include <limits>

namespace nm::json {
TEST(JsonWriter, Doubles) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, const char*> cases[] = {
      {1234.0, "1234.0"},    {1.0 / 3.0, "0.3333333333333333"},
      {0.0, "0.0"},          {std::nextafter(0.00001, 0.0), "9.999999999999999e-6"},
      {-0.0, "-0.0"},        {9999999999999998.0, "9999999999999998.0"},
      {-1.25, "-1.25"},      {1.7976931348623157e308, "1.7976931348623157e308"},
      {0.00001, "0.00001"},  {1.5e-7, "1.5e-7"},
      {5e-324, "5e-324"},    {1e16, "1e16"},
      {-2.5e20, "-2.5e20"},  {inf, "null"},
      {std::nan(""), "null"}};
  for (const auto& [d, want] : cases) {
    std::string out;
    append_double(out, d);
    EXPECT_EQ(out, want) << d;
  }
}

TEST(JsonWriter, Strings) {
  std::string out;
  append_string(out, std::string("q\"b\\s/\b\t\n\f\r\0\x01\x1f\x7f é\xF0\x9F\x98\x80", 22));
  EXPECT_EQ(out, "\"q\\\"b\\\\s/\\b\\t\\n\\f\\r\\u0000\\u0001\\u001f\x7f é\xF0\x9F\x98\x80\"");
}

// The manifests show one-element arrays whole; the rest of the layout here.
TEST(PrettyObject, ArraysOfNoneOneAndMore) {
  EXPECT_EQ(PrettyObject().str(), "{}");
  EXPECT_EQ(PrettyObject().strings("n", {}).strings("a", {"x", "y\"", "z"}).string("s", "v").str(),
            "{\n  \"n\": [],\n  \"a\": [\n    \"x\",\n    \"y\\\"\",\n    \"z\"\n  ],\n  \"s\": "
            "\"v\"\n}");
}
}  // namespace nm::json
