// URL and pattern operations; the input's first two NULs split URL, pattern, name.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.hpp"
#include "capture/patterns.hpp"
#include "checks.hpp"

namespace {

using namespace nm::capture;

// A plain "*" glob by dynamic programming: what the greedy matcher must mean.
bool glob(std::string_view pattern, std::string_view subject) {
  std::vector<char> row(subject.size() + 1, 0), next(subject.size() + 1);
  row[0] = 1;
  for (const char p : pattern) {
    next.assign(subject.size() + 1, 0);
    if (p == '*') {
      char any = 0;
      for (size_t j = 0; j <= subject.size(); ++j) next[j] = any = any | row[j];
    } else {
      for (size_t j = 0; j < subject.size(); ++j) next[j + 1] = row[j] && subject[j] == p;
    }
    row.swap(next);
  }
  return row[subject.size()];
}

bool has_ascii_upper(std::string_view s) {
  for (const char c : s)
    if (c >= 'A' && c <= 'Z') return true;
  return false;
}

std::string_view part(std::string_view& rest) {
  const size_t nul = rest.find('\0');
  const std::string_view p = rest.substr(0, nul);
  rest.remove_prefix(nul == std::string_view::npos ? rest.size() : nul + 1);
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view url = part(rest);
  const std::string_view pattern = part(rest);
  const std::string_view name = rest;

  // split_words: the non-space text, in order, in pieces without spaces.
  std::string joined, unspaced;
  for (const std::string& w : split_words(pattern)) {
    fuzz::check(!w.empty(), "empty word");
    joined += w;
  }
  for (size_t i = 0; i < pattern.size();) {
    const size_t at = i;
    if (!nm::base::is_unicode_space(nm::base::next_code_point(pattern, i)))
      unspaced += pattern.substr(at, i - at);
  }
  fuzz::check(joined == unspaced, "split_words lost text", pattern);

  // host_of: lower case, no path, query or fragment; matches itself and *.host.
  const std::string host = host_of(url);
  fuzz::check(!has_ascii_upper(host), "host not lower-cased", host);
  fuzz::check(host.find_first_of("/?#") == std::string::npos, "host with a path", host);
  if (!host.empty() && nm::base::trim_unicode(host) == host) {
    fuzz::check(site_matches(host, host), "host does not match itself", host);
    fuzz::check(site_matches(host, "*." + host), "host does not match *.host", host);
    fuzz::check(site_matches("a." + host, "*." + host), "subdomain does not match", host);
  }

  // address_matches: a case-blind glob, the scheme left out unless named.
  const bool matched = address_matches(url, pattern);
  const std::string p = nm::base::ascii_lower(nm::base::trim_unicode(pattern));
  std::string subject = nm::base::ascii_lower(url);
  if (p.find("://") == std::string::npos && subject.find("://") != std::string::npos)
    subject.erase(0, subject.find("://") + 3);
  fuzz::check(matched == (!p.empty() && glob(p, subject)), "address_matches is no glob",
              std::string(url) + " | " + std::string(pattern));

  // type_matches: case blind, "*" at the end a prefix.
  fuzz::check(type_matches(name, name), "type does not match itself", name);
  fuzz::check(type_matches(nm::base::ascii_upper(name), nm::base::ascii_lower(name)), "type case",
              name);
  fuzz::check(type_matches(std::string(name) + "x", std::string(name) + "*"), "type prefix", name);

  // file_name_of: the last part of the name, else (an empty name too) of the URL's path.
  const std::string file = file_name_of(name, url);
  if (!file.empty() && name.find_last_of("\\/") + 1 != name.size()) {
    fuzz::check(file.find_first_of("\\/") == std::string::npos, "name with a separator", file);
    fuzz::check(name.ends_with(file), "name is not the last part", file);
  } else {
    fuzz::check(file.find_first_of("/?#") == std::string::npos, "URL name with a separator", file);
    fuzz::check(url.find(file) != std::string_view::npos, "URL name not from the URL", file);
  }

  // is_transfer_scheme: blind to ASCII case, needs "://".
  const bool transfer = is_transfer_scheme(url);
  fuzz::check(transfer == is_transfer_scheme(nm::base::ascii_upper(url)), "scheme case", url);
  if (transfer) fuzz::check(url.find("://") <= 5, "scheme too long", url);
  return 0;
}
