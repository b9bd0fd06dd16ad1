#include "os/registry.hpp"

namespace nm::os {

std::string_view registry_tool_file() {
  return "reg";
}

bool registry_available() {
  return false;
}

Result<RegistryDefault> read_default_value(Hive, RegistryView, std::string_view) {
  return Error{"not available"};
}

}  // namespace nm::os
