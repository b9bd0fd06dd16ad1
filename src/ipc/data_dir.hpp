#pragma once
// Where the host and the application keep their shared files, and where the
// host itself is installed. Nothing is cached: every call looks again.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "base/result.hpp"

namespace nm::ipc {

namespace fs = std::filesystem;

inline constexpr const char* kDataDirVariable = "QTM_DATA_DIR";
inline constexpr const char* kProductFolder = "qartorvaneldownloadmanager";
inline constexpr const char* kLegacyFolder = "varquel";

// The data directory: $QTM_DATA_DIR (present but empty counts), else the
// portable `data` folder beside the executable, else the product folder in the
// roaming application data folder (moving the legacy folder there once).
std::optional<fs::path> data_dir();
// The portable-installation test alone: the writable `data` folder beside the
// executable.
std::optional<fs::path> portable_data_dir();

// The decisions, with the platform's answers passed in.

// The `data` folder beside the executable, whether or not it exists.
std::optional<fs::path> portable_candidate(const std::optional<fs::path>& exe);
std::optional<fs::path> portable_data_dir_for(const std::optional<fs::path>& exe);

enum class DataDirSource { none, variable, portable, roaming };
// Which rule decided the data directory, and the folder it gave.
struct DataDirChoice {
  DataDirSource source = DataDirSource::none;
  std::optional<fs::path> dir;
  std::optional<fs::path> legacy;  // roaming: the legacy folder beside it
};
// The rule without the legacy folder's move. The executable and the roaming
// folder are asked for only when the rule gets to them.
DataDirChoice choose_data_dir(const std::optional<std::string>& env_value,
                              const std::function<std::optional<fs::path>()>& exe,
                              const std::function<std::optional<fs::path>()>& roaming);
// The legacy folder that is still to be moved into the chosen one: the
// product folder does not exist and the legacy folder does.
std::optional<fs::path> pending_legacy(const DataDirChoice& choice);
// The chosen folder, after moving a pending legacy folder into it.
std::optional<fs::path> settled_data_dir(const DataDirChoice& choice);

// The folder of the running executable; the error is the system's text, or
// "no exe dir" for a path without a parent.
Result<fs::path> exe_dir();

}  // namespace nm::ipc
