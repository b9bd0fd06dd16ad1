#include "os/error.hpp"

#include <cerrno>
#include <cstring>

#include "base/text.hpp"

namespace nm::os {

std::string system_error_text(int code) {
  std::string text(base::trim_unicode_end(std::strerror(code)));
  return text + " (os error " + std::to_string(code) + ")";
}

static ErrorKind kind_of(int code) {
  switch (code) {
    case ENOENT:
    case ENOTDIR:  // a folder on the way is a file: nothing is there either
      return ErrorKind::not_found;
    case ETIMEDOUT: return ErrorKind::timed_out;
    default: return ErrorKind::other;
  }
}

Error system_error(int code) {
  return Error{system_error_text(code), kind_of(code)};
}

Error last_system_error() {
  return system_error(errno);
}

Error not_found_error() {
  return system_error(ENOENT);
}

}  // namespace nm::os
