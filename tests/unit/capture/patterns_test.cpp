#include "capture/patterns.hpp"

#include <gtest/gtest.h>
#include <tuple>

namespace nm::capture {
TEST(SplitWords, UnicodeWhiteSpaceSeparates) {
  // A zero width space and an invalid byte do not separate.
  EXPECT_EQ(split_words(" ZIP\t 7Z\u00a0B\u3000C\u2028D\u0085E\u200bF G\xff\n"),
            (std::vector<std::string>{"ZIP", "7Z", "B", "C", "D", "E\u200bF", "G\xff"}));
}

TEST(HostOf, LowerCasedWithoutUserOrPort) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://Example.COM:8443/a/b?c#d", "example.com"},
      {"http://[::1]:8080/x", "::1"},
      {"https://user:p@ss@Host.test:21/", "host.test"},
      {"https://[fe80::1", "fe80::1"},
      {"https://a.test/go?to=https://b.test/", "a.test"},
      {"HTTPS://\u00c9X.com", "\u00c9x.com"},
      {"https://h?x=a/b", "h"},
      {"", ""}};
  for (const auto& [url, host] : cases) EXPECT_EQ(host_of(url), host) << url;
}

TEST(PatternMatches, SitesAddressesAndTypes) {
  // Sites: *. covers the domain too; addresses: * is any run; types: trailing * prefix.
  using Match = bool (*)(std::string_view, std::string_view);
  const std::tuple<Match, const char*, const char*, bool> matches[] = {
      {site_matches, "example.com", "*.example.com", true},
      {site_matches, "badexample.com", "*.example.com", false},
      {site_matches, "www.example.com", "example.com", false},
      {site_matches, "example.com", "  HTTPS://Example.com/path ", true},
      {site_matches, "example.com", "example.com:443", false},
      {site_matches, "example.com", "ex*.com", false},
      {site_matches, "\u00e9x.com", "\u00c9x.com", false},
      {address_matches, "https://cdn.example.com/files/a.zip", "*.example.com/files/*", true},
      {address_matches, "https://www.example.com/setup.exe", "example.com/*.exe", false},
      {address_matches, "http://example.com/a", "https://example.com/*", false},
      {address_matches, "", "*", true},
      {address_matches, "https://a.b/x", " \t", false},
      {address_matches, "https://a.b/x?y", "a.b/x", false},
      {address_matches, "https://a.b/1/2?q=3", "a.b*q=3", true},
      {address_matches, "https://a.b/x", "a.b/**x*", true},
      {address_matches, "https://aba", "ab*ba", false},
      {address_matches, "https://a.b/x-y.zip", "*-*-*.zip", false},
      {address_matches, "https://a.b/c/d/c/e", "a.b/*c/*/e", true},
      {type_matches, "zipx", "ZIP", false},
      {type_matches, "r0any", "R0*", true},
      {type_matches, "R1", "R0*", false},
      {type_matches, "gz", "G*Z", false},
      {type_matches, "G*Z", "g*z", true},
      {type_matches, "", "*", true},
      {type_matches, "", "ZIP", false},
      {type_matches, "\u00e9", "\u00c9", false}};
  for (const auto& [match, text, pattern, want] : matches)
    EXPECT_EQ(match(text, pattern), want) << text << " ~ " << pattern;
}

TEST(FileNameOf, TheNameGivenElseTheAddressPath) {
  const std::tuple<std::optional<std::string>, const char*, const char*> names[] = {
      {"a/b.zip", "https://h/x", "b.zip"},
      {std::nullopt, "https://h/p/file.iso#y/z", "file.iso"},
      {std::nullopt, "https://h/dir/", ""},
      {std::nullopt, "https://example.com?a=/b", "example.com"}};
  for (const auto& [filename, url, want] : names)
    EXPECT_EQ(file_name_of(filename, url), want) << url;
}

TEST(IsTransferScheme, HttpAndFtpOnly) {
  // The end-to-end links show http, ftp, data: and javascript: addresses.
  for (const char* url : {"FtpS://x", "ftpes://x"}) EXPECT_TRUE(is_transfer_scheme(url)) << url;
  for (const char* url : {"blob:https://x", "sftp://x", "gttp://x", "https:x", ""})
    EXPECT_FALSE(is_transfer_scheme(url)) << url;
}
}  // namespace nm::capture
