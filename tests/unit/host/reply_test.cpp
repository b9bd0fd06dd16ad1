#include "host/reply.hpp"

#include <gtest/gtest.h>

#include "host/framing.hpp"
#include "json/writer.hpp"

namespace nm::host {
TEST(SerializeReply, EscapesAndTheCutOfAnOversizedError) {
  // Every reply that fits is shown end to end. An error that would pass what a
  // browser takes is cut at a character, marked.
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
      {times("\u20AC", room), times("\u20AC", left / 3) + "\u2026"}};
  for (const auto& [error, want] : oversized) {
    const std::string got = serialize_reply(refused_reply(Why::refused, error));
    EXPECT_LE(got.size(), size_t{kMaxMessageBytes}) << want.substr(0, 20);
    EXPECT_TRUE(got == head + want + tail) << got.substr(0, 60) << got.substr(got.size() - 40);
  }
}

TEST(SerializeReply, OversizedRulesSummaryNamesItsLongestOption) {
  // A rules summary has no error to cut: over the limit it names its longest
  // option instead; at the limit it goes out whole.
  capture::CaptureRules big;
  big.excluded_addresses.assign(20000, "*.example.com/x");
  big.auto_types.assign(1, 'A');
  const size_t base = serialize_reply(rules_summary(big, "")).size();
  big.auto_types.resize(1 + kMaxMessageBytes - base, 'A');
  EXPECT_EQ(serialize_reply(rules_summary(big, "")).size(), size_t{kMaxMessageBytes});
  big.auto_types += 'A';
  EXPECT_EQ(serialize_reply(rules_summary(big, "")),
            R"({"ok":false,"error":"a rules summary of 1048577 bytes: auto_types is too long",)"
            R"("why":"too-large"})");
  // Each address counts with its quotes and comma: 70000 x 19 bytes outweigh 1.2 MB of types.
  for (const auto& [sites, addresses, types, longest] :
       {std::tuple{kMaxMessageBytes, 0, 3u, "excluded_sites"},
        {0u, 70000, 3u, "excluded_addresses"},
        {0u, 70000, 1200000u, "excluded_addresses"}}) {
    big.auto_types.assign(types, 'Z');
    big.excluded_sites.assign(sites, 's');
    big.excluded_addresses.assign(addresses, "*.example.com/xx");
    const std::string got = serialize_reply(rules_summary(big, ""));
    EXPECT_TRUE(got.ends_with(std::string(": ") + longest + R"( is too long","why":"too-large"})"))
        << got;
  }
}
}  // namespace nm::host
