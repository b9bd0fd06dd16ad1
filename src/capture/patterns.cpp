#include "capture/patterns.hpp"

#include "base/text.hpp"

namespace nm::capture {

namespace {

// What follows the first "://", or the whole text.
std::string_view after_scheme(std::string_view s) {
  const size_t p = s.find("://");
  return p == std::string_view::npos ? s : s.substr(p + 3);
}

}  // namespace

std::vector<std::string> split_words(std::string_view text) {
  std::vector<std::string> words;
  size_t start = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t at = i;
    if (base::is_unicode_space(base::next_code_point(text, i))) {
      if (at > start) words.emplace_back(text.substr(start, at - start));
      start = i;
    }
  }
  if (start < text.size()) words.emplace_back(text.substr(start));
  return words;
}

std::string host_of(std::string_view url) {
  std::string_view authority = after_scheme(url);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  if (const size_t at = authority.rfind('@'); at != std::string_view::npos)
    authority = authority.substr(at + 1);
  std::string_view host;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']', 1);
    host =
        authority.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
  } else {
    host = authority.substr(0, authority.find(':'));
  }
  return base::ascii_lower(host);
}

bool site_matches(std::string_view host, std::string_view pattern) {
  const std::string lowered = base::ascii_lower(base::trim_unicode(pattern));
  std::string_view p = after_scheme(lowered);
  p = p.substr(0, p.find('/'));
  if (p.starts_with("*.")) {
    const std::string_view base = p.substr(2);
    if (host == base) return true;
    return host.size() > base.size() && host.ends_with(base) &&
           host[host.size() - base.size() - 1] == '.';
  }
  return !p.empty() && p == host;
}

bool address_matches(std::string_view url, std::string_view pattern) {
  const std::string p = base::ascii_lower(base::trim_unicode(pattern));
  if (p.empty()) return false;
  const std::string lowered_url = base::ascii_lower(url);
  const std::string_view subject = p.find("://") != std::string::npos
                                       ? std::string_view(lowered_url)
                                       : after_scheme(lowered_url);

  const size_t first_star = p.find('*');
  if (first_star == std::string::npos) return p == subject;

  // Leading piece anchored at the start, trailing piece at the end, middle
  // pieces at their first occurrence in between.
  const std::string_view pat(p);
  const std::string_view head = pat.substr(0, first_star);
  const size_t last_star = pat.rfind('*');
  const std::string_view tail = pat.substr(last_star + 1);
  if (!subject.starts_with(head)) return false;
  std::string_view rest = subject.substr(head.size());
  // The middle pieces, each followed by its star: "a*b*" (empty for one star).
  std::string_view middle = pat.substr(first_star + 1, last_star - first_star);
  while (!middle.empty()) {
    const size_t star = middle.find('*');
    const std::string_view piece = middle.substr(0, star);
    middle.remove_prefix(star + 1);
    if (piece.empty()) continue;
    const size_t found = rest.find(piece);
    if (found == std::string_view::npos) return false;
    rest.remove_prefix(found + piece.size());
  }
  return rest.ends_with(tail);
}

bool type_matches(std::string_view extension, std::string_view word) {
  const std::string ext = base::ascii_upper(extension);
  const std::string w = base::ascii_upper(word);
  if (!w.empty() && w.back() == '*')
    return std::string_view(ext).starts_with(std::string_view(w).substr(0, w.size() - 1));
  return ext == w;
}

std::string_view last_name_part(std::string_view filename) {
  const size_t sep = filename.find_last_of("\\/");
  return sep == std::string_view::npos ? filename : filename.substr(sep + 1);
}

std::string file_name_of(std::optional<std::string_view> filename, std::string_view url) {
  if (filename) {
    const std::string_view name = last_name_part(*filename);
    if (!name.empty()) return std::string(name);
  }
  const std::string_view path = url.substr(0, url.find_first_of("?#"));
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool is_transfer_scheme(std::string_view url) {
  const size_t p = url.find("://");
  if (p == std::string_view::npos) return false;
  const std::string_view scheme = url.substr(0, p);
  for (const char* s : {"http", "https", "ftp", "ftps", "ftpes"})
    if (base::iequals_ascii(scheme, s)) return true;
  return false;
}

}  // namespace nm::capture
