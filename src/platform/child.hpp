#pragma once
// Running copies of a program side by side and waiting for all of them (used
// by tests that need several processes), and changing the environment that
// such children inherit.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/result.hpp"

namespace nm::os {

namespace fs = std::filesystem;

// Starts one process per argument list, all before waiting for any, with the
// environment and standard error inherited and standard input and output on
// the null device; waits for every one and gives their exit codes in order.
// The error is the system's text of the first start that failed (the
// processes already started are still waited for).
Result<std::vector<int>> run_side_by_side(const fs::path& program,
                                          const std::vector<std::vector<std::string>>& arg_lists);

// Sets (or, given none, removes) a variable of this process's environment.
Status set_env(const char* name, const std::optional<std::string>& value);

}  // namespace nm::os
