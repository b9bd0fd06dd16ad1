#pragma once
// Log texts for downloads left to the browser.
#include <string>
#include <string_view>

namespace nm::host {

// At most n code points; control characters (C0, DEL and C1), the line and
// paragraph separators and the bidirectional controls as spaces, so that
// outside text can neither add a line nor reorder one. Invalid UTF-8 comes
// out as U+FFFD.
std::string sanitize_text(std::string_view text, size_t n);

// "browser integration: <who> keeps <what>: <explanation>".
std::string describe_download(std::string_view browser, std::string_view site,
                              std::string_view name, std::string_view explanation, bool is_private);

}  // namespace nm::host
