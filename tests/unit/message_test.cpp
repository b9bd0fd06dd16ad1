#include "nmhost/message.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace nm::host {
namespace {

std::string error_of(std::string_view body) {
  auto r = parse_message(body);
  return r ? std::string("<parsed>") : r.error();
}

TEST(ParseMessage, ReportsErrorsWithTheirPositions) {
  const struct {
    std::string body;
    std::string want;
  } cases[] = {
      // Wrong types: scalars just after, arrays and objects at their bracket.
      {R"({"rules": null})", "invalid type: null, expected a boolean at line 1 column 14"},
      {R"({"url": null})", "invalid type: null, expected a string at line 1 column 12"},
      {R"({"rules": "x\"y"})",
       R"(invalid type: string "x\"y", expected a boolean at line 1 column 16)"},
      {R"({"rules": [1,2]})", "invalid type: sequence, expected a boolean at line 1 column 10"},
      {R"({"rules": {}})", "invalid type: map, expected a boolean at line 1 column 10"},
      {"5", "invalid type: integer `5`, expected struct Message at line 1 column 1"},
      {"\"s\"", "invalid type: string \"s\", expected struct Message at line 1 column 3"},
      {R"({"rules": 1})", "invalid type: integer `1`, expected a boolean at line 1 column 11"},
      {R"({"rules": false, "hello": true, "open": 1.0})",
       "invalid type: floating point `1.0`, expected a boolean at line 1 column 43"},
      {R"({"brands": ["a", null]})", "invalid type: null, expected a string at line 1 column 21"},
      {R"({"brands": "a"})", "invalid type: string \"a\", expected a sequence at line 1 column 14"},
      {R"({"cookieJar": null})", "invalid type: null, expected a sequence at line 1 column 18"},
      {R"({"cookieJar": [1]})",
       "invalid type: integer `1`, expected struct BrowserCookie at line 1 column 16"},
      {R"({"cookieJar": [{"secure": 1}]})",
       "invalid type: integer `1`, expected a boolean at line 1 column 27"},
      {R"({"cookieJar": [{"expires": "x"}]})",
       "invalid type: string \"x\", expected f64 at line 1 column 30"},
      {R"({"declined": 3})",
       "invalid type: integer `3`, expected struct Notice at line 1 column 14"},
      {R"({"declined": {"why": null}})",
       "invalid type: null, expected a string at line 1 column 25"},
      // Numbers as the extension's reader names them.
      {R"({"size": -1})", "invalid value: integer `-1`, expected u64 at line 1 column 11"},
      {R"({"size": 2.5})", "invalid type: floating point `2.5`, expected u64 at line 1 column 12"},
      {R"({"size": 1e3})",
       "invalid type: floating point `1000.0`, expected u64 at line 1 column 12"},
      {R"({"size": 1e-7})",
       "invalid type: floating point `0.0000001`, expected u64 at line 1 column 13"},
      {R"({"size": -0})", "invalid type: floating point `-0.0`, expected u64 at line 1 column 11"},
      {R"({"size": 18446744073709551616})",
       "invalid type: floating point `18446744073709552000.0`, expected u64 at line 1 column 29"},
      {R"({"rules": -9223372036854775808})",
       "invalid type: integer `-9223372036854775808`, expected a boolean at line 1 column 30"},
      // Too small rounds to zero, too large stays out of range.
      {R"({"url":"https://a.test/f.zip","size":1e-400})",
       "invalid type: floating point `0.0`, expected u64 at line 1 column 43"},
      {R"({"extra":1e400,"panel":true})", "number out of range at line 1 column 14"},
      {R"({"cookieJar":[{"expires":-1e400}]})", "number out of range at line 1 column 31"},
      // A leading zero is broken JSON at the digit after it, whatever type was asked.
      {"[-01]", "invalid number at line 1 column 4"},
      {"[012]", "invalid number at line 1 column 3"},
      {R"({"rules":012})", "invalid number at line 1 column 11"},
      // Repeated keys: after the key and the white space behind it.
      {R"({"url": "a", "url": "b"})", "duplicate field `url` at line 1 column 18"},
      {"{\"url\": \"a\",\n \"v\": null,\n  \"url\" : \"b\"}",
       "duplicate field `url` at line 3 column 8"},
      {R"({"title": null, "title": "x"})", "duplicate field `title` at line 1 column 23"},
      {R"({"cookieJar": [{"hostOnly": true, "host_only": false}]})",
       "duplicate field `host_only` at line 1 column 45"},
      {R"({"cookieJar": [{"expires": 1, "expirationDate": 2}]})",
       "duplicate field `expires` at line 1 column 46"},
      {R"({"declined": {"why": "a", "why": "b"}})", "duplicate field `why` at line 1 column 31"},
      // Array forms: a value past the last field.
      {R"({"cookieJar": [["a","b","c",true,"p",false,1.5,9]]})",
       "trailing characters at line 1 column 48"},
      {R"({"cookieJar": [["a","b","c",true,"p",false,1.5,"x"]]})",
       "trailing characters at line 1 column 48"},
      {R"({"declined": ["a","b","c",[]]})", "trailing characters at line 1 column 27"},
      // Syntax.
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {R"({"rules":)", "EOF while parsing a value at line 1 column 9"},
      {R"({"rules")", "EOF while parsing an object at line 1 column 8"},
      {R"({"rules":true)", "EOF while parsing an object at line 1 column 13"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {R"({"links": ["a")", "EOF while parsing a list at line 1 column 14"},
      {R"({"url": "abc)", "EOF while parsing a string at line 1 column 12"},
      {R"({"a":1,})", "trailing comma at line 1 column 8"},
      {R"({"links": ["a",]})", "trailing comma at line 1 column 16"},
      {R"({"a":1} x)", "trailing characters at line 1 column 9"},
      {"{\"a\":1}\n\n  x", "trailing characters at line 3 column 3"},
      {R"({"a": x})", "expected value at line 1 column 7"},
      {R"({"a" 1})", "expected `:` at line 1 column 6"},
      {R"({"a": 1 "b": 2})", "expected `,` or `}` at line 1 column 9"},
      {R"({1: 2})", "key must be a string at line 1 column 2"},
      {R"({"a": tru})", "expected ident at line 1 column 10"},
      {R"({"a": 01})", "invalid number at line 1 column 8"},
      {"{\"url\": \"a\tb\"}",
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 11"},
      {R"({"url": "\q"})", "invalid escape at line 1 column 11"},
      // A type error comes before a later syntax error, as the text is read.
      {R"({"rules": null, )", "invalid type: null, expected a boolean at line 1 column 14"},
      {R"({"extra": [1, {"x": [}]})", "expected value at line 1 column 22"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of(c.body), c.want) << c.body;
}

TEST(ParseMessage, NestingIsLimitedEvenInsideSkippedValues) {
  // The message is level 1; the 128th bracket is refused just after itself.
  std::string deep = "{\"extra\": " + std::string(126, '[') + std::string(126, ']') + "}";
  EXPECT_TRUE(parse_message(deep).ok());
  std::string too_deep = "{\"extra\": " + std::string(127, '[') + std::string(127, ']') + "}";
  EXPECT_EQ(error_of(too_deep), "recursion limit exceeded at line 1 column 137");
}

TEST(ParseMessage, ReadsEveryFieldAndDefaults) {
  auto empty = parse_message("{}");
  ASSERT_TRUE(empty.ok());
  EXPECT_FALSE(empty->rules);
  EXPECT_EQ(empty->url, "");
  EXPECT_FALSE(empty->v.has_value());
  EXPECT_FALSE(empty->declined.has_value());
  EXPECT_TRUE(empty->links.empty());

  auto m = parse_message(R"({
    "rules": true, "v": "2.0", "url": "https://h/f.zip", "referrer": "", "cookies": "a=b",
    "cookieJar": [{}, {"name": "n", "hostOnly": true, "expirationDate": 1234}, ["a", "b"]],
    "userAgent": "UA", "brands": ["Brave"], "filename": "f.zip", "finalUrl": null,
    "size": 18446744073709551615, "mime": "m", "post": "", "postType": "t", "private": true,
    "proxy": "p", "proxyPac": "pac", "proxyLogin": true, "explicit": true, "panel": true,
    "video": true, "src": "s", "title": "t", "hideSite": " ", "openOptions": true, "page": "general",
    "links": ["l1", "l2"], "excludeSite": "x", "open": true, "declined": {"why": "site"},
    "UserAgent": "ignored", "extra": {"a": [1, 2, {"b": null}]}, "extra": 1})");
  ASSERT_TRUE(m.ok()) << m.error();
  EXPECT_TRUE(m->rules);
  EXPECT_EQ(m->v, "2.0");
  EXPECT_EQ(m->referrer, "");
  ASSERT_EQ(m->cookieJar.size(), 3u);
  EXPECT_EQ(m->cookieJar[0], ipc::BrowserCookie{});
  EXPECT_TRUE(m->cookieJar[1].host_only);
  EXPECT_EQ(m->cookieJar[1].expires, 1234.0);
  EXPECT_EQ(m->cookieJar[2].name, "a");
  EXPECT_EQ(m->cookieJar[2].value, "b");
  EXPECT_EQ(m->userAgent, "UA");
  EXPECT_EQ(m->brands, std::vector<std::string>{"Brave"});
  EXPECT_FALSE(m->finalUrl.has_value());
  EXPECT_EQ(m->size, UINT64_MAX);
  EXPECT_TRUE(m->private_ && m->proxyLogin && m->explicit_ && m->panel && m->video);
  EXPECT_TRUE(m->openOptions && m->open);
  EXPECT_EQ(m->hideSite, " ");
  EXPECT_EQ(m->links, (std::vector<std::string>{"l1", "l2"}));
  ASSERT_TRUE(m->declined.has_value());
  EXPECT_EQ(m->declined->why, "site");
  EXPECT_EQ(m->declined->name, "");
}

TEST(ParseMessage, ArrayFormsReadByPosition) {
  auto m = parse_message("[true]");
  ASSERT_TRUE(m.ok());
  EXPECT_TRUE(m->rules);
  EXPECT_FALSE(m->hello);
  auto d = parse_message(
      R"({"declined": ["file-type", "s"], "cookieJar": [["n","v","d",true,"p",true,1.5]]})");
  ASSERT_TRUE(d.ok()) << d.error();
  EXPECT_EQ(d->declined->site, "s");
  EXPECT_EQ(d->cookieJar[0].expires, 1.5);
  EXPECT_TRUE(d->cookieJar[0].secure);
}

TEST(ParseMessage, ExpiryIsTheNearestDouble) {
  auto m = parse_message(R"({"cookieJar": [{"expires": 1.7976931348623157e308}, {"expires": 0.1},
    {"expires": 9007199254740993}, {"expires": 1e-400}, {"expires": -1e-400}]})");
  ASSERT_TRUE(m.ok()) << m.error();
  EXPECT_EQ(*m->cookieJar[0].expires, 1.7976931348623157e308);
  EXPECT_EQ(*m->cookieJar[1].expires, 0.1);
  EXPECT_EQ(*m->cookieJar[2].expires, 9007199254740992.0);
  EXPECT_EQ(*m->cookieJar[3].expires, 0.0);
  EXPECT_FALSE(std::signbit(*m->cookieJar[3].expires));
  EXPECT_TRUE(std::signbit(*m->cookieJar[4].expires));
}

TEST(ParseMessage, NumbersTooSmallForADoubleAreNumbers) {
  const std::string tiny[] = {"1e-400", "2e-324", "-1e-400", "1e-99999",
                              "0." + std::string(400, '0') + "1"};
  for (const std::string& n : tiny) {
    auto m = parse_message(R"({"extra":)" + n + R"(,"panel":true})");
    EXPECT_TRUE(m.ok() && m->panel) << n << ": " << (m ? "" : m.error());
  }
}

}  // namespace
}  // namespace nm::host
