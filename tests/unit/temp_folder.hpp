#pragma once
// A fresh folder under the system's temporary folder, removed with its
// contents when the test ends.
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "platform/clock.hpp"

namespace {

class TempFolder {
 public:
  TempFolder() {
    std::random_device rd;
    const auto salt = static_cast<unsigned long long>(rd()) << 32 ^
                      static_cast<unsigned long long>(nm::os::monotonic_ns());
    path_ = std::filesystem::temp_directory_path() / ("nmhost-test-" + std::to_string(salt));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    // Read-only folders made by a test would stop the removal.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const char* name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace
