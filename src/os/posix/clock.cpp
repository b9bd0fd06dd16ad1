#include "os/clock.hpp"

#include <errno.h>
#include <time.h>

namespace nm::os {

std::optional<UnixTime> system_time_now() {
  timespec ts;
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0 || ts.tv_sec < 0) return std::nullopt;
  return UnixTime{ts.tv_sec, static_cast<uint32_t>(ts.tv_nsec)};
}

int64_t monotonic_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleep_ms(unsigned ms) {
  timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&req, &req) != 0 && errno == EINTR) {
  }
}

}  // namespace nm::os
