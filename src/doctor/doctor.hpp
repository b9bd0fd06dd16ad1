#pragma once
// nmhost-doctor: looks at the host's installation, its data directory and
// its registration, and says in plain English what it finds. Every check
// only reads; nothing is changed, moved or repaired.
//
// The checks take their inputs (folders, registry readings, probes) as
// arguments, so that tests can prepare them; `run_all` gathers the real ones.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"
#include "capture/settings.hpp"
#include "host/extension_seen.hpp"
#include "host/manifest.hpp"
#include "ipc/data_dir.hpp"
#include "os/registry.hpp"

namespace nm::doctor {

namespace fs = std::filesystem;

inline constexpr std::string_view kProgramName = "nmhost-doctor";

enum class Verdict { ok, warning, problem };
// "ok", "warning", "problem".
std::string_view verdict_word(Verdict v);

// A name or value in double quotes, as it is.
std::string in_quotes(std::string_view s);
// A path as the doctor shows it.
std::string shown(const fs::path& p);

struct Check {
  Verdict verdict = Verdict::ok;
  std::string name;                  // short: "data directory", "Chrome in HKCU"
  std::string explanation;           // one or more plain sentences
  std::vector<std::string> details;  // further lines shown under the check
};

// Everything the doctor found: the checks in order, and the facts behind
// them that a support ticket wants in machine-readable form.
struct Report {
  std::vector<Check> checks;
  std::optional<std::string> data_dir;
  std::string data_dir_source;    // "QTM_DATA_DIR", "portable", "roaming" or ""
  capture::CaptureRules options;  // the capture options in effect
  std::vector<host::ExtensionSeenEntry> extension_seen;
  std::vector<std::string> log_tail;

  void add(Verdict v, std::string name, std::string explanation,
           std::vector<std::string> details = {});
  size_t count(Verdict v) const;
};

// ----- The host program beside the doctor.

// This installation's host: "nmhost" with the doctor's own extension, in the
// doctor's folder.
fs::path expected_host(const fs::path& doctor_exe);
void check_host_program(const std::optional<fs::path>& host, Report& r);

// ----- Data directory.

using ipc::DataDirSource;

// Which folder the host uses and why, decided by the host's own rule but
// without its side effect: the legacy folder is reported, not moved. The
// portable test makes the host's own probe (an empty file created and
// removed again).
struct DataDirLocation : ipc::DataDirChoice {
  // The legacy folder exists and the product folder does not: the host's
  // next look moves it, and its files are the ones the host will read.
  bool legacy_pending = false;
  // A `data` folder beside the program that failed the write test.
  std::optional<fs::path> unwritable_portable;
};

// Where the host's files are (or will be, once a pending move is done).
std::optional<fs::path> files_dir(const DataDirLocation& where);

DataDirLocation locate_data_dir(const std::optional<std::string>& variable,
                                const std::optional<fs::path>& exe,
                                const std::optional<fs::path>& roaming);
void check_data_dir(const DataDirLocation& where, Report& r);

// ----- Files in the data directory.

// A file that may be absent: absence is not an error here.
struct FileRead {
  enum class State { absent, unreadable, read };
  State state = State::absent;
  std::string bytes;  // read: the content; unreadable: the system's text
};
FileRead read_if_present(const fs::path& file);

// Whether the bytes begin with a UTF-8 byte-order mark.
bool has_bom(std::string_view bytes);

// downloads.json: absent, valid or discarded (with the reader's error), then
// the options in effect, which go into the report.
void check_settings(const fs::path& data_dir, Report& r);
// The options as "field = value" lines for people.
std::vector<std::string> describe_options(const capture::CaptureRules& rules);

// How the doctor reaches out to the application; tests put in their own.
struct AppProbe {
  // Connects to 127.0.0.1 at the port and closes again without sending
  // anything; the error is the system's text.
  std::function<Status(uint16_t port)> connect;
  std::function<std::optional<bool>(uint32_t pid)> process_exists;
};
// The real thing, with the host's connect time-out.
AppProbe system_probe();

// ipc.json: absent, malformed or valid; then whether something listens on
// its port and whether its process runs.
void check_endpoint(const fs::path& data_dir, const AppProbe& probe, Report& r);

void check_extension_seen(const fs::path& data_dir, Report& r);

// The last n lines of a text (a final line feed ends the last line; a
// carriage return before it goes too). Invalid UTF-8 is replaced.
std::vector<std::string> last_lines(std::string_view text, size_t n);
inline constexpr size_t kLogTailLines = 20;
void check_log(const fs::path& data_dir, Report& r);

// ----- Registration (Windows).

// What a browser family's key holds in one hive and one registry view.
struct RegistryReading {
  size_t key = 0;  // index into host::kHostKeys
  os::Hive hive = os::Hive::current_user;
  os::RegistryView view = os::RegistryView::bits64;
  Result<os::RegistryDefault> value = os::RegistryDefault{};
};

// hive name + "\" + key + "\" + host name.
std::string full_key(os::Hive hive, size_t key);

// The default values of every host key in both hives and both views, in
// the order browsers look: HKCU 32-bit, HKCU 64-bit, HKLM 32-bit, HKLM 64-bit.
std::vector<RegistryReading> read_registration();

// What is wrong with a manifest file of the kind for this installation's
// host; empty when nothing is.
std::vector<std::string> manifest_faults(host::ManifestKind kind, const fs::path& manifest,
                                         const std::optional<fs::path>& host);

struct RegistrationInputs {
  bool registry = true;   // false: this platform has none
  bool portable = false;  // a portable copy is never registered
  std::optional<fs::path> host;
  std::vector<RegistryReading> readings;
};
void check_registration(const RegistrationInputs& in, Report& r);

// ----- The whole run.

// Gathers the real inputs and runs every check.
Report run_all();

// One line per check ("ok", "warning" or "problem", the name, the
// explanation), details indented under it, a summary at the end.
std::string render_text(const Report& r);
// One JSON object with a final line feed.
std::string render_json(const Report& r);
// 0 when no check found a problem, 1 otherwise.
int exit_code(const Report& r);

}  // namespace nm::doctor
