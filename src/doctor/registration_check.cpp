// Whether browsers find this installation's host: the native messaging keys
// in both hives and both registry views, and the manifests they name.
#include <array>

#include "base/text.hpp"
#include "doctor/doctor.hpp"
#include "host/extension_ids.hpp"
#include "host/manifest.hpp"
#include "host/registration.hpp"
#include "json/reader.hpp"
#include "os/fs.hpp"
#include "os/lookup.hpp"

namespace nm::doctor {

namespace {

using State = os::RegistryDefault::State;

struct Manifest {
  std::optional<std::string> name, path, type;
  std::vector<std::string> origins, extensions;
  bool has_origins = false, has_extensions = false;
};

enum Field : size_t { kName, kPath, kType, kOrigins, kExtensions };
// The description is not checked, so it is skipped like any other key.
constexpr std::array<std::string_view, 5> kFields = {
    host::kManifestName, host::kManifestPath, host::kManifestType, host::kManifestAllowedOrigins,
    host::kManifestAllowedExtensions};
constexpr auto kKeys = json::keys_by_name(kFields);
constexpr json::RecordLayout kLayout{"a host manifest", kFields, kKeys};

Result<Manifest> parse_manifest(std::string_view bytes) {
  json::Cursor c(bytes);
  if (c.peek_non_object()) return Error{"it is not a JSON object"};
  Manifest m;
  const bool ok = c.read_record(kLayout, [&](json::Cursor& f, size_t field) {
    switch (field) {
      case kName: return f.read_opt_string(m.name);
      case kPath: return f.read_opt_string(m.path);
      case kType: return f.read_opt_string(m.type);
      case kOrigins: m.has_origins = true; return f.read_strings(m.origins);
      case kExtensions: m.has_extensions = true; return f.read_strings(m.extensions);
    }
    return f.skip();
  });
  if (!ok || !c.finish()) return c.failure();
  return m;
}

bool contains(const std::vector<std::string>& list, std::string_view item) {
  for (const auto& s : list)
    if (s == item) return true;
  return false;
}

}  // namespace

std::string full_key(os::Hive hive, size_t key) {
  return host::host_key(hive, host::kHostKeys.at(key));
}

std::vector<RegistryReading> read_registration() {
  std::vector<RegistryReading> out;
  for (size_t key = 0; key < host::kHostKeys.size(); ++key) {
    const std::string subkey =
        std::string(host::kHostKeys[key]) + "\\" + std::string(host::kHostName);
    for (const os::Hive hive : {os::Hive::current_user, os::Hive::local_machine})
      for (const os::RegistryView view : {os::RegistryView::bits32, os::RegistryView::bits64})
        out.push_back({key, hive, view, os::read_default_value(hive, view, subkey)});
  }
  return out;
}

std::vector<std::string> manifest_faults(host::ManifestKind kind, const fs::path& manifest,
                                         const std::optional<fs::path>& host) {
  const std::string file = shown(manifest);
  const FileRead read = read_if_present(manifest);
  if (read.state == FileRead::State::absent) return {"the manifest " + file + " does not exist"};
  if (read.state == FileRead::State::unreadable)
    return {"the manifest " + file + " cannot be read (" + read.bytes + ")"};
  auto parsed = parse_manifest(read.bytes);
  if (!parsed) {
    std::string fault = "the manifest " + file + " is not valid: " + parsed.error();
    if (has_bom(read.bytes)) fault += " (the file begins with a UTF-8 byte-order mark)";
    return {fault};
  }
  const Manifest& m = *parsed;
  std::vector<std::string> faults;
  if (m.name != host::kHostName)
    faults.push_back("the manifest " + file + " gives the name " +
                     (m.name ? in_quotes(*m.name) : std::string("(none)")) + " instead of " +
                     in_quotes(host::kHostName));
  if (m.type != host::kManifestStdio)
    faults.push_back("the manifest " + file + " gives the type " +
                     (m.type ? in_quotes(*m.type) : std::string("(none)")) + " instead of " +
                     in_quotes(host::kManifestStdio));
  const std::string path_key = in_quotes(host::kManifestPath);
  if (!m.path || m.path->empty()) {
    faults.push_back("the manifest " + file + " gives no " + path_key + " of the host");
  } else {
    // Browsers read a relative path from the manifest's folder.
    fs::path target = os::path_from_utf8(*m.path);
    if (target.is_relative()) target = manifest.parent_path() / target;
    if (!os::metadata_readable(target)) {
      faults.push_back("the manifest's " + path_key + " " + *m.path + " does not exist");
    } else if (host && os::same_file(target, *host) != true) {
      faults.push_back("the manifest's " + path_key + " " + *m.path +
                       " is not this installation's host " + shown(*host));
    }
  }
  if (kind == host::ManifestKind::chromium) {
    const std::string origin = host::chrome_origin(host::kChromeStoreId);
    if (!contains(m.origins, origin))
      faults.push_back("the manifest " + file + (m.has_origins ? " does not list" : " lacks") +
                       " the extension's origin " + origin + " in " +
                       in_quotes(host::kManifestAllowedOrigins));
  } else if (!contains(m.extensions, host::kFirefoxAddonId)) {
    faults.push_back("the manifest " + file + (m.has_extensions ? " does not list" : " lacks") +
                     " the add-on id " + std::string(host::kFirefoxAddonId) + " in " +
                     in_quotes(host::kManifestAllowedExtensions));
  }
  return faults;
}

namespace {

// One place a browser may look: a hive, seen through one view or, when
// both views agree, through either.
struct Place {
  os::Hive hive;
  std::optional<os::RegistryView> view;  // none: both views agree
  const Result<os::RegistryDefault>* value;
};

bool same_reading(const Result<os::RegistryDefault>& a, const Result<os::RegistryDefault>& b) {
  if (a.ok() != b.ok()) return false;
  if (!a.ok()) return a.error() == b.error();
  return a->state == b->state && a->text == b->text && a->type == b->type;
}

std::string place_name(size_t key, const Place& p) {
  std::string name =
      std::string(host::kBrowserKeys[key].family) + " in " + std::string(os::hive_name(p.hive));
  if (p.view) name += *p.view == os::RegistryView::bits32 ? " (32-bit view)" : " (64-bit view)";
  return name;
}

std::string register_hint(os::Hive hive) {
  return hive == os::Hive::current_user ? "run nmhost.exe --register"
                                        : "run nmhost.exe --register --all-users as administrator";
}

// The places of one key in the order browsers look: HKCU before HKLM and, in
// each, the 32-bit view first; both views as one place when they agree.
std::vector<Place> lookup_order(const std::vector<const RegistryReading*>& readings) {
  std::vector<Place> places;
  for (const os::Hive hive : {os::Hive::current_user, os::Hive::local_machine}) {
    const RegistryReading* v32 = nullptr;
    const RegistryReading* v64 = nullptr;
    for (const auto* reading : readings) {
      if (reading->hive != hive) continue;
      (reading->view == os::RegistryView::bits32 ? v32 : v64) = reading;
    }
    if (v32 && v64 && same_reading(v32->value, v64->value)) {
      places.push_back({hive, std::nullopt, &v32->value});
    } else {
      if (v32) places.push_back({hive, os::RegistryView::bits32, &v32->value});
      if (v64) places.push_back({hive, os::RegistryView::bits64, &v64->value});
    }
  }
  return places;
}

// The place browsers use: the first with a text value; places.size() when
// there is none.
size_t place_in_use(const std::vector<Place>& places) {
  for (size_t i = 0; i < places.size(); ++i)
    if (places[i].value->ok() && places[i].value->value().state == State::text) return i;
  return places.size();
}

// The verdict on a place whose value names a manifest.
void check_named_manifest(size_t key, const Place& p, bool in_use,
                          const std::optional<fs::path>& host, Report& r) {
  const std::string name = place_name(key, p);
  const std::string where = full_key(p.hive, key);
  const std::string family(host::kBrowserKeys[key].family);
  const std::string& text_value = p.value->value().text;
  const auto faults =
      manifest_faults(host::kBrowserKeys[key].manifest, os::path_from_utf8(text_value), host);
  if (faults.empty()) {
    r.add(Verdict::ok, name,
          where + " names " + text_value +
              (in_use ? ", through which " + family + " starts "
                      : ", which would let " + family + " start ") +
              (host ? shown(*host) : std::string("the host")) +
              (in_use ? "" : " (browsers use the entry above)"));
    return;
  }
  std::string text = where + " names " + text_value + ", but ";
  for (size_t f = 0; f < faults.size(); ++f) text += (f ? "; " : "") + faults[f];
  text += "; " + register_hint(p.hive) + " to write it afresh";
  if (!in_use)
    text += ". Browsers use the entry above instead, but this one takes over if that one goes";
  r.add(in_use ? Verdict::problem : Verdict::warning, name, text);
}

// The verdict on one place; false when the key is not there.
bool check_place(size_t key, const Place& p, bool in_use, bool any_in_use,
                 const std::optional<fs::path>& host, Report& r) {
  const std::string name = place_name(key, p);
  const std::string where = full_key(p.hive, key);
  if (!p.value->ok()) {
    r.add(Verdict::warning, name, where + " cannot be read (" + p.value->error() + ")");
    return true;
  }
  const os::RegistryDefault& v = p.value->value();
  if (v.state == State::no_key) return false;
  // Browsers skip a key without a text value and go on to the next place.
  const Verdict skipped = any_in_use ? Verdict::warning : Verdict::problem;
  const std::string passed_over =
      any_in_use ? ". Browsers pass over it and use the entry that names a manifest" : "";
  if (v.state == State::no_value) {
    r.add(
        skipped, name,
        where + " exists but its default value is not set; " + register_hint(p.hive) + passed_over);
  } else if (v.state == State::not_text) {
    r.add(skipped, name,
          where + " holds a value of registry type " + std::to_string(v.type) +
              " where a text (REG_SZ) naming the manifest belongs; " + register_hint(p.hive) +
              passed_over);
  } else {
    check_named_manifest(key, p, in_use, host, r);
  }
  return true;
}

void check_key(size_t key, const std::vector<const RegistryReading*>& readings,
               const std::optional<fs::path>& host, Report& r) {
  const std::vector<Place> places = lookup_order(readings);
  const size_t used = place_in_use(places);
  bool any = false;
  for (size_t i = 0; i < places.size(); ++i)
    any = check_place(key, places[i], i == used, used < places.size(), host, r) || any;
  if (!any) {
    const std::string family(host::kBrowserKeys[key].family);
    r.add(Verdict::problem, family,
          "not registered: neither " + full_key(os::Hive::current_user, key) + " nor " +
              full_key(os::Hive::local_machine, key) + " exists, so " + family +
              " cannot start the host; run nmhost.exe --register");
  }
}

}  // namespace

void check_registration(const RegistrationInputs& in, Report& r) {
  if (!in.registry) {
    r.add(Verdict::ok, "registration",
          "browser registration is checked on Windows only; this system has no registry");
    return;
  }
  if (in.portable) {
    r.add(Verdict::warning, "registration",
          "this is a portable installation (a writable data folder lies beside the program), and "
          "a portable copy is not registered with browsers: nmhost.exe --register refuses to. "
          "Install QAR Torvanel Download Manager to use browser integration");
    return;
  }
  for (size_t key = 0; key < host::kHostKeys.size(); ++key) {
    std::vector<const RegistryReading*> mine;
    for (const auto& reading : in.readings)
      if (reading.key == key) mine.push_back(&reading);
    check_key(key, mine, in.host, r);
  }
}

}  // namespace nm::doctor
