#include "ipc/capture/patterns.hpp"

#include <gtest/gtest.h>

namespace nm::capture {
namespace {

using Words = std::vector<std::string>;

TEST(SplitWords, CutsAtUnicodeWhiteSpace) {
  const struct {
    const char* text;
    Words want;
  } cases[] = {
      {"", {}},
      {" \t\r\n ", {}},
      {"ZIP", {"ZIP"}},
      {"  ZIP   7Z\tRAR\n", {"ZIP", "7Z", "RAR"}},
      // NBSP, ideographic space, line separator, NEL are separators too.
      {"A\u00a0B\u3000C\u2028D\u0085E", {"A", "B", "C", "D", "E"}},
      // Zero width space (U+200B) is not white space; letters beyond ASCII stay whole.
      {"A\u200bB \u00e9t\u00e9", {"A\u200bB", "\u00e9t\u00e9"}},
      // An invalid byte is kept inside its word.
      {"A\xff"
       "B C",
       {"A\xff"
        "B",
        "C"}},
  };
  for (const auto& c : cases) EXPECT_EQ(split_words(c.text), c.want) << c.text;
}

TEST(HostOf, TakesTheAuthorityApart) {
  const struct {
    const char* url;
    const char* host;
  } cases[] = {
      {"https://Example.COM:8443/a/b?c#d", "example.com"},
      {"http://[::1]:8080/x", "::1"},
      {"https://[fe80::1", "fe80::1"},
      {"example.com/x", "example.com"},
      {"mailto:someone", "mailto"},
      {"", ""},
      {"https://", ""},
      {"https://@host.example/x", "host.example"},
      {"https://user:p@ss@Host.example:21/", "host.example"},
      {"https://h?x=a/b", "h"},
      {"https://h#frag/x", "h"},
      // Only the first "://" counts.
      {"https://a.example/redirect?to=https://b.example/", "a.example"},
      {"HTTPS://\u00c9XAMPLE.com", "\u00c9xample.com"},
  };
  for (const auto& c : cases) EXPECT_EQ(host_of(c.url), c.host) << c.url;
}

TEST(SiteMatches, WildcardsCoverTheDomainAndItsSubdomains) {
  const struct {
    const char* host;
    const char* pattern;
    bool want;
  } cases[] = {
      {"example.com", "*.example.com", true},
      {"www.example.com", "*.example.com", true},
      {"a.b.example.com", "*.EXAMPLE.com", true},
      {"badexample.com", "*.example.com", false},
      {"example.com.evil", "*.example.com", false},
      {"example.com", "example.com", true},
      {"www.example.com", "example.com", false},
      {"example.com", "  HTTPS://Example.com/path ", true},
      {"example.com", "\u3000example.com\u00a0", true},
      {"example.com", "example.com:443", false},
      {"example.com", "ex*.com", false},
      {"ex*.com", "ex*.com", true},
      {"", "", false},
      {"", "*.", true},
      {"host.", "*.", true},
      {"example.com", "", false},
      {"example.com", "   ", false},
      // Letters beyond ASCII are compared as they are.
      {"\u00e9xample.com", "\u00c9xample.com", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(site_matches(c.host, c.pattern), c.want) << c.host << " ~ " << c.pattern;
}

TEST(AddressMatches, StarsStandForAnyRun) {
  const struct {
    const char* url;
    const char* pattern;
    bool want;
  } cases[] = {
      {"https://cdn.example.com/files/a.zip", "*.example.com/files/*", true},
      {"http://Example.com/setup.EXE", "example.com/*.exe", true},
      {"ftp://example.com/x/y.exe", "example.com/*.exe", true},
      {"https://www.example.com/setup.exe", "example.com/*.exe", false},
      {"http://example.com/a", "https://example.com/*", false},
      {"https://example.com/a", "https://example.com/*", true},
      {"http://a.b/x", "HTTP://A.B/*", true},
      {"https://a.b/x", "HTTP://A.B/*", false},
      {"anything at all", "*", true},
      {"", "*", true},
      {"https://a.b/", "", false},
      {"https://a.b/", " \t ", false},
      // Without a star the pattern is the whole address less its scheme.
      {"https://a.b/x", "a.b/x", true},
      {"https://a.b/x?y", "a.b/x", false},
      {"https://a.b/x", " A.B/X ", true},
      // Stars cross "/" and "?", and may match nothing.
      {"https://a.b/1/2?q=3", "a.b*q=3", true},
      {"https://a.b/x", "a.b/**x", true},
      {"https://a.b/x", "a.b/x*", true},
      // Pieces may not overlap.
      {"https://aba", "ab*ba", false},
      {"https://abba", "ab*ba", true},
      {"https://a.b/x-y-z.zip", "*-*-*.zip", true},
      {"https://a.b/x-y.zip", "*-*-*.zip", false},
      // A middle piece is taken at its first occurrence.
      {"https://a.b/c/d/c/e", "a.b/*c/*/e", true},
      // An address without a scheme is compared whole.
      {"a.b/x", "a.b/*", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(address_matches(c.url, c.pattern), c.want) << c.url << " ~ " << c.pattern;
}

TEST(TypeMatches, TrailingStarMatchesByPrefix) {
  const struct {
    const char* extension;
    const char* word;
    bool want;
  } cases[] = {
      {"zip", "ZIP", true},   {"ZIP", "zip", true},
      {"zipx", "ZIP", false}, {"zi", "ZIP", false},
      {"R0", "R0*", true},    {"r01", "R0*", true},
      {"R0ANY", "R0*", true}, {"R1", "R0*", false},
      {"001", "00*", true},   {"tar", "TAR*", true},
      {"gz", "G*Z", false},   {"G*Z", "g*z", true},
      {"", "*", true},        {"exe", "*", true},
      {"", "ZIP", false},     {"\u00e9", "\u00c9", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(type_matches(c.extension, c.word), c.want) << c.extension << " ~ " << c.word;
}

TEST(FileNameOf, PrefersTheFilenameThenTheUrlPath) {
  const struct {
    std::optional<std::string> filename;
    const char* url;
    const char* want;
  } cases[] = {
      {"a/b.zip", "https://h/x", "b.zip"},
      {"C:\\Users\\me\\Downloads\\setup.exe", "https://h/x", "setup.exe"},
      {"mixed\\dir/name.iso", "https://h/x", "name.iso"},
      {"plain.pdf", "https://h/x", "plain.pdf"},
      {"dir\\", "https://h/p/from-url.zip", "from-url.zip"},
      {"", "https://h/p/from-url.zip", "from-url.zip"},
      {std::nullopt, "https://h/p/file.iso?x=1#y", "file.iso"},
      {std::nullopt, "https://h/p/file.iso#y/z", "file.iso"},
      {std::nullopt, "https://h/dir/", ""},
      {std::nullopt, "https://h/dl", "dl"},
      {std::nullopt, "https://example.com", "example.com"},
      {std::nullopt, "https://example.com?a=/b", "example.com"},
      {std::nullopt, "", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(file_name_of(c.filename, c.url), c.want)
        << c.filename.value_or("<none>") << " " << c.url;
}

TEST(IsTransferScheme, AcceptsHttpAndFtpFamiliesOnly) {
  const struct {
    const char* url;
    bool want;
  } cases[] = {
      {"http://x", true},
      {"HTTPS://x", true},
      {"ftp://x", true},
      {"FtpS://x", true},
      {"ftpes://x", true},
      {"blob:https://x", false},
      {"data:text/plain,x", false},
      {"sftp://x", false},
      {"file:///c:/x", false},
      {"https:x", false},
      {"", false},
      {"://x", false},
      {"javascript:go('http://x')", false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_transfer_scheme(c.url), c.want) << c.url;
}

}  // namespace
}  // namespace nm::capture
