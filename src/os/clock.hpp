#pragma once
#include <cstdint>
#include <optional>

namespace nm::os {

struct UnixTime {
  int64_t seconds;       // since 1970-01-01 UTC
  uint32_t nanoseconds;  // 0 to 999999999
};

// The precise system clock; none before 1970.
std::optional<UnixTime> system_time_now();
// Monotonic clock in nanoseconds from an arbitrary origin.
int64_t monotonic_ns();
// Sleeps (a high-resolution waitable timer on Windows).
void sleep_ms(unsigned ms);

// Whole milliseconds left until a deadline on the monotonic clock, rounded
// up, so that a wait for them never ends before it; 0 once it has passed.
inline int ms_until(int64_t deadline_ns) {
  const int64_t left = deadline_ns - monotonic_ns();
  return left <= 0 ? 0 : static_cast<int>((left + 999999) / 1000000);
}

}  // namespace nm::os
