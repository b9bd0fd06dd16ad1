#include "host/describe.hpp"

#include "base/text.hpp"

namespace nm::host {

namespace {

// Characters that would break a line or reorder what a reader sees: C0, DEL
// and C1 controls, the line and paragraph separators, and the bidirectional
// controls (with which "invoice\u202Efdp.exe" reads as "invoiceexe.pdf").
bool is_unsafe_in_line(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::string sanitize_text(std::string_view text, size_t n) {
  std::string out;
  size_t count = 0;
  for (size_t i = 0; i < text.size() && count < n; ++count) {
    const char32_t cp = base::next_code_point(text, i);
    base::append_utf8(out, is_unsafe_in_line(cp) ? U' ' : cp);
  }
  return out;
}

std::string describe_download(std::string_view browser, std::string_view site,
                              std::string_view name, std::string_view explanation,
                              bool is_private) {
  const std::string who = browser.empty() ? "a browser" : std::string(browser);
  std::string what;
  if (is_private) {
    what = "a download from a private window";
  } else {
    const std::string n = sanitize_text(name, 200);
    const std::string s = sanitize_text(site, 200);
    const bool n_blank = base::trim_unicode(n).empty();
    const bool s_blank = base::trim_unicode(s).empty();
    if (n_blank && s_blank)
      what = "a download";
    else if (n_blank)
      what = "a download from " + s;
    else if (s_blank)
      what = n;
    else
      what = n + " from " + s;
  }
  return "browser integration: " + who + " keeps " + what + ": " + std::string(explanation);
}

}  // namespace nm::host
