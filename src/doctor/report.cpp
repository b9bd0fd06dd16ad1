// Gathering the real inputs, and writing the report as text or JSON.
#include "base/text.hpp"
#include "doctor/doctor.hpp"
#include "ipc/data_dir.hpp"
#include "json/writer.hpp"
#include "nmhost/version.hpp"
#include "platform/fs.hpp"

namespace nm::doctor {

Report run_all() {
  Report r;
  std::optional<fs::path> exe;
  if (auto p = os::exe_path()) exe = std::move(p).value();
  const std::optional<fs::path> host = exe ? std::optional(expected_host(*exe)) : std::nullopt;
  check_host_program(host, r);

  const auto where =
      locate_data_dir(os::get_env(ipc::kDataDirVariable), exe, os::roaming_app_data());
  check_data_dir(where, r);
  // Without a data directory the host uses the default options and cannot
  // reach the application; the data directory check has said so.
  const auto dir = files_dir(where);
  if (dir) {
    check_settings(*dir, r);
    check_endpoint(*dir, system_probe(), r);
  }

  RegistrationInputs in;
  in.registry = os::registry_available();
  in.portable = where.source == DataDirSource::portable ||
                (where.source == DataDirSource::variable && ipc::portable_data_dir_for(exe));
  in.host = host;
  if (in.registry && !in.portable) in.readings = read_registration();
  check_registration(in, r);

  if (dir) {
    check_extension_seen(*dir, r);
    check_log(*dir, r);
  }
  return r;
}

static Verdict worst(const Report& r) {
  if (r.count(Verdict::problem)) return Verdict::problem;
  if (r.count(Verdict::warning)) return Verdict::warning;
  return Verdict::ok;
}

static std::string counted(size_t n, std::string_view word) {
  return (n == 0 ? std::string("no") : std::to_string(n)) + " " + std::string(word) +
         (n == 1 ? "" : "s");
}

std::string render_text(const Report& r) {
  std::string out = std::string(kProgramName) + " " + std::string(host::HOST_VERSION) +
                    ": how QAR Torvanel Download Manager's browser integration is set up "
                    "(nothing is changed)\n\n";
  constexpr size_t kColumn = 9;  // "warning" and two spaces
  for (const Check& c : r.checks) {
    const std::string_view word = verdict_word(c.verdict);
    out += word;
    out.append(kColumn - word.size(), ' ');
    out += c.name;
    out += ": ";
    out += c.explanation;
    out += '\n';
    for (const auto& d : c.details) {
      out.append(kColumn + 2, ' ');
      out += d;
      out += '\n';
    }
  }
  out += '\n';
  out += counted(r.count(Verdict::problem), "problem");
  out += ", ";
  out += counted(r.count(Verdict::warning), "warning");
  out += ".\n";
  return out;
}

namespace {

// Every text goes out as valid UTF-8, whatever a file or key held.
void text(std::string& out, std::string_view s) {
  json::append_string(out, utf8_lossy(s));
}

void key(std::string& out, std::string_view k) {
  if (out.back() != '{') out += ',';
  json::append_string(out, k);
  out += ':';
}

void strings(std::string& out, const std::vector<std::string>& list) {
  out += '[';
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) out += ',';
    text(out, list[i]);
  }
  out += ']';
}

// The options in the form of the settings file's "settings" object.
void append_options(std::string& out, const capture::CaptureRules& o) {
  out += '{';
  key(out, "advanced_integration");
  out += o.advanced_integration ? "true" : "false";
  key(out, "browsers");
  out += '[';
  for (size_t i = 0; i < o.browsers.size(); ++i) {
    out += i ? ",[" : "[";
    text(out, o.browsers[i].first);
    out += o.browsers[i].second ? ",true]" : ",false]";
  }
  out += ']';
  key(out, "auto_types");
  text(out, o.auto_types);
  key(out, "excluded_sites");
  text(out, o.excluded_sites);
  key(out, "excluded_addresses");
  strings(out, o.excluded_addresses);
  key(out, "video_panel");
  out += o.video_panel ? "true" : "false";
  key(out, "video_panel_sites");
  text(out, o.video_panel_sites);
  key(out, "capture_opened");
  out += o.capture_opened ? "true" : "false";
  key(out, "capture_min_kb");
  json::append_uint(out, o.capture_min_kb);
  out += '}';
}

}  // namespace

std::string render_json(const Report& r) {
  std::string out = "{";
  key(out, "program");
  text(out, kProgramName);
  key(out, "version");
  text(out, host::HOST_VERSION);
  key(out, "verdict");
  text(out, verdict_word(worst(r)));
  key(out, "problems");
  json::append_uint(out, r.count(Verdict::problem));
  key(out, "warnings");
  json::append_uint(out, r.count(Verdict::warning));
  key(out, "checks");
  out += '[';
  for (size_t i = 0; i < r.checks.size(); ++i) {
    const Check& c = r.checks[i];
    out += i ? ",{" : "{";
    key(out, "verdict");
    text(out, verdict_word(c.verdict));
    key(out, "name");
    text(out, c.name);
    key(out, "explanation");
    text(out, c.explanation);
    key(out, "details");
    strings(out, c.details);
    out += '}';
  }
  out += ']';
  key(out, "data_dir");
  if (r.data_dir)
    text(out, *r.data_dir);
  else
    out += "null";
  key(out, "data_dir_source");
  if (r.data_dir_source.empty())
    out += "null";
  else
    text(out, r.data_dir_source);
  key(out, "options");
  append_options(out, r.options);
  key(out, "extension_seen");
  out += '[';
  for (size_t i = 0; i < r.extension_seen.size(); ++i) {
    out += i ? ",{" : "{";
    key(out, "browser");
    text(out, r.extension_seen[i].browser);
    key(out, "version");
    text(out, r.extension_seen[i].version);
    out += '}';
  }
  out += ']';
  key(out, "log_tail");
  strings(out, r.log_tail);
  out += "}\n";
  return out;
}

int exit_code(const Report& r) {
  return r.count(Verdict::problem) ? 1 : 0;
}

}  // namespace nm::doctor
