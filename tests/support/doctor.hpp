#pragma once
// What the doctor's tests share: files put in place, a report at a glance.
#include <gtest/gtest.h>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "doctor/doctor.hpp"
#include "os/fs.hpp"

namespace {
using Lines = std::vector<std::string>;

inline void put(const std::filesystem::path& p, std::string_view bytes) {
  std::filesystem::create_directories(p.parent_path());
  ASSERT_TRUE(nm::os::write_file(p, bytes).ok()) << p;
}

inline std::string utf8(const std::filesystem::path& p) {
  return nm::os::path_display(p);
}

// "verdict name, ..." of the checks: a whole outcome at a glance.
inline std::string outline(const nm::doctor::Report& r) {
  std::string out;
  for (const auto& c : r.checks)
    out += (out.empty() ? "" : ", ") + std::string(verdict_word(c.verdict)) + " " + c.name;
  return out;
}
}  // namespace
