#include "nmhost/reply.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace nm::host
