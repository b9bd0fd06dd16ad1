#pragma once
// Reading the registry (Windows only; elsewhere every read says so).
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.hpp"

namespace nm::os {

enum class Hive { current_user, local_machine };
// 32-bit programs and 64-bit programs may see different keys under HKLM.
enum class RegistryView { bits32, bits64 };

// The short name the registry tool takes: "HKCU" or "HKLM".
constexpr std::string_view hive_name(Hive hive) {
  return hive == Hive::current_user ? "HKCU" : "HKLM";
}

struct RegistryDefault {
  enum class State { no_key, no_value, text, not_text };
  State state = State::no_key;
  std::string text;   // State::text: the value, UTF-8, without its terminating nulls
  uint32_t type = 0;  // the value's registry type (REG_SZ is 1) when there is a value
};

// Whether this platform has a registry at all.
bool registry_available();
// The file name of the registry command-line tool: "reg.exe"; elsewhere
// "reg", a stand-in that tests put on the PATH.
std::string_view registry_tool_file();
// The default value of `subkey` (backslashes, UTF-8) in the hive, seen
// through the given view. A missing key or value is a state, not an error;
// the error is the system's text (or "not available" without a registry).
Result<RegistryDefault> read_default_value(Hive hive, RegistryView view, std::string_view subkey);

}  // namespace nm::os
