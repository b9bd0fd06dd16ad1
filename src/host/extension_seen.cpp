#include "host/extension_seen.hpp"

#include <optional>

#include "base/text.hpp"
#include "host/describe.hpp"
#include "os/clock.hpp"
#include "os/fs.hpp"

namespace nm::host {

std::vector<ExtensionSeenEntry> parse_extension_seen(std::string_view text) {
  std::vector<ExtensionSeenEntry> entries;
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (nl != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (base::trim_unicode(line).empty()) continue;
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

namespace {

// Waits are short: the lock is held for one read and one write, and a file
// refused for the moment is usually free again within milliseconds.
constexpr int kLockWaitMs = 1000;
constexpr int kRetryMs = 200;

bool before(int64_t deadline) {
  return os::monotonic_ns() < deadline;
}
int64_t after_ms(int ms) {
  return os::monotonic_ns() + int64_t{ms} * 1000000;
}

// A file refused for the moment is not a missing file: taken for one, it
// would be rewritten with this browser's line alone.
Result<std::string> read_list(const std::filesystem::path& file) {
  for (const int64_t deadline = after_ms(kRetryMs);; os::sleep_ms(1)) {
    auto text = os::read_file(file);
    if (text || text.error_kind() != ErrorKind::in_use || !before(deadline)) return text;
  }
}

// The list to write for this browser and version, or none when the file was
// read and already says so (or the browser has no name).
std::optional<std::vector<ExtensionSeenEntry>> update_of(const std::filesystem::path& file,
                                                         std::string_view browser,
                                                         std::string_view version) {
  auto text = read_list(file);
  const bool read = text.ok() && base::is_valid_utf8(*text);
  auto entries = read ? parse_extension_seen(*text) : std::vector<ExtensionSeenEntry>{};
  if (read) {
    if (browser.empty()) return std::nullopt;
    for (const auto& e : entries)
      if (e.browser == browser && e.version == version) return std::nullopt;
  }
  std::erase_if(entries, [&](const ExtensionSeenEntry& e) { return e.browser == browser; });
  entries.push_back({std::string(browser), std::string(version)});
  return entries;
}

}  // namespace

void record_extension_seen(const std::filesystem::path& data_dir, std::string_view browser,
                           std::string_view extension_version) {
  // The extension's text, made safe for a line of its own and kept short, so
  // that it can neither add lines to the file nor make every later message
  // read and rewrite a large one. Compared as recorded, so a repeated hello
  // writes nothing.
  const std::string version = sanitize_text(extension_version, kMaxVersionChars);
  const auto file = data_dir / kExtensionSeenFile;
  // Most messages change nothing, and finding that out needs no lock.
  if (!update_of(file, browser, version)) return;
  // Hosts of several browsers may run at once on one data directory. Each
  // reads, changes and writes the list under this lock, so that none writes
  // back a list read before another's change and drops that browser's line.
  // A lock that cannot be had in time is gone without; the update goes ahead.
  // A missing data folder is made first: without it there is no lock file,
  // and two hosts on a new folder would each write their own list.
  (void)os::make_dirs(data_dir);
  os::FileLock lock(data_dir / kExtensionSeenLockFile);
  for (const int64_t deadline = after_ms(kLockWaitMs);
       !lock.try_lock() && lock.is_open() && before(deadline);)
    os::sleep_ms(1);
  const auto entries = update_of(file, browser, version);
  if (!entries) return;
  // Replaced whole, so that an interrupted write never leaves half a list;
  // when even that fails for the moment, written in place, as best it can be.
  const std::string list = format_extension_seen(*entries);
  if (!os::replace_file(file, list, kRetryMs)) (void)os::write_file(file, list);
}

}  // namespace nm::host
