#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/cmdline.hpp"
#include "base/text.hpp"
#include "host/framing.hpp"
#include "host/message.hpp"
#include "host/reply.hpp"
#include "json/writer.hpp"

namespace nm::host {
namespace {

std::string error_of(std::string_view body) {
  auto r = parse_message(body);
  return r ? std::string("<parsed>") : r.error();
}

TEST(ParseMessage, ErrorsWithTheirPositionsFieldsAndNearestDoubles) {
  const struct {
    std::string body, want;
    int column, line = 1;
  } cases[] = {
      // Wrong types: scalars just after, arrays and objects at their bracket.
      {R"({"rules": null})", "invalid type: null, expected a boolean", 14},
      {R"({"url": null})", "invalid type: null, expected a string", 12},
      {R"({"rules": "x\"y"})", R"(invalid type: string "x\"y", expected a boolean)", 16},
      {R"({"rules": [1,2]})", "invalid type: sequence, expected a boolean", 10},
      {R"({"rules": {}})", "invalid type: map, expected a boolean", 10},
      {R"({"rules": 0})", "invalid type: integer `0`, expected a boolean", 11},
      {R"({"url": true})", "invalid type: boolean `true`, expected a string", 12},
      {R"({"url": false})", "invalid type: boolean `false`, expected a string", 13},
      {R"({"rules": false, "hello": true, "open": 1.0})",
       "invalid type: floating point `1.0`, expected a boolean", 43},
      {R"({"brands": ["a", null]})", "invalid type: null, expected a string", 21},
      {R"({"brands": "a"})", "invalid type: string \"a\", expected a sequence", 14},
      {R"({"cookieJar": null})", "invalid type: null, expected a sequence", 18},
      {R"({"cookieJar": [1]})", "invalid type: integer `1`, expected struct BrowserCookie", 16},
      {R"({"cookieJar": [{"expires": "x"}]})", "invalid type: string \"x\", expected f64", 30},
      {R"({"declined": 3})", "invalid type: integer `3`, expected struct Notice", 14},
      {R"({"declined": {"why": null}})", "invalid type: null, expected a string", 25},
      // Numbers as the extension's reader names them.
      {R"({"size": -1})", "invalid value: integer `-1`, expected u64", 11},
      {R"({"size": 2.5})", "invalid type: floating point `2.5`, expected u64", 12},
      {R"({"size": 1e-7})", "invalid type: floating point `0.0000001`, expected u64", 13},
      {R"({"size": -0})", "invalid type: floating point `-0.0`, expected u64", 11},
      {R"({"size": 18446744073709551616})",
       "invalid type: floating point `18446744073709552000.0`, expected u64", 29},
      {R"({"rules": -9223372036854775808})",
       "invalid type: integer `-9223372036854775808`, expected a boolean", 30},
      // Too small rounds to zero, too large stays out of range, past 32-bit exponents too.
      {R"({"url":"https://a.test/f.zip","size":1e-400})",
       "invalid type: floating point `0.0`, expected u64", 43},
      {R"({"url":"https://a.test/f.zip","size":1e400})", "number out of range", 42},
      {R"({"size":1E-400})", "invalid type: floating point `0.0`, expected u64", 14},
      {R"({"size":0.5E+400})", "number out of range", 16},
      {R"({"size":1e99999999999999999999})", "number out of range", 30},
      {R"({"size":-2.5E+99999999999})", "number out of range", 25},
      {R"({"size":1e-2147483648})", "invalid type: floating point `0.0`, expected u64", 21},
      {R"({"size":-0.5e-99999999999})", "invalid type: floating point `-0.0`, expected u64", 25},
      {R"({"cookieJar":[{"expires":-1e400}]})", "number out of range", 31},
      {R"({"links":[1e400]})", "number out of range", 15},
      {R"({"brands":["a",1E+2147483648]})", "number out of range", 28},
      // Such a number changes no string, and a skipped one no syntax error.
      {R"({"x":1e99999999999,"rules":"\"1e99999999999"})",
       R"(invalid type: string "\"1e99999999999", expected a boolean)", 44},
      {R"({"x":1e99999999999 "a":1})", "expected `,` or `}`", 20},
      // A leading zero is broken JSON at the digit after it, whatever type was asked.
      {"[-01]", "invalid number", 4},
      {R"({"rules":012})", "invalid number", 11},
      {R"({"rules":00})", "invalid number", 11},
      {R"({"rules":09})", "invalid number", 11},
      // Repeated keys: after the key and the white space behind it.
      {R"({"url": "a", "url": "b"})", "duplicate field `url`", 18},
      {"{\"url\": \"a\",\n \"v\": null,\n  \"url\" : \"b\"}", "duplicate field `url`", 8, 3},
      {R"({"cookieJar": [{"hostOnly": true, "host_only": false}]})", "duplicate field `host_only`",
       45},
      {R"({"cookieJar": [{"expires": 1, "expirationDate": 2}]})", "duplicate field `expires`", 46},
      {R"({"title": null, "title": "x"})", "duplicate field `title`", 23},
      {R"({"declined": {"why": "a", "why": "b"}})", "duplicate field `why`", 31},
      // Array forms: a value past the last field.
      {R"({"cookieJar": [["a","b","c",true,"p",false,1.5,9]]})", "trailing characters", 48},
      {R"({"declined": ["a","b","c",[]]})", "trailing characters", 27},
      {R"({"declined": ["a","b","c",-1.5e+3]})", "trailing characters", 27},
      {R"({"declined": ["a","b","c","\\\"\\\""]})", "trailing characters", 27},
      // Syntax.
      {"   ", "EOF while parsing a value", 3},
      {R"({"rules":)", "EOF while parsing a value", 9},
      {R"({"rules")", "EOF while parsing an object", 8},
      {R"({"rules":true)", "EOF while parsing an object", 13},
      {R"({"links": ["a")", "EOF while parsing a list", 14},
      {R"({"url": "abc)", "EOF while parsing a string", 12},
      {R"({"links": ["a",]})", "trailing comma", 16},
      {R"({"a":1} x)", "trailing characters", 9},
      {"{\"a\":1}\n\n  x", "trailing characters", 3, 3},
      {R"({"a": x})", "expected value", 7},
      {R"({"a" 1})", "expected `:`", 6},
      {R"({"a": 1 "b": 2})", "expected `,` or `}`", 9},
      {R"({1: 2})", "key must be a string", 2},
      {R"({"a": tru})", "expected ident", 10},
      {R"({"a": -x})", "invalid number", 8},
      {R"({"a": 1.x})", "invalid number", 9},
      {R"({"a": 1ex})", "invalid number", 9},
      {R"({"a": 1E+})", "invalid number", 10},
      {R"({"a": 1.)", "EOF while parsing a value", 8},
      {R"({"a": 1e)", "EOF while parsing a value", 8},
      {R"({"a": 10 x})", "expected `,` or `}`", 10},
      {R"({"a": [1 2]})", "expected `,` or `]`", 10},
      {R"({"a\q": 1})", "invalid escape", 5},
      {R"(["\uD800"])", "lone leading surrogate in hex escape", 8},
      {R"(["\uDBFF"])", "lone leading surrogate in hex escape", 8},
      {R"(["\uDaFA"])", "lone leading surrogate in hex escape", 8},
      {R"(["\uDC00"])", "invalid unicode code point", 8},
      {R"(["\uDBFF\u0041"])", "invalid unicode code point", 14},
      {R"({"extra": ["\u00e9\u00E9" 1]})", "expected `,` or `]`", 27},
      {R"(["\uD83D\uDE00\g"])", "invalid escape", 16},
      {"{\"url\": \"a\tb\"}", "control character (\\u0000-\\u001F) found while parsing a string",
       11},
      {R"({"url": "\q"})", "invalid escape", 11},
      // A type error comes before a later syntax error, as the text is read.
      {R"({"rules": null, )", "invalid type: null, expected a boolean", 14},
      {R"({"extra": [1, {"x": [}]})", "expected value", 22},
      // The message is level 1; the 128th bracket is refused just after itself, even skipped.
      {R"({"extra": )" + std::string(127, '[') + std::string(127, ']') + "}",
       "recursion limit exceeded", 137},
  };
  for (const auto& c : cases)
    EXPECT_EQ(error_of(c.body),
              c.want + " at line " + std::to_string(c.line) + " column " + std::to_string(c.column))
        << c.body;

  // Beyond the end-to-end messages: kept fields, array forms, skipped values.
  auto m = parse_message(R"({"rules": true, "v": "2.0", "panel": true,
    "size": 18446744073709551615, "UserAgent": "ignored", "extra": {"a": [1, {"b": null}]},
    "extra": 1, "declined": {"why": "site"}, "cookieJar": [["n", "v", "d", true, "p", true, 1.5]]})");
  ASSERT_TRUE(m.ok()) << m.error();
  EXPECT_TRUE(m->rules && m->panel && !m->user_agent && m->v == "2.0");
  EXPECT_EQ(m->size, UINT64_MAX);
  EXPECT_EQ(m->declined->why, "site");
  EXPECT_EQ(m->declined->name, "");
  EXPECT_EQ(m->cookie_jar[0], (ipc::BrowserCookie{"n", "v", "d", true, "p", true, 1.5}));
  const Message a = parse_message(R"([true])").value();
  EXPECT_TRUE(a.rules && !a.hello);
  EXPECT_EQ(parse_message(R"({"declined": ["file-type", "s"]})")->declined->site, "s");
  EXPECT_TRUE(parse_message(R"({"extra": )" + std::string(126, '[') + std::string(126, ']') + "}"));

  const auto jar =
      parse_message(R"({"cookieJar": [{"expires": 1.7976931348623157e308}, {"expires": 0.1},
    {"expires": 9007199254740993}, {"expires": 1e-400}, {"expires": -1e-400}]})");
  ASSERT_TRUE(jar.ok()) << jar.error();
  EXPECT_EQ(*jar->cookie_jar[0].expires, 1.7976931348623157e308);
  EXPECT_EQ(*jar->cookie_jar[1].expires, 0.1);
  EXPECT_EQ(*jar->cookie_jar[2].expires, 9007199254740992.0);
  EXPECT_EQ(*jar->cookie_jar[3].expires, 0.0);
  EXPECT_FALSE(std::signbit(*jar->cookie_jar[3].expires));
  EXPECT_TRUE(std::signbit(*jar->cookie_jar[4].expires));
  // An unknown key's number is skipped however far beyond a double it lies; too
  // small is zero wherever the first digit stands.
  const std::string skipped[] = {
      "2e-324", "1e-99999",  "0.9e-400",      "0." + std::string(400, '0') + "1",
      "1e400",  "[-1E+400]", "1e-2147483648", "-5e99999999999999999999"};
  for (const std::string& n : skipped) {
    auto t = parse_message(R"({"extra":)" + n + R"(,"panel":true})");
    EXPECT_TRUE(t.ok() && t->panel) << n << ": " << (t ? "" : t.error());
  }
  // Too large, though the exponent alone says small.
  const std::string huge = "1" + std::string(5000, '0') + "e-4690";
  EXPECT_EQ(error_of(R"({"size":)" + huge + "}"),
            "number out of range at line 1 column " + std::to_string(8 + huge.size()));
}

TEST(JsonOutput, WriterAndReplies) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, const char*> cases[] = {
      {1234.0, "1234.0"},     {1.0 / 3.0, "0.3333333333333333"},
      {0.0, "0.0"},           {std::nextafter(0.00001, 0.0), "9.999999999999999e-6"},
      {-0.0, "-0.0"},         {9999999999999998.0, "9999999999999998.0"},
      {-1.25, "-1.25"},       {1.7976931348623157e308, "1.7976931348623157e308"},
      {0.1, "0.1"},           {0.00001, "0.00001"},
      {1.5e-7, "1.5e-7"},     {5e-324, "5e-324"},
      {1e16, "1e16"},         {-2.5e20, "-2.5e20"},
      {inf, "null"},          {-inf, "null"},
      {std::nan(""), "null"},
  };
  for (const auto& [d, want] : cases) {
    std::string out;
    json::append_double(out, d);
    EXPECT_EQ(out, want) << d;
  }
  EXPECT_EQ(json::format_plain(18446744073709551616.0), "18446744073709552000");
  EXPECT_EQ(json::format_plain(1e-7), "0.0000001");

  std::string out;  // the pretty layout is the manifests', checked whole with them
  json::append_string(out, std::string("q\"b\\s/\b\t\n\f\r\0\x01\x1f\x7f é\xF0\x9F\x98\x80", 22));
  EXPECT_EQ(out, "\"q\\\"b\\\\s/\\b\\t\\n\\f\\r\\u0000\\u0001\\u001f\x7f é\xF0\x9F\x98\x80\"");

  // The edges; a full rules summary and the declines are shown end to end.
  Reply empty_list = success_reply();
  empty_list.excluded_addresses = std::vector<std::string>{};
  empty_list.min_kb = 0;
  const std::pair<Reply, std::string> replies[] = {
      {success_reply(), R"({"ok":true})"},
      {Reply{}, R"({"ok":false})"},  // a video button question answered with false
      {refused_reply(Why::not_running, "a \"quoted\" name\n\x01"),
       R"({"ok":false,"error":"a \"quoted\" name\n\u0001","why":"not-running"})"},
      {empty_list, R"({"ok":true,"excludedAddresses":[],"minKb":0})"},
  };
  for (const auto& [reply, want] : replies) EXPECT_EQ(serialize_reply(reply), want);

  // An error that would pass what a browser takes is cut at a character, marked.
  const std::string head = R"({"ok":false,"error":")", tail = R"(","why":"refused"})";
  const size_t room = kMaxMessageBytes - head.size() - tail.size();  // for the escaped error
  const size_t left = room - 3;                                      // beside the mark "…"
  const auto times = [](std::string_view s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
  };
  // Each character counts at its escaped length: the cut falls in the x behind.
  const std::string kinds = "\"\\\b\t\n\f\r \x01\x1F\x7F\u00E9\u20AC\U0001F600";
  std::string escaped;
  json::append_string(escaped, kinds);
  escaped = escaped.substr(1, escaped.size() - 2);
  const std::pair<std::string, std::string> oversized[] = {
      // error, as written in the reply
      {std::string(room, 'x'), std::string(room, 'x')},
      {kinds + std::string(room, 'x'),
       escaped + std::string(left - escaped.size(), 'x') + "\u2026"},
      {std::string(room, '\x01'), times("\\u0001", left / 6) + "\u2026"},
      {times("\u20AC", room), times("\u20AC", left / 3) + "\u2026"},
  };
  for (const auto& [error, want] : oversized) {
    const std::string got = serialize_reply(refused_reply(Why::refused, error));
    EXPECT_LE(got.size(), size_t{kMaxMessageBytes}) << want.substr(0, 20);
    EXPECT_TRUE(got == head + want + tail) << got.substr(0, 60) << got.substr(got.size() - 40);
  }

  // A rules summary has no error to cut: over the limit it names its longest
  // option instead; at the limit it goes out whole.
  capture::CaptureRules big;
  big.excluded_addresses.assign(20000, "*.example.com/x");
  big.auto_types = "A";
  const size_t base = serialize_reply(rules_summary(big, "")).size();
  big.auto_types.resize(1 + kMaxMessageBytes - base, 'A');
  EXPECT_EQ(serialize_reply(rules_summary(big, "")).size(), size_t{kMaxMessageBytes});
  big.auto_types += 'A';
  EXPECT_EQ(serialize_reply(rules_summary(big, "")),
            R"({"ok":false,"error":"a rules summary of 1048577 bytes: auto_types is too long",)"
            R"("why":"too-large"})");
  big.auto_types = "ZIP";
  for (const auto& [sites, addresses, longest] :
       {std::tuple{kMaxMessageBytes, 0, "excluded_sites"}, {0u, 70000, "excluded_addresses"}}) {
    big.excluded_sites.assign(sites, 's');
    big.excluded_addresses.assign(addresses, "*.example.com/xx");
    const std::string got = serialize_reply(rules_summary(big, ""));
    EXPECT_TRUE(got.ends_with(std::string(": ") + longest + R"( is too long","why":"too-large"})"))
        << got;
  }
}

// Decoding and encoding gives valid text back, else one U+FFFD per bad sequence.
TEST(Text, Utf8UnicodeWhiteSpaceAsciiCaseAndDebugQuotes) {
  for (const std::string valid :
       {"\x7F", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEF\xBF\xBD",
        "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"}) {
    EXPECT_TRUE(base::is_valid_utf8(valid)) << valid;
    EXPECT_EQ(base::utf8_lossy(valid), valid);
  }
  const std::pair<std::string, std::string> invalid[] = {
      {"\xC1\xBF", "\uFFFD\uFFFD"},                      // overlong
      {"\xE0\x9F\xBF", "\uFFFD\uFFFD\uFFFD"},            // overlong
      {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},            // surrogate
      {"\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\xF0\x8F\xBF\xBF", "\uFFFD\uFFFD\uFFFD\uFFFD"},  // overlong
      {"\xEF\xBF", "\uFFFD"},                            // cut short
      {"a\xE2\x82!\xF5", "a\uFFFD!\uFFFD"},
  };
  for (const auto& [bytes, want] : invalid) {
    EXPECT_FALSE(base::is_valid_utf8(bytes)) << bytes;
    EXPECT_EQ(base::utf8_lossy(bytes), want) << bytes;
  }

  for (char32_t c : {0x09, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A, 0x2028, 0x2029, 0x202F,
                     0x205F, 0x3000})
    EXPECT_TRUE(base::is_unicode_space(c)) << static_cast<unsigned>(c);
  for (char32_t c :
       {0x08, 0x0E, 0x1F, 0x84, 0xA1, 0x1FFF, 0x200B, 0x2027, 0x202A, 0x205E, 0x3001, 0xFEFF})
    EXPECT_FALSE(base::is_unicode_space(c)) << static_cast<unsigned>(c);
  EXPECT_EQ(base::trim_unicode("\u3000 a\u200Bb\u00A0\u2028"), "a\u200Bb");

  EXPECT_EQ(base::ascii_lower("@AZ[`az{\u00C9"), "@az[`az{\u00C9");
  EXPECT_EQ(base::ascii_upper("@AZ[`az{\u00E9"), "@AZ[`AZ{\u00E9");
  const std::tuple<std::string_view, std::string_view, bool> cases[] = {
      {"AZaz", "azAZ", true},
      {"@[", "`{", false},
      {"a", "ab", false},
      {std::string_view("aX", 1), std::string_view("aY", 1), true},  // only the view's bytes
  };
  for (const auto& [a, b, want] : cases)
    EXPECT_EQ(base::iequals_ascii(a, b), want) << a << " " << b;

  const std::pair<std::string, std::string> quoted[] = {
      {"a\"\\\t\r\n", R"("a\"\\\t\r\n")"},
      {std::string("\0\x01\x1F\x7F ~", 6), R"("\0\u{1}\u{1f}\u{7f} ~")"},
      {"\u0080\u009F\u00A0\xFF", "\"\\u{80}\\u{9f}\u00A0\uFFFD\""},
  };
  for (const auto& [text, want] : quoted) EXPECT_EQ(base::quote_debug(text), want);
  EXPECT_EQ(base::quote_debug_list({"a", "b"}), R"(["a", "b"])");
}

using Args = std::vector<std::string>;

TEST(CommandLine, SplitsByTheWindowsRulesAndQuotesRoundTrip) {
  const std::pair<const char*, Args> cases[] = {
      {"", {}},
      {"prog", {"prog"}},
      {"prog a b", {"prog", "a", "b"}},
      {"prog  \t a\t\tb  ", {"prog", "a", "b"}},
      {"\"C:\\Program Files\\x\\nmhost.exe\" arg", {"C:\\Program Files\\x\\nmhost.exe", "arg"}},
      // The program name keeps its backslashes and knows no escapes.
      {"\"C:\\dir\\\" b", {"C:\\dir\\", "b"}},
      {"prog \"a b\" c", {"prog", "a b", "c"}},
      {"prog a\\\\b", {"prog", "a\\\\b"}},
      {"prog a\\\\\"b c\"", {"prog", "a\\b c"}},
      {"prog a\\\"b", {"prog", "a\"b"}},
      {"prog a\\\\\\\"b", {"prog", "a\\\"b"}},
      {"prog \"\"", {"prog", ""}},
      {"prog \"a\"\"b\"", {"prog", "a\"b"}},
      {"prog \"a\"\"", {"prog", "a\""}},  // a doubled quote at the very end
      {"prog a\"\"b", {"prog", "ab"}},    // outside quotes, "" is an empty pair
      {"prog \"unterminated arg", {"prog", "unterminated arg"}},
      {"prog chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc/ --parent-window=0",
       {"prog", "chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc/", "--parent-window=0"}},
  };
  for (const auto& [line, want] : cases) EXPECT_EQ(base::split_command_line(line), want) << line;

  const Args args = {"plain",   "",     "with space", "C:\\Program Files\\a b\\", "end\\\\",
                     "q\"uote", "\\\"", "tab\there",  "HKCU\\Software\\x"};
  // The host's folder, where reg.exe is looked for first, may hold spaces.
  const auto line = base::join_command_line("C:\\Program Files\\QAR\\reg.exe", args);
  auto back = base::split_command_line(line);
  ASSERT_FALSE(back.empty());
  EXPECT_EQ(back[0], "C:\\Program Files\\QAR\\reg.exe");
  back.erase(back.begin());
  EXPECT_EQ(back, args);
  EXPECT_EQ(base::quote_argument("plain"), "plain");
  EXPECT_EQ(base::quote_argument("a b\\"), "\"a b\\\\\"");
}

}  // namespace
}  // namespace nm::host
