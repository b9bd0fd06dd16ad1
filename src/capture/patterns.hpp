#pragma once
// Taking URLs apart and matching the user's type, site and address patterns.
// Pure text operations on UTF-8; case is folded for ASCII letters only.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nm::capture {

// The words of a setting text, split at Unicode white space.
std::vector<std::string> split_words(std::string_view text);

// The host of a URL, ASCII lower-cased: no scheme, user info, port, path,
// query or fragment; an IPv6 literal loses its brackets. May be empty.
std::string host_of(std::string_view url);

// "*.example.com" matches example.com and any of its subdomains; any other
// pattern (scheme and path ignored) matches the host spelled exactly so.
bool site_matches(std::string_view host, std::string_view pattern);

// A pattern with "*" wildcards against the URL, ignoring ASCII case; without
// "://" in the pattern the URL's scheme is left out of the comparison.
bool address_matches(std::string_view url, std::string_view pattern);

// A file extension against one type word; a trailing "*" matches by prefix.
bool type_matches(std::string_view extension, std::string_view word);

// The last part of a file name the browser gives, after its last "\\" or
// "/" (empty when it ends in one).
std::string_view last_name_part(std::string_view filename);
// The file name of a download: the last part of "filename" when that is not
// empty, else the last path segment of the URL.
std::string file_name_of(std::optional<std::string_view> filename, std::string_view url);

// http, https, ftp, ftps or ftpes, in any ASCII case.
bool is_transfer_scheme(std::string_view url);

}  // namespace nm::capture
