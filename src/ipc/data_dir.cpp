#include "ipc/data_dir.hpp"

#include "platform/fs.hpp"

namespace nm::ipc {

std::optional<fs::path> portable_data_dir_for(const std::optional<fs::path>& exe) {
  if (!exe || !exe->has_parent_path()) return std::nullopt;
  const fs::path candidate = exe->parent_path() / "data";
  if (!os::is_dir(candidate)) return std::nullopt;
  // Write test: a read-only folder (say, under Program Files) is not portable.
  const fs::path probe = candidate / ".write-test";
  if (!os::create_empty_file(probe)) return std::nullopt;
  os::remove_file(probe);
  return candidate;
}

std::optional<fs::path> data_dir_from(const std::optional<std::string>& env_value,
                                      const std::optional<fs::path>& exe,
                                      const std::optional<fs::path>& roaming) {
  if (env_value) return os::path_from_utf8(*env_value);
  if (auto portable = portable_data_dir_for(exe)) return portable;
  if (!roaming) return std::nullopt;
  const fs::path product = *roaming / kProductFolder;
  const fs::path legacy = *roaming / kLegacyFolder;
  if (!os::metadata_readable(product) && os::is_dir(legacy)) os::move_replace(legacy, product);
  return product;
}

static std::optional<fs::path> exe_or_none() {
  auto exe = os::exe_path();
  if (!exe) return std::nullopt;
  return std::move(exe).value();
}

std::optional<fs::path> portable_data_dir() { return portable_data_dir_for(exe_or_none()); }

std::optional<fs::path> data_dir() {
  // The value is the folder as it is: a wide text that is no valid UTF-16
  // still names the folder the application uses.
  if (auto env = os::get_env_path(kDataDirVariable)) return env;
  // The roaming folder is asked for only when it is needed.
  if (auto portable = portable_data_dir()) return portable;
  return data_dir_from(std::nullopt, std::nullopt, os::roaming_app_data());
}

Result<fs::path> exe_dir() {
  auto exe = os::exe_path();
  if (!exe) return Error{exe.error()};
  if (!exe->has_parent_path() || exe->parent_path() == *exe) return Error{"no exe dir"};
  return exe->parent_path();
}

}  // namespace nm::ipc
