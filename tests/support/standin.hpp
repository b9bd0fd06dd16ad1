#pragma once
// The stand-in application of the same build, and bounded waits for what it does.
#include <gtest/gtest.h>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "os/clock.hpp"
#include "os/fs.hpp"

namespace {
// build/<target>/tests/unit_tests[.exe] -> build/<target>/tools/qtm-standin[.exe]
inline std::filesystem::path standin_path() {
  const auto exe = nm::os::exe_path();
  EXPECT_TRUE(exe.ok());
  return exe->parent_path().parent_path() / "tools" / ("qtm-standin" + exe->extension().string());
}

inline int64_t now_ms() {
  return nm::os::monotonic_ns() / 1000000;
}

inline bool wait_until(const std::function<bool()>& done, int64_t limit_ms) {
  const int64_t end = now_ms() + limit_ms;
  while (!done()) {
    if (now_ms() > end) return false;
    nm::os::sleep_ms(20);
  }
  return true;
}
}  // namespace
