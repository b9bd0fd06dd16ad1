#include "ipc/data_dir.hpp"

#include "os/fs.hpp"

namespace nm::ipc {

std::optional<fs::path> portable_candidate(const std::optional<fs::path>& exe) {
  if (!exe || !exe->has_parent_path()) return std::nullopt;
  return exe->parent_path() / "data";
}

std::optional<fs::path> portable_data_dir_for(const std::optional<fs::path>& exe) {
  const auto candidate = portable_candidate(exe);
  if (!candidate || !os::is_dir(*candidate)) return std::nullopt;
  // Write test: a read-only folder (say, under Program Files) is not portable.
  const fs::path probe = *candidate / ".write-test";
  const Status created = os::create_empty_file(probe);
  if (created) {
    (void)os::remove_file(probe);  // a probe left behind harms nobody
    return candidate;
  }
  // Held by someone who did not share it (another host probing at the same
  // moment, a virus scanner looking at the new file): someone writes here,
  // so the folder is writable, and every host must agree on it.
  if (created.error_kind() == ErrorKind::in_use) return candidate;
  return std::nullopt;
}

DataDirChoice choose_data_dir(const std::optional<std::string>& env_value,
                              const std::function<std::optional<fs::path>()>& exe,
                              const std::function<std::optional<fs::path>()>& roaming) {
  if (env_value) return {DataDirSource::variable, os::path_from_utf8(*env_value), std::nullopt};
  if (auto portable = portable_data_dir_for(exe()))
    return {DataDirSource::portable, std::move(portable), std::nullopt};
  const auto folder = roaming();
  if (!folder) return {};
  return {DataDirSource::roaming, *folder / kProductFolder, *folder / kLegacyFolder};
}

std::optional<fs::path> pending_legacy(const DataDirChoice& choice) {
  if (!choice.dir || !choice.legacy) return std::nullopt;
  if (os::metadata_readable(*choice.dir) || !os::is_dir(*choice.legacy)) return std::nullopt;
  return choice.legacy;
}

std::optional<fs::path> settled_data_dir(const DataDirChoice& choice) {
  // A move that fails is tried again by the next look.
  if (auto legacy = pending_legacy(choice)) (void)os::move_replace(*legacy, *choice.dir);
  return choice.dir;
}

static std::optional<fs::path> exe_or_none() {
  auto exe = os::exe_path();
  if (!exe) return std::nullopt;
  return std::move(exe).value();
}

std::optional<fs::path> portable_data_dir() {
  return portable_data_dir_for(exe_or_none());
}

std::optional<fs::path> data_dir() {
  // The variable's value is the folder as it is: a wide text that is no valid
  // UTF-16 still names the folder the application uses.
  if (auto env = os::get_env_path(kDataDirVariable)) return env;
  return settled_data_dir(choose_data_dir(std::nullopt, exe_or_none, os::roaming_app_data));
}

Result<fs::path> exe_dir() {
  auto exe = os::exe_path();
  if (!exe) return exe.failure();
  if (!exe->has_parent_path() || exe->parent_path() == *exe) return Error{"no exe dir"};
  return exe->parent_path();
}

}  // namespace nm::ipc
