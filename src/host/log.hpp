#pragma once
// The host's log: one time-stamped line per event in <data dir>/logs/qtm.log.
// Logging is best effort; nothing here reports a failure.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "os/clock.hpp"

namespace nm::host {

inline constexpr std::string_view kLogPrefix = "  INFO nmhost qtm_nmhost: ";

// "2025-03-07T14:05:09.042517Z": UTC, whole microseconds (the rest dropped).
std::string format_log_time(os::UnixTime t);
// The whole line: time stamp, prefix, the message unchanged, line feed.
std::string log_text(os::UnixTime t, std::string_view message);

// <data dir>/logs/qtm.log.
std::filesystem::path log_file(const std::filesystem::path& data_dir);

// Appends one line to the log of the data directory (looked up afresh).
void log_line(std::string_view message);
// The same for a given data directory; none writes nothing.
void log_line_in(const std::optional<std::filesystem::path>& data_dir, std::string_view message);

}  // namespace nm::host
