#pragma once
// The entry point's run modes.
#include <string>
#include <string_view>
#include <vector>

namespace nm::host {

inline constexpr std::string_view kErrorPrefix = "qartorvaneldownloadmanager-nmhost: ";

// Chooses the mode from the arguments (program name already dropped), runs
// it and gives the process exit code.
int run(const std::vector<std::string>& args);

// Writes the prefixed error line to standard error; the caller exits with 1.
void report_error(std::string_view text);

}  // namespace nm::host
