#include "nmhost/reply.hpp"

#include <gtest/gtest.h>

#include "json/writer.hpp"
#include "nmhost/framing.hpp"

namespace nm::host {
namespace {

// A rules summary with every field, and declines with their words, are
// shown end to end; these are the edges.
TEST(Reply, SerialisesOnlyPresentFieldsInOrder) {
  Reply hidden;  // a video button question answered with false
  Reply empty_list;
  empty_list.ok = true;
  empty_list.excludedAddresses = std::vector<std::string>{};
  empty_list.minKb = 0;
  const std::pair<Reply, std::string> cases[] = {
      {success_reply(), R"({"ok":true})"},
      {hidden, R"({"ok":false})"},
      {refused_reply(Why::not_running, "a \"quoted\" name\n\x01"),
       R"({"ok":false,"error":"a \"quoted\" name\n\u0001","why":"not-running"})"},
      {empty_list, R"({"ok":true,"excludedAddresses":[],"minKb":0})"},
  };
  for (const auto& [reply, want] : cases) EXPECT_EQ(serialize_reply(reply), want);
}

// No reply exceeds what a browser takes from its host: an error text that
// would is cut at a character boundary and marked; the rest stays.
TEST(Reply, OversizedErrorIsCutToFit) {
  const std::string head = R"({"ok":false,"error":")", tail = R"(","why":"refused"})";
  const size_t room = kMaxMessageBytes - head.size() - tail.size();  // for the escaped error
  const size_t left = room - 3;                                      // beside the mark "…"
  const auto times = [](std::string_view s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
  };
  // Every kind of character is counted at its escaped length, so that the
  // cut falls in the run of x behind them; runs of one kind are not split.
  const std::string kinds = "\"\\\b\t\n\f\r \x01\x1F\x7F\u00E9\u20AC\U0001F600";
  std::string escaped;
  json::append_string(escaped, kinds);
  escaped = escaped.substr(1, escaped.size() - 2);
  const struct {
    std::string error;
    std::string want;  // the error as written in the reply
  } cases[] = {
      {std::string(room, 'x'), std::string(room, 'x')},
      {kinds + std::string(room, 'x'),
       escaped + std::string(left - escaped.size(), 'x') + "\u2026"},
      {std::string(room, '\x01'), times("\\u0001", left / 6) + "\u2026"},
      {times("\u20AC", room), times("\u20AC", left / 3) + "\u2026"},
  };
  for (const auto& c : cases) {
    const std::string got = serialize_reply(refused_reply(Why::refused, c.error));
    EXPECT_LE(got.size(), size_t{kMaxMessageBytes}) << c.want.substr(0, 20);
    EXPECT_TRUE(got == head + c.want + tail) << got.substr(0, 60) << got.substr(got.size() - 40);
  }
}

}  // namespace
}  // namespace nm::host
