#include "platform/error.hpp"

#include <cerrno>
#include <cstring>

#include "base/text.hpp"

namespace nm::os {

std::string system_error_text(int code) {
  std::string text(trim_unicode_end(std::strerror(code)));
  return text + " (os error " + std::to_string(code) + ")";
}

int last_error() { return errno; }

}  // namespace nm::os
