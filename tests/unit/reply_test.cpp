#include "nmhost/reply.hpp"

#include <gtest/gtest.h>

#include "nmhost/framing.hpp"

namespace nm::host {
namespace {

TEST(Reply, SerialisesOnlyPresentFieldsInOrder) {
  Reply hidden;  // a video button question answered with false
  Reply all;
  all.ok = true;
  all.error = "e";
  all.why = Why::not_running;
  all.version = "0.5.1";
  all.types = "ZIP";
  all.capture = false;
  all.excludedSites = "s";
  all.excludedAddresses = std::vector<std::string>{"a", "b\"c"};
  all.opened = true;
  all.minKb = 18446744073709551615ull;
  all.captureOff = "browser";
  all.declined = "small";
  Reply empty_list;
  empty_list.ok = true;
  empty_list.excludedAddresses = std::vector<std::string>{};
  empty_list.minKb = 0;

  const struct {
    Reply reply;
    std::string want;
  } cases[] = {
      {success_reply(), R"({"ok":true})"},
      {hidden, R"({"ok":false})"},
      {too_large_reply(1048577),
       R"({"ok":false,"error":"a message of 1048577 bytes","why":"too-large"})"},
      {refused_reply(Why::refused, "a \"quoted\" name\n\x01"),
       R"({"ok":false,"error":"a \"quoted\" name\n\u0001","why":"refused"})"},
      {all,
       R"({"ok":true,"error":"e","why":"not-running","version":"0.5.1","types":"ZIP","capture":false,)"
       R"("excludedSites":"s","excludedAddresses":["a","b\"c"],"opened":true,)"
       R"("minKb":18446744073709551615,"captureOff":"browser","declined":"small"})"},
      {empty_list, R"({"ok":true,"excludedAddresses":[],"minKb":0})"},
  };
  for (const auto& c : cases) EXPECT_EQ(serialize_reply(c.reply), c.want);
  EXPECT_EQ(serialize_reply(success_reply()).size(), 11u);
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
  const struct {
    const char* name;
    std::string error;
    std::string want;  // the error as written in the reply
  } cases[] = {
      {"fits exactly", std::string(room, 'x'), std::string(room, 'x')},
      {"one byte over", std::string(room + 1, 'x'), std::string(left, 'x') + "\u2026"},
      {"escapes are not split", std::string(room, '\x01'), times("\\u0001", left / 6) + "\u2026"},
      {"characters are not split", times("\u20AC", room), times("\u20AC", left / 3) + "\u2026"},
  };
  for (const auto& c : cases) {
    const std::string got = serialize_reply(refused_reply(Why::refused, c.error));
    EXPECT_LE(got.size(), size_t{kMaxMessageBytes}) << c.name;
    EXPECT_TRUE(got == head + c.want + tail) << c.name << ": " << got.substr(got.size() - 40);
  }
}

}  // namespace
}  // namespace nm::host
