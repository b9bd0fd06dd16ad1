#include "host/registration.hpp"

#include "base/text.hpp"
#include "host/extension_ids.hpp"
#include "host/manifest.hpp"
#include "ipc/data_dir.hpp"
#include "os/error.hpp"
#include "os/fs.hpp"
#include "os/process.hpp"
#include "os/registry.hpp"

namespace nm::host {

namespace {

// The folders of a PATH value. Windows drops double quotes, which may
// group a ';' into a folder name. Empty entries would mean the current
// folder, which is no place to pick a system tool from.
std::vector<std::string> split_path_value(std::string_view value, os::PathListRules rules) {
  const bool windows = rules == os::PathListRules::windows;
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false;
  for (const char c : value) {
    if (windows && c == '"') {
      quoted = !quoted;
    } else if (c == (windows ? ';' : ':') && !quoted) {
      if (!cur.empty()) out.push_back(std::move(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(std::move(cur));
  return out;
}

Result<fs::path> find_reg() {
  std::optional<fs::path> dir;
  if (auto d = ipc::exe_dir()) dir = std::move(d).value();
  const auto path_value = os::get_env("PATH");
  for (const auto& candidate :
       reg_candidates(os::registry_tool_file(), dir, os::system_folder(), os::windows_folder(),
                      path_value ? *path_value : std::string(), os::path_list_rules())) {
    if (os::metadata_readable(candidate) && !os::is_dir(candidate)) return candidate;
  }
  return os::not_found_error();
}

}  // namespace

std::string host_key(os::Hive hive, std::string_view key) {
  return std::string(os::hive_name(hive)) + "\\" + std::string(key) + "\\" + std::string(kHostName);
}

std::string extension_key(os::Hive hive) {
  return std::string(os::hive_name(hive)) + "\\" + std::string(kExtensionsKey) + "\\" +
         std::string(kQarStoreIdPending);
}

std::vector<std::string> reg_add_args(std::string_view key, std::string_view manifest) {
  return {"add", std::string(key), "/ve", "/t", "REG_SZ", "/d", std::string(manifest), "/f"};
}

std::vector<std::vector<std::string>> unregister_commands(os::Hive hive) {
  std::vector<std::vector<std::string>> cmds;
  for (const auto key : kHostKeys) cmds.push_back({"delete", host_key(hive, key), "/f"});
  cmds.push_back({"delete", extension_key(hive), "/f", "/reg:32"});
  return cmds;
}

std::string registered_line(std::string_view chromium_manifest, std::string_view firefox_manifest) {
  return "registered " + std::string(kHostName) +
         " for Chrome, Edge, Brave, Helium and the other Chromium browsers (" +
         std::string(chromium_manifest) + "), and for Firefox, Zen and its other forks (" +
         std::string(firefox_manifest) + ")\n";
}

std::string unregistered_line() {
  return "unregistered " + std::string(kHostName) + "\n";
}

std::vector<fs::path> reg_candidates(std::string_view file_name,
                                     const std::optional<fs::path>& exe_dir,
                                     const std::optional<fs::path>& system_folder,
                                     const std::optional<fs::path>& windows_folder,
                                     std::string_view path_value, os::PathListRules rules) {
  const fs::path file = os::path_from_utf8(file_name);
  std::vector<fs::path> out;
  for (const auto* dir : {&exe_dir, &system_folder, &windows_folder})
    if (*dir) out.push_back(**dir / file);
  for (const auto& dir : split_path_value(path_value, rules))
    out.push_back(os::path_from_utf8(dir) / file);
  return out;
}

Status run_reg(const std::vector<std::string>& args) {
  const auto program = find_reg();
  if (!program) return program.failure();
  const auto run = os::run_captured(*program, args);
  if (!run) return run.failure();
  if (run->exit_code == 0) return {};
  const std::string err = base::utf8_lossy(run->err);
  return Error{std::string(base::trim_unicode(err))};
}

Result<std::string> register_host(os::Hive hive) {
  if (ipc::portable_data_dir()) return Error{std::string(kPortableRefusal)};
  const auto dir = ipc::exe_dir();
  if (!dir) return dir.failure();
  const auto exe = os::exe_path();
  if (!exe) return exe.failure();

  // Each manifest is written before the keys that point at it.
  const auto install = [&](ManifestKind kind, std::string_view name) -> Result<std::string> {
    const fs::path file = *dir / os::path_from_utf8(name);
    const auto text = manifest_for(kind, *exe);
    if (!text) return text.failure();
    if (Status st = write_manifest(file, *text); !st) return st.failure();
    const std::string shown = os::path_display(file);
    for (const BrowserKey& browser : kBrowserKeys) {
      if (browser.manifest != kind) continue;
      if (Status st = run_reg(reg_add_args(host_key(hive, browser.key), shown)); !st)
        return st.failure();
    }
    return shown;
  };
  const auto chromium = install(ManifestKind::chromium, kChromiumManifestName);
  if (!chromium) return chromium;
  const auto firefox = install(ManifestKind::firefox, kFirefoxManifestName);
  if (!firefox) return firefox;
  return registered_line(*chromium, *firefox);
}

Result<std::string> unregister_host(os::Hive hive) {
  // Nothing may be registered at all, so every failure here is expected.
  for (const auto& cmd : unregister_commands(hive)) (void)run_reg(cmd);
  const auto dir = ipc::exe_dir();
  if (!dir) return dir.failure();
  (void)os::remove_file(*dir / os::path_from_utf8(kChromiumManifestName));
  (void)os::remove_file(*dir / os::path_from_utf8(kFirefoxManifestName));
  return unregistered_line();
}

}  // namespace nm::host
