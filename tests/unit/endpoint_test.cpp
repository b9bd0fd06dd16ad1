#include "ipc/endpoint.hpp"

#include <gtest/gtest.h>

#include "ipc/send.hpp"

namespace nm::ipc {
namespace {

TEST(ParseEndpoint, ObjectAndArrayForms) {
  const struct {
    std::string text;
    std::optional<Endpoint> want;  // none: rejected
  } cases[] = {
      {R"({"port":8080,"token":"abc","pid":42})", Endpoint{8080, "abc", 42}},
      {R"({"token":"abc","port":65535})", Endpoint{65535, "abc", 0}},
      {R"({"port":0,"token":"","pid":4294967295})", Endpoint{0, "", 4294967295u}},
      {R"({"port":1,"extra":[{"a":null},2.5],"token":"t","Port":"x"})", Endpoint{1, "t", 0}},
      {" \t\r\n{\"port\":1,\"token\":\"t\"}\r\n \t", Endpoint{1, "t", 0}},
      {R"([8080,"abc",42])", Endpoint{8080, "abc", 42}},
      {R"([8080,"abc"])", Endpoint{8080, "abc", 0}},
      {R"({"port":70000,"token":"t"})", {}},
      {R"({"port":-1,"token":"t"})", {}},
      {R"({"port":"8080","token":"t"})", {}},
      {R"({"port":80.5,"token":"t"})", {}},
      {R"({"port":1,"token":null})", {}},
      {R"({"port":1,"token":"t","pid":-1})", {}},
      {R"({"port":1,"token":"t","pid":4294967296})", {}},
      {R"({"port":1,"token":"t","pid":null})", {}},
      {R"({"port":1})", {}},
      {R"({"token":"t"})", {}},
      {R"({"port":1,"token":"t","port":2})", {}},
      {R"({"port":1,"token":"t","token":"u"})", {}},
      {R"({"port":1,"token":"t","pid":1,"pid":1})", {}},
      {"\xEF\xBB\xBF{\"port\":1,\"token\":\"t\"}", {}},
      {"{\"port\":1,\"token\":\"t\"} x", {}},
      {"{\"port\":1,\"token\":\"t\"}{}", {}},
      {"\f{\"port\":1,\"token\":\"t\"}", {}},
      {R"({"port":1,"token":"t")", {}},
      {R"([8080])", {}},
      {R"([8080,"t",1,2])", {}},
      {R"(["t",8080])", {}},
      {"8080", {}},
      {"\"t\"", {}},
      {"null", {}},
      {"", {}},
  };
  for (const auto& c : cases) {
    const auto ep = parse_endpoint(c.text);
    ASSERT_EQ(ep.ok(), c.want.has_value()) << c.text << ": " << (ep ? "" : ep.error());
    if (c.want) {
      EXPECT_EQ(*ep, *c.want) << c.text;
    }
  }
}

TEST(InterpretAnswer, OnlyOkIsDelivered) {
  const auto delivered = AppAnswer::delivered();
  const auto failed = [](std::string t) { return AppAnswer::failed(std::move(t)); };
  const auto too_large = [](std::string t) { return AppAnswer::too_large(std::move(t)); };
  const struct {
    std::string line;
    AppAnswer want;
  } cases[] = {
      {"ok\r\n", delivered},
      {"ok\n", delivered},
      {"ok", delivered},
      {"  ok  \n", delivered},
      {"\t\xe3\x80\x80ok\xc2\xa0\r\n", delivered},  // ideographic and no-break spaces
      {"OK\n", failed("OK")},
      {"Ok", failed("Ok")},
      {"okay\n", failed("okay")},
      {"ok ok\n", failed("ok ok")},
      {"", failed("no answer")},
      {"\r\n", failed("no answer")},
      {" \t \n", failed("no answer")},
      {"too-large: 3 GB\n", too_large("too-large: 3 GB")},
      {"too-large", too_large("too-large")},
      {"Too-large\n", failed("Too-large")},
      {" too-large\n", failed(" too-large")},
      {"too-larg\n", failed("too-larg")},
      {"  busy  \r\n", failed("  busy")},
      {"\xef\xbb\xbfok\n", failed("\xef\xbb\xbfok")},  // a byte-order mark is no space
      {"o\xffk\n", failed("stream did not contain valid UTF-8")},
      {"ok\xc3\n", failed("stream did not contain valid UTF-8")},
  };
  for (const auto& c : cases) EXPECT_EQ(interpret_answer(c.line), c.want) << c.line;
}

}  // namespace
}  // namespace nm::ipc
