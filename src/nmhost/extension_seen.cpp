#include "nmhost/extension_seen.hpp"

#include <random>

#include "base/text.hpp"
#include "platform/clock.hpp"
#include "platform/fs.hpp"

namespace nm::host {

std::vector<ExtensionSeenEntry> parse_extension_seen(std::string_view text) {
  std::vector<ExtensionSeenEntry> entries;
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (nl != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (trim_unicode(line).empty()) continue;
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos) {
      entries.push_back({std::string(line), ""});
    } else {
      entries.push_back({std::string(line.substr(0, tab)), std::string(line.substr(tab + 1))});
    }
  }
  return entries;
}

std::string format_extension_seen(const std::vector<ExtensionSeenEntry>& entries) {
  std::string out;
  for (const auto& e : entries) out += e.browser + '\t' + e.version + '\n';
  return out;
}

// Replaces the file whole: the new content goes to a temporary file beside it
// that is then moved over the old one, so an interrupted write or a second
// host writing at the same time never leaves a half-written list. Should the
// move fail, the file is written in place.
static void replace_file(const std::filesystem::path& file, std::string_view content) {
  std::random_device random;
  auto temp = file;
  temp += ".tmp-" + std::to_string(random()) + "-" + std::to_string(os::monotonic_ns());
  if (os::write_file(temp, content) && os::move_replace(temp, file)) return;
  os::remove_file(temp);
  os::write_file(file, content);
}

void record_extension_seen(const std::filesystem::path& data_dir, std::string_view browser,
                           std::string_view version) {
  const auto file = data_dir / kExtensionSeenFile;
  auto text = os::read_file(file);
  const bool read = text.ok() && is_valid_utf8(*text);
  auto entries = read ? parse_extension_seen(*text) : std::vector<ExtensionSeenEntry>{};
  if (read) {
    if (browser.empty()) return;
    for (const auto& e : entries)
      if (e.browser == browser && e.version == version) return;
  }
  std::erase_if(entries, [&](const ExtensionSeenEntry& e) { return e.browser == browser; });
  entries.push_back({std::string(browser), std::string(version)});
  (void)os::make_dirs(data_dir);
  replace_file(file, format_extension_seen(entries));
}

}  // namespace nm::host
