#include "host/message.hpp"

#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace nm::host {
namespace {
std::string error_of(std::string_view body) {
  auto r = parse_message(body);
  return r ? std::string("<parsed>") : r.error();
}

// Beside the examples of docs/protocol.md, which run end to end and pin
// one row of each error text there.
TEST(ParseMessage, ErrorTextsAndPositions) {
  const struct {
    std::string body, want;
    int column, line = 1;
  } cases[] = {
      // Wrong types: scalars just after, arrays and objects at their bracket.
      {R"({"url": null})", "invalid type: null, expected a string", 12},
      {R"({"rules": "x\"y"})", R"(invalid type: string "x\"y", expected a boolean)", 16},
      {R"({"rules": [1,2]})", "invalid type: sequence, expected a boolean", 10},
      {R"({"rules": 0})", "invalid type: integer `0`, expected a boolean", 11},
      {R"({"url": true})", "invalid type: boolean `true`, expected a string", 12},
      {R"({"url": false})", "invalid type: boolean `false`, expected a string", 13},
      {R"({"brands": ["a", null]})", "invalid type: null, expected a string", 21},
      {R"({"cookieJar": [1]})", "invalid type: integer `1`, expected struct BrowserCookie", 16},
      {R"({"cookieJar": [{"expires": "x"}]})", "invalid type: string \"x\", expected f64", 30},
      {R"({"declined": 3})", "invalid type: integer `3`, expected struct Notice", 14},
      {R"({"declined": {"why": null}})", "invalid type: null, expected a string", 25},
      // Numbers as the extension's reader names them.
      {R"({"size": 2.5})", "invalid type: floating point `2.5`, expected u64", 12},
      {R"({"size": 1e-7})", "invalid type: floating point `0.0000001`, expected u64", 13},
      {R"({"size": -0})", "invalid type: floating point `-0.0`, expected u64", 11},
      {R"({"rules": -9223372036854775808})",
       "invalid type: integer `-9223372036854775808`, expected a boolean", 30},
      // An exponent past 32 bits changes no string, and a skipped one no syntax error.
      {R"({"x":1e99999999999,"rules":"1e99999999999\"1e99999999999"})",
       R"(invalid type: string "1e99999999999\"1e99999999999", expected a boolean)", 57},
      {R"({"x":1e99999999999 "a":1})", "expected `,` or `}`", 20},
      {R"({"x":1e99999999999,"y":1e})", "invalid number", 26},
      {"1e99999999999", "number out of range", 13},
      // A leading zero is broken JSON at the digit after it, whatever type was asked.
      {"[-01]", "invalid number", 4},
      {R"({"rules":00})", "invalid number", 11},
      {R"({"rules":09})", "invalid number", 11},
      // Repeated keys: after the key and the white space behind it.
      {"{\"url\": \"a\",\n \"v\": null,\n  \"url\" : \"b\"}", "duplicate field `url`", 8, 3},
      {"{\"url\": \"a\", \"url\"\r\n\t: \"b\"}", "duplicate field `url`", 1, 2},
      {R"({"cookieJar": [{"hostOnly": true, "host_only": false}]})", "duplicate field `host_only`",
       45},
      {R"({"cookieJar": [{"expires": 1, "expirationDate": 2}]})", "duplicate field `expires`", 46},
      // Array forms: a value past the last field.
      {R"({"cookieJar": [["a","b","c",true,"p",false,1.5,9]]})", "trailing characters", 48},
      {R"({"declined": ["a","b","c",[]]})", "trailing characters", 27},
      {R"({"declined": ["a","b","c",-1.05e+3]})", "trailing characters", 27},
      {R"({"declined": ["a","b","c","\\\"\\\""]})", "trailing characters", 27},
      // Syntax.
      {R"({"rules":)", "EOF while parsing a value", 9},
      {R"({"rules")", "EOF while parsing an object", 8},
      {R"({"rules":true)", "EOF while parsing an object", 13},
      {R"({"links": ["a")", "EOF while parsing a list", 14},
      {"{\"links\": [\"a\",]\n}", "trailing comma", 16},  // a line feed right after
      {R"({"a":{"b":1,}})", "trailing comma", 13},
      {"{\"a\":1}\n\n  x", "trailing characters", 3, 3},
      {R"({"x":[[],{},x]})", "expected value", 13},  // after a whole list and object
      {R"({"a" 1})", "expected `:`", 6},
      {R"({1: 2})", "key must be a string", 2},
      {R"({"a": tru})", "expected ident", 10},
      {"{\"a\":\n x}", "expected value", 2, 2},
      {R"({"a": -x})", "invalid number", 8},
      {R"({"a": 1.x})", "invalid number", 9},
      {R"({"a": 1ex})", "invalid number", 9},
      {R"({"a": 1E+})", "invalid number", 10},
      {R"({"a": 1.)", "EOF while parsing a value", 8},
      {R"({"a": 1e)", "EOF while parsing a value", 8},
      {R"({"a\q": 1})", "invalid escape", 5},
      {R"(["\udbff"])", "lone leading surrogate in hex escape", 8},
      {R"(["\uDaFA"])", "lone leading surrogate in hex escape", 8},
      {R"(["\uDFFF"])", "invalid unicode code point", 8},
      {R"(["\uDBFF\u0041"])", "invalid unicode code point", 14},
      {R"({"extra": ["\u00e9\u00E9" 1]})", "expected `,` or `]`", 27},
      {R"(["\uD800\uDC00\g"])", "invalid escape", 16},
      // A type error comes before a later syntax error, as the text is read.
      {R"({"rules": null, )", "invalid type: null, expected a boolean", 14},
      {R"({"extra": [1, {"x": [}]})", "expected value", 22},
      // The message is level 1; the 128th bracket is refused just after itself, even skipped.
      {R"({"extra": )" + std::string(127, '[') + std::string(127, ']') + "}",
       "recursion limit exceeded", 137}};
  for (const auto& c : cases)
    EXPECT_EQ(error_of(c.body),
              c.want + " at line " + std::to_string(c.line) + " column " + std::to_string(c.column))
        << c.body;
}

TEST(ParseMessage, KeptFieldsArrayFormsAndSkippedValues) {
  // Beyond the end-to-end messages: kept fields, array forms, skipped values.
  auto m = parse_message(R"({"rules": true, "v": "2.0", "panel": true,
    "size": 18446744073709551615, "UserAgent": "ignored", "extra": {"a": [1, {"b": null}]},
    "extra": 1, "declined": {"why": "site"}, "cookieJar": [["n", "v", "d", true, "p", true, 1.5]]})");
  ASSERT_TRUE(m.ok()) << m.error();
  EXPECT_TRUE(m->rules && m->panel && !m->user_agent && m->v == "2.0");
  EXPECT_EQ(m->size, UINT64_MAX);
  // Beside an exponent past 32 bits, only that exponent is rewritten.
  EXPECT_EQ(parse_message(R"({"x":1e99999999999,"size":12345678901234})")->size, 12345678901234u);
  EXPECT_EQ(m->cookie_jar[0], (ipc::BrowserCookie{"n", "v", "d", true, "p", true, 1.5}));
  const Message a = parse_message(R"([true])").value();
  EXPECT_TRUE(a.rules && !a.hello);
  EXPECT_TRUE(parse_message(R"({"extra": )" + std::string(126, '[') + std::string(126, ']') + "}"));
}

// A grid of numbers reads as strtod reads it: infinity is out of range just
// after the number, zero keeps its sign. An unknown key's number is skipped.
TEST(ParseMessage, NumbersAsStrtodReadsThem) {
  // First digits at, before and far from the point; exponents about a double's
  // ends, and past 32 bits.
  const std::string zeros(5000, '0');
  std::vector<std::string> mantissas = {"0." + zeros.substr(0, 400) + "1", "1" + zeros,
                                        "-1" + zeros + ".5", "0.1" + zeros.substr(0, 500) + "1"},
                           exponents = {""};
  std::istringstream m(
      "0 -0 1 -2.5 0.1 0.09 0.9 0.5 9007199254740993 18446744073709551616 "
      "1.7976931348623157 2.4703282292062328"),
      e("e0 E+2 e-7 e308 e309 e-307 e-323 e-324 E+400 e-400 e-4690 e-5000 e-5325 "
        "e+00000000000009 e800 e10000000000 e-2147483648 E+2147483648 e-99999999999");
  for (std::string w; m >> w;) mantissas.push_back(w);
  for (std::string w; e >> w;) exponents.push_back(w);
  for (const std::string& mantissa : mantissas)
    for (const std::string& exponent : exponents) {
      const std::string n = mantissa + exponent;
      const double want = std::strtod(n.c_str(), nullptr);
      const auto read = parse_message(R"({"cookieJar":[{"expires":)" + n + "}]}");
      if (std::isinf(want)) {
        EXPECT_EQ(read ? "" : read.error(),
                  "number out of range at line 1 column " + std::to_string(25 + n.size()))
            << n;
      } else {
        ASSERT_TRUE(read.ok()) << n << ": " << read.error();
        const double got = *read->cookie_jar[0].expires;
        EXPECT_TRUE(got == want && std::signbit(got) == std::signbit(want)) << n << ": " << got;
      }
      const auto skipped = parse_message(R"({"extra":)" + n + R"(,"panel":true})");
      EXPECT_TRUE(skipped.ok() && skipped->panel) << n;
    }
}
}  // namespace
}  // namespace nm::host
