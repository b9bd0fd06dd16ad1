#pragma once
// Windows command-line rules, as pure functions so that they are tested on
// every platform.
#include <string>
#include <string_view>
#include <vector>

namespace nm::base {

// Splits a whole command line, program name first. The program name has its
// own rule: a leading quote runs to the next quote, with no escapes;
// otherwise it ends at the first space or tab.
std::vector<std::string> split_command_line(std::string_view line);

// Quotes one argument so that split_command_line gives it back unchanged.
std::string quote_argument(std::string_view arg);
// Program and arguments joined into one command line.
std::string join_command_line(std::string_view program, const std::vector<std::string>& args);

}  // namespace nm::base
