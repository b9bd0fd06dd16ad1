#include "doctor/doctor.hpp"

#include <algorithm>

#include "base/text.hpp"
#include "host/describe.hpp"
#include "host/log.hpp"
#include "ipc/data_dir.hpp"
#include "os/fs.hpp"

namespace nm::doctor {

std::string_view verdict_word(Verdict v) {
  switch (v) {
    case Verdict::ok: return "ok";
    case Verdict::warning: return "warning";
    case Verdict::problem: return "problem";
  }
  return "problem";
}

void Report::add(Verdict v, std::string name, std::string explanation,
                 std::vector<std::string> details) {
  checks.push_back({v, std::move(name), std::move(explanation), std::move(details)});
}

size_t Report::count(Verdict v) const {
  return static_cast<size_t>(
      std::count_if(checks.begin(), checks.end(), [v](const Check& c) { return c.verdict == v; }));
}

std::string in_quotes(std::string_view s) {
  std::string out = "\"";
  out += s;
  out += '"';
  return out;
}

std::string shown(const fs::path& p) {
  return os::path_display(p);
}

// ----- The host program.

fs::path expected_host(const fs::path& doctor_exe) {
  fs::path host = doctor_exe.parent_path() / "nmhost";
  host += doctor_exe.extension();
  return host;
}

void check_host_program(const std::optional<fs::path>& host, Report& r) {
  if (!host) {
    r.add(Verdict::problem, "nmhost",
          "the doctor cannot tell where it runs from, so it cannot find the host beside it");
    return;
  }
  if (os::metadata_readable(*host) && !os::is_dir(*host)) {
    r.add(Verdict::ok, "nmhost", shown(*host));
    return;
  }
  r.add(Verdict::problem, "nmhost",
        shown(*host) +
            " is missing: the doctor checks the installation it lies in, and the host belongs "
            "beside it");
}

// ----- Data directory.

DataDirLocation locate_data_dir(const std::optional<std::string>& variable,
                                const std::optional<fs::path>& exe,
                                const std::optional<fs::path>& roaming) {
  const ipc::DataDirChoice choice = ipc::choose_data_dir(
      variable, [&] { return exe; }, [&] { return roaming; });
  DataDirLocation where{choice, ipc::pending_legacy(choice).has_value(), std::nullopt};
  if (where.source != DataDirSource::variable && where.source != DataDirSource::portable) {
    const auto beside = ipc::portable_candidate(exe);
    if (beside && os::is_dir(*beside)) where.unwritable_portable = beside;
  }
  return where;
}

std::optional<fs::path> files_dir(const DataDirLocation& where) {
  return where.legacy_pending ? where.legacy : where.dir;
}

static std::string_view source_word(DataDirSource s) {
  switch (s) {
    case DataDirSource::variable: return ipc::kDataDirVariable;
    case DataDirSource::portable: return "portable";
    case DataDirSource::roaming: return "roaming";
    case DataDirSource::none: break;
  }
  return "";
}

// Why the rule chose the folder, in words.
static std::string_view why_chosen(DataDirSource s) {
  switch (s) {
    case DataDirSource::variable: return "named by the environment variable QTM_DATA_DIR";
    case DataDirSource::portable: return "the portable data folder beside the program";
    case DataDirSource::roaming: return "in the roaming application data folder";
    case DataDirSource::none: break;
  }
  return "";
}

static void check_pending_move(const DataDirLocation& where, const std::string& why,
                               std::vector<std::string> details, Report& r) {
  const fs::path& dir = *where.dir;
  r.add(Verdict::ok, "data directory",
        shown(dir) + " (" + why +
            "); it does not exist yet and is made by moving the older folder named below",
        std::move(details));
  r.add(Verdict::warning, "legacy folder",
        shown(*where.legacy) + " from an older version is still waiting to be moved to " +
            shown(dir) +
            "; the host moves it when the browser next sends it a message. The files below are "
            "read from it");
}

// Whether the chosen folder is there and is a folder.
static void check_folder(const fs::path& dir, const std::string& why,
                         std::vector<std::string> details, Report& r) {
  const std::string name = "data directory";
  if (os::is_dir(dir)) {
    r.add(Verdict::ok, name, shown(dir) + " (" + why + ")", std::move(details));
  } else if (os::metadata_readable(dir)) {
    r.add(Verdict::problem, name,
          shown(dir) + " (" + why +
              ") is not a folder: the host can neither read its files there nor keep its own",
          std::move(details));
  } else {
    r.add(Verdict::warning, name,
          shown(dir) + " (" + why +
              ") does not exist yet: the application creates it when it first runs; until then "
              "every capture option is at its default",
          std::move(details));
  }
}

void check_data_dir(const DataDirLocation& where, Report& r) {
  const std::string name = "data directory";
  r.data_dir_source = std::string(source_word(where.source));
  if (!where.dir) {
    r.add(Verdict::problem, name,
          "there is none: QTM_DATA_DIR is not set, there is no portable data folder beside the "
          "program, and the system does not say where the roaming application data folder is. "
          "The host can neither read the capture options nor reach the application");
    return;
  }
  const fs::path& dir = *where.dir;
  r.data_dir = shown(dir);

  if (where.unwritable_portable)
    r.add(Verdict::warning, "portable folder",
          shown(*where.unwritable_portable) +
              " lies beside the program but cannot be written, so this copy is not run as a "
              "portable installation and the data directory is " +
              shown(dir));

  std::vector<std::string> details;
  if (where.source == DataDirSource::variable) {
    if (dir.empty()) {
      r.add(Verdict::warning, name,
            "QTM_DATA_DIR is set but empty, so the host looks for its files in whatever folder "
            "it is started in; name a folder or remove the variable");
      return;
    }
    details.push_back(
        "browsers start the host with their own environment, which may not hold the same "
        "QTM_DATA_DIR as this command line");
  }
  const std::string why(why_chosen(where.source));
  if (where.legacy_pending) {
    check_pending_move(where, why, std::move(details), r);
    return;
  }
  check_folder(dir, why, std::move(details), r);
  if (where.source == DataDirSource::roaming && where.legacy && os::is_dir(*where.legacy))
    r.add(Verdict::warning, "legacy folder",
          shown(*where.legacy) +
              " from an older version is still there but is no longer read; move anything you "
              "still need from it into " +
              shown(dir));
}

// ----- Files.

FileRead read_if_present(const fs::path& file) {
  FileRead out;
  auto bytes = os::read_file(file);
  if (!bytes && bytes.error_kind() == ErrorKind::not_found) return out;
  if (!bytes) {
    out.state = FileRead::State::unreadable;
    out.bytes = bytes.error();
    return out;
  }
  out.state = FileRead::State::read;
  out.bytes = std::move(bytes).value();
  return out;
}

bool has_bom(std::string_view bytes) {
  return bytes.substr(0, 3) == "\xEF\xBB\xBF";
}

void check_extension_seen(const fs::path& data_dir, Report& r) {
  const std::string name = host::kExtensionSeenFile;
  const auto file = read_if_present(data_dir / host::kExtensionSeenFile);
  if (file.state == FileRead::State::absent) {
    r.add(Verdict::warning, name,
          "not there: no browser has yet run the extension with this host (the host writes the "
          "file when it gets its first message)");
    return;
  }
  if (file.state == FileRead::State::unreadable) {
    r.add(Verdict::warning, name,
          "cannot be read (" + file.bytes + "); the host writes it again with its next message");
    return;
  }
  if (!base::is_valid_utf8(file.bytes)) {
    r.add(Verdict::warning, name,
          "is not valid UTF-8 text; the host writes it again with its next message");
    return;
  }
  r.extension_seen = host::parse_extension_seen(file.bytes);
  if (r.extension_seen.empty()) {
    r.add(Verdict::warning, name, "lists no browser yet");
    return;
  }
  std::vector<std::string> details;
  for (const auto& e : r.extension_seen) {
    const std::string who = e.browser.empty() ? "a browser the host does not recognise" : e.browser;
    const std::string what =
        e.version.empty() ? "an extension that gave no version"
                          : "extension " + host::sanitize_text(e.version, host::kMaxVersionChars);
    details.push_back(who + ": " + what);
  }
  const size_t n = r.extension_seen.size();
  r.add(Verdict::ok, name,
        std::to_string(n) + (n == 1 ? " browser" : " browsers") +
            " ran the extension with this host; the most recent comes last",
        std::move(details));
}

std::vector<std::string> last_lines(std::string_view text, size_t n) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  while (lines.size() < n) {
    const size_t nl = text.rfind('\n');
    std::string_view line = nl == std::string_view::npos ? text : text.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // Written by any host, old ones included: shown with nothing that could
    // move or reorder what the reader sees.
    lines.push_back(host::sanitize_text(line, line.size()));
    if (nl == std::string_view::npos) break;
    text = text.substr(0, nl);
  }
  std::reverse(lines.begin(), lines.end());
  return lines;
}

void check_log(const fs::path& data_dir, Report& r) {
  const fs::path path = host::log_file(data_dir);
  const auto file = read_if_present(path);
  if (file.state == FileRead::State::absent) {
    r.add(Verdict::ok, "log",
          "no log yet: the host writes a line to " + shown(path) +
              " when it leaves a download to the browser");
    return;
  }
  if (file.state == FileRead::State::unreadable) {
    r.add(Verdict::warning, "log", shown(path) + " cannot be read (" + file.bytes + ")");
    return;
  }
  r.log_tail = last_lines(file.bytes, kLogTailLines);
  const size_t n = r.log_tail.size();
  std::string what = n == 0              ? " is empty"
                     : n == 1            ? ", its only line:"
                     : n < kLogTailLines ? ", all " + std::to_string(n) + " lines:"
                                         : ", the last " + std::to_string(n) + " lines:";
  r.add(Verdict::ok, "log", shown(path) + what, r.log_tail);
}

}  // namespace nm::doctor
