#pragma once
// Read-only questions about processes and files, for diagnostics.
#include <cstdint>
#include <filesystem>
#include <optional>

namespace nm::os {

// Whether a process with this id runs now; none when the system will not
// say. A process that we may not open still counts as running.
std::optional<bool> process_exists(uint32_t pid);

// Whether two paths name the same file (links and differing spellings of
// one path included); none when either cannot be opened.
std::optional<bool> same_file(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace nm::os
