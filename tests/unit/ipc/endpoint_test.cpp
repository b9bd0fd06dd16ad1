#include "ipc/endpoint.hpp"

#include <gtest/gtest.h>
#include <tuple>

namespace nm::ipc {
TEST(ParseEndpoint, ObjectOrArrayAndNothingAround) {
  const std::pair<std::string, Endpoint> accepted[] = {
      {R"({"token":"abc","port":65535})", Endpoint{65535, "abc", 0}},
      {R"({"port":0,"token":"","pid":4294967295})", Endpoint{0, "", 4294967295u}},
      {R"({"port":1,"extra":[{"a":null},2.5],"token":"t","Port":"x"})", Endpoint{1, "t", 0}},
      {" \t\r\n{\"port\":1,\"token\":\"t\"}\r\n \t", Endpoint{1, "t", 0}},
      {R"([8080,"abc",42])", Endpoint{8080, "abc", 42}},
      {R"([8080,"abc"])", Endpoint{8080, "abc", 0}}};
  for (const auto& [text, want] : accepted) EXPECT_EQ(parse_endpoint(text).value(), want) << text;
  // Fields, then the document around them.
  for (const std::string text : {R"({"port":70000,"token":"t"})", R"({"port":-1,"token":"t"})",
                                 R"({"port":"8080","token":"t"})", R"({"port":1,"token":null})",
                                 R"({"port":1,"token":"t","pid":4294967296})", R"({"token":"t"})",
                                 R"({"port":1,"token":"t","port":2})"})
    EXPECT_FALSE(parse_endpoint(text).ok()) << text;
  for (const std::string text :
       {"\xEF\xBB\xBF{\"port\":1,\"token\":\"t\"}", "{\"port\":1,\"token\":\"t\"} x",
        "\f{\"port\":1,\"token\":\"t\"}", R"({"port":1,"token":"t")", R"([8080,"t",1,2])",
        R"(["t",8080])", "8080", ""})
    EXPECT_FALSE(parse_endpoint(text).ok()) << text;
  // What the doctor shows of a file that lacks a field, in either form.
  EXPECT_EQ(parse_endpoint(R"({"port":1} )").error(), "missing field `token` at line 1 column 10");
  EXPECT_EQ(parse_endpoint(R"([8080 ])").error(),
            "invalid length 1, expected struct Endpoint with 3 elements at line 1 column 7");
}

TEST(EndpointIsLive, UnlessThePidIsGoneOrAnotherListens) {
  // The file's listener gets the request unless the pid it names is gone or
  // the system names another listener; what the system will not say is trusted.
  const std::tuple<uint32_t, std::optional<bool>, std::optional<uint32_t>, bool> live[] = {
      {0, false, 7, true},  {9, true, 9, true},  {9, {}, {}, true},
      {9, false, 9, false}, {9, true, 7, false}, {9, {}, 7, false}};
  for (const auto& [pid, runs, listener, want] : live)
    EXPECT_EQ(endpoint_is_live(pid, runs, listener), want)
        << pid << " " << runs.value_or(2) << " " << listener.value_or(0);
  // The foreground goes to the endpoint's process only once it is found live.
  const std::tuple<uint32_t, bool, std::optional<uint32_t>> grants[] = {
      {9, false, {}}, {0, true, {}}, {0xFFFFFFFF, true, {}}, {0xFFFFFFFE, true, 0xFFFFFFFE}};
  for (const auto& [pid, live, want] : grants) EXPECT_EQ(foreground_grant(pid, live), want) << pid;
}
}  // namespace nm::ipc
