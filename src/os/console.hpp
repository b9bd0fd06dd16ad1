#pragma once
// Process arguments and the raw standard streams.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"

namespace nm::os {

// The command-line arguments without the program name. Windows splits
// GetCommandLineW itself (argv is ignored); POSIX takes argv.
std::vector<std::string> arguments(int argc, char** argv);

// Binary standard streams; a closed output is an error value, not a signal.
void init_stdio();

// Reads up to n bytes; 0 means end of input (a broken pipe counts as the end).
// Interrupted reads are retried.
Result<size_t> read_stdin(char* buf, size_t n);
// Writes every byte (retrying short and interrupted writes).
Status write_stdout(std::string_view bytes);
void write_stderr(std::string_view bytes);
// Writes text for a person to read: as characters when standard output is a
// console (so that any script shows), as UTF-8 bytes otherwise.
Status write_stdout_text(std::string_view utf8);

}  // namespace nm::os
