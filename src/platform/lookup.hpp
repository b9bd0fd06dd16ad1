#pragma once
// Read-only questions about processes and files, for diagnostics.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace nm::os {

// Whether a process with this id runs now; none when the system will not
// say. A process that we may not open still counts as running.
std::optional<bool> process_exists(uint32_t pid);

// Whether two paths name the same file (links and differing spellings of
// one path included); none when either cannot be opened.
std::optional<bool> same_file(const std::filesystem::path& a, const std::filesystem::path& b);

// Writes text to standard output: as characters when it is a console (so
// that any script shows), as UTF-8 bytes otherwise. False on failure.
bool write_stdout_text(std::string_view utf8);

}  // namespace nm::os
