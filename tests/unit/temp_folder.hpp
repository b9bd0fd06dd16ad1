#pragma once
// A fresh folder under the system's temporary folder, removed with its
// contents when the test ends.
#include <filesystem>
#include <random>
#include <string>

#include "platform/clock.hpp"

namespace {

class TempFolder {
 public:
  TempFolder() { std::filesystem::create_directories(path_); }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const char* name) const { return path_ / name; }

 private:
  const std::filesystem::path path_ =
      std::filesystem::temp_directory_path() /
      ("nmhost-test-" + std::to_string(std::random_device{}() ^
                                       static_cast<unsigned long long>(nm::os::monotonic_ns())));
};

}  // namespace
