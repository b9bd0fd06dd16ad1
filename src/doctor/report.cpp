// Gathering the real inputs, and writing the report as text or JSON.
#include "base/text.hpp"
#include "doctor/doctor.hpp"
#include "host/version.hpp"
#include "ipc/data_dir.hpp"
#include "json/writer.hpp"
#include "os/fs.hpp"

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
  std::string out = std::string(kProgramName) + " " + std::string(host::kHostVersion) +
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
void text(json::ObjectWriter& w, std::string_view k, std::string_view s) {
  w.text(k, base::utf8_lossy(s));
}

void strings(json::ObjectWriter& w, std::string_view k, const std::vector<std::string>& list) {
  std::vector<std::string> valid;
  valid.reserve(list.size());
  for (const auto& s : list) valid.push_back(base::utf8_lossy(s));
  w.texts(k, valid);
}

void optional_text(json::ObjectWriter& w, std::string_view k, const std::optional<std::string>& s) {
  if (s)
    text(w, k, *s);
  else
    w.null(k);
}

// An array of objects, each written by `one`.
template <class T, class F>
void objects(json::ObjectWriter& w, std::string_view k, const std::vector<T>& list, F one) {
  std::string& out = w.key(k);
  out += '[';
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) out += ',';
    json::ObjectWriter item(out);
    one(item, list[i]);
    item.end();
  }
  out += ']';
}

// One writer for each kind of option, as the settings file has it.
void option(json::ObjectWriter& w, std::string_view k, bool b) {
  w.flag(k, b);
}

void option(json::ObjectWriter& w, std::string_view k, const std::string& s) {
  text(w, k, s);
}

void option(json::ObjectWriter& w, std::string_view k, const std::vector<std::string>& list) {
  strings(w, k, list);
}

void option(json::ObjectWriter& w, std::string_view k, const capture::BrowserTicks& browsers) {
  std::string& out = w.key(k);
  out += '[';
  for (size_t i = 0; i < browsers.size(); ++i) {
    out += i ? ",[" : "[";
    json::append_string(out, base::utf8_lossy(browsers[i].first));
    out += browsers[i].second ? ",true]" : ",false]";
  }
  out += ']';
}

void option(json::ObjectWriter& w, std::string_view k, uint64_t n) {
  w.uint(k, n);
}

// The options in the form of the settings file's "settings" object.
void append_options(std::string& out, const capture::CaptureRules& rules) {
  json::ObjectWriter w(out);
  for (const auto& o : capture::kCaptureOptions)
    std::visit([&](auto field) { option(w, o.key, rules.*field); }, o.field);
  w.end();
}

void append_check(json::ObjectWriter& w, const Check& c) {
  text(w, "verdict", verdict_word(c.verdict));
  text(w, "name", c.name);
  text(w, "explanation", c.explanation);
  strings(w, "details", c.details);
}

void append_seen(json::ObjectWriter& w, const host::ExtensionSeenEntry& e) {
  text(w, "browser", e.browser);
  text(w, "version", e.version);
}

}  // namespace

std::string render_json(const Report& r) {
  std::string out;
  json::ObjectWriter w(out);
  text(w, "program", kProgramName);
  text(w, "version", host::kHostVersion);
  text(w, "verdict", verdict_word(worst(r)));
  w.uint("problems", r.count(Verdict::problem));
  w.uint("warnings", r.count(Verdict::warning));
  objects(w, "checks", r.checks, append_check);
  optional_text(w, "data_dir", r.data_dir);
  optional_text(
      w, "data_dir_source",
      r.data_dir_source.empty() ? std::nullopt : std::optional<std::string>(r.data_dir_source));
  append_options(w.key("options"), r.options);
  objects(w, "extension_seen", r.extension_seen, append_seen);
  strings(w, "log_tail", r.log_tail);
  w.end();
  out += '\n';
  return out;
}

int exit_code(const Report& r) {
  return r.count(Verdict::problem) ? 1 : 0;
}

}  // namespace nm::doctor
