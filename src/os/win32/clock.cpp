#include "os/clock.hpp"

#include <windows.h>

#include "os/win32/handle.hpp"

namespace nm::os {

std::optional<UnixTime> system_time_now() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  const int64_t units = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  const int64_t since_1970 = units - 116444736000000000LL;
  if (since_1970 < 0) return std::nullopt;
  return UnixTime{since_1970 / 10000000, static_cast<uint32_t>(since_1970 % 10000000) * 100};
}

int64_t monotonic_ns() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  const int64_t freq = f.QuadPart;
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  const int64_t t = c.QuadPart;
  return (t / freq) * 1000000000 + (t % freq) * 1000000000 / freq;
}

void sleep_ms(unsigned ms) {
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif
  const win::Handle t(CreateWaitableTimerExW(
      nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS));
  LARGE_INTEGER due;
  due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;
  if (t && SetWaitableTimer(t.get(), &due, 0, nullptr, nullptr, FALSE))
    WaitForSingleObject(t.get(), INFINITE);
  else
    Sleep(ms);
}

}  // namespace nm::os
