// The whole-file replace, the same on both systems: it is built from the
// primitives each side implements.
#include <random>
#include <string>

#include "os/clock.hpp"
#include "os/fs.hpp"

namespace nm::os {

Status replace_file(const fs::path& p, std::string_view content, int retry_ms) {
  std::random_device random;
  fs::path temp = p;
  temp += ".tmp-" + std::to_string(random()) + "-" + std::to_string(monotonic_ns());
  Status done = write_file(temp, content);
  if (done) {
    const int64_t deadline = monotonic_ns() + int64_t{retry_ms} * 1000000;
    while (!(done = move_replace(temp, p)) && monotonic_ns() < deadline) sleep_ms(1);
    if (done) return done;
  }
  (void)remove_file(temp);  // a temporary left behind is only clutter
  return done;
}

}  // namespace nm::os
