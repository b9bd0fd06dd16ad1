#include "ipc/capture/patterns.hpp"

#include <gtest/gtest.h>

#include <tuple>

namespace nm::capture {
namespace {

TEST(SplitWords, CutsAtUnicodeWhiteSpace) {
  // A zero width space and an invalid byte do not separate.
  EXPECT_EQ(split_words(" ZIP\t 7Z\u00a0B\u3000C\u2028D\u0085E\u200bF G\xff\n"),
            (std::vector<std::string>{"ZIP", "7Z", "B", "C", "D", "E\u200bF", "G\xff"}));
}

TEST(HostOf, TakesTheAuthorityApart) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://Example.COM:8443/a/b?c#d", "example.com"},
      {"http://[::1]:8080/x", "::1"},
      {"https://[fe80::1", "fe80::1"},
      {"example.com/x", "example.com"},
      {"", ""},
      {"https://user:p@ss@Host.test:21/", "host.test"},
      {"https://h?x=a/b", "h"},
      {"https://a.test/go?to=https://b.test/", "a.test"},
      {"HTTPS://\u00c9X.com", "\u00c9x.com"},
  };
  for (const auto& [url, host] : cases) EXPECT_EQ(host_of(url), host) << url;
}

TEST(SiteMatches, WildcardsCoverTheDomainAndItsSubdomains) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"example.com", "*.example.com", true},
      {"a.b.example.com", "*.EXAMPLE.com", true},
      {"badexample.com", "*.example.com", false},
      {"www.example.com", "example.com", false},
      {"example.com", "  HTTPS://Example.com/path ", true},
      {"example.com", "example.com:443", false},
      {"example.com", "ex*.com", false},
      {"", "*.", true},
      {"\u00e9x.com", "\u00c9x.com", false},
  };
  for (const auto& [host, pattern, want] : cases)
    EXPECT_EQ(site_matches(host, pattern), want) << host << " ~ " << pattern;
}

TEST(AddressMatches, StarsStandForAnyRun) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"https://cdn.example.com/files/a.zip", "*.example.com/files/*", true},
      {"http://Example.com/setup.EXE", "example.com/*.exe", true},
      {"https://www.example.com/setup.exe", "example.com/*.exe", false},
      {"http://example.com/a", "https://example.com/*", false},
      {"", "*", true},
      {"https://a.b/x?y", "a.b/x", false},
      {"https://a.b/1/2?q=3", "a.b*q=3", true},
      {"https://a.b/x", "a.b/**x*", true},
      // Pieces may not overlap.
      {"https://aba", "ab*ba", false},
      {"https://a.b/x-y.zip", "*-*-*.zip", false},
      {"https://a.b/c/d/c/e", "a.b/*c/*/e", true},
  };
  for (const auto& [url, pattern, want] : cases)
    EXPECT_EQ(address_matches(url, pattern), want) << url << " ~ " << pattern;
}

TEST(TypeMatches, TrailingStarMatchesByPrefix) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"zip", "ZIP", true},        {"zipx", "ZIP", false}, {"R0", "R0*", true},
      {"r0any", "R0*", true},      {"R1", "R0*", false},   {"gz", "G*Z", false},
      {"G*Z", "g*z", true},        {"", "*", true},        {"", "ZIP", false},
      {"\u00e9", "\u00c9", false},
  };
  for (const auto& [extension, word, want] : cases)
    EXPECT_EQ(type_matches(extension, word), want) << extension << " ~ " << word;
}

TEST(FileNameOf, PrefersTheFilenameThenTheUrlPath) {
  const struct {
    std::optional<std::string> filename;
    const char* url;
    const char* want;
  } cases[] = {
      {"a/b.zip", "https://h/x", "b.zip"},
      {"dir\\", "https://h/p/u.zip", "u.zip"},
      {std::nullopt, "https://h/p/file.iso?x=1#y", "file.iso"},
      {std::nullopt, "https://h/p/file.iso#y/z", "file.iso"},
      {std::nullopt, "https://h/dir/", ""},
      {std::nullopt, "https://example.com?a=/b", "example.com"},
  };
  for (const auto& c : cases) EXPECT_EQ(file_name_of(c.filename, c.url), c.want) << c.url;
}

// The end-to-end links show http, ftp, data: and javascript: addresses.
TEST(IsTransferScheme, AcceptsHttpAndFtpFamiliesOnly) {
  for (const char* url : {"FtpS://x", "ftpes://x"}) EXPECT_TRUE(is_transfer_scheme(url)) << url;
  for (const char* url : {"blob:https://x", "sftp://x", "https:x", ""})
    EXPECT_FALSE(is_transfer_scheme(url)) << url;
}

}  // namespace
}  // namespace nm::capture
