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

}  // namespace nm::os
