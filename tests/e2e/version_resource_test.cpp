// The version resource and application manifest of the built Windows programs.
#include <gtest/gtest.h>

#include <cstdio>

#include "harness.hpp"
#include "host/version.hpp"

namespace e2e {
namespace {

TEST(WindowsResources, VersionAndManifestOfBothPrograms) {
  if (!under_wine()) GTEST_SKIP() << "the Windows programs carry the resources";
  const std::string version(nm::host::kHostVersion);
  unsigned v[3] = {};
  ASSERT_EQ(std::sscanf(version.c_str(), "%u.%u.%u", &v[0], &v[1], &v[2]), 3);
  for (const char* name : {"nmhost", "nmhost-doctor"}) {
    const fs::path program = build_exe(name);
    SCOPED_TRACE(program.string());
    const std::string exe = read_text(program);
    // A string: its UTF-16 key and null, padding to 32 bits, the value to its null.
    const auto string = [&exe](std::string_view key) {
      std::string utf16;
      for (char c : key) utf16 += {c, '\0'};
      size_t at = exe.find(utf16 + std::string(2, '\0'));
      if (at == std::string::npos) return "(no " + std::string(key) + ")";
      for (at += utf16.size() + 2; exe.compare(at, 2, std::string(2, '\0')) == 0;) at += 2;
      std::string value;
      for (; exe[at] || exe[at + 1]; at += 2) value += exe[at + 1] ? '?' : exe[at];
      return value;
    };
    EXPECT_EQ(string("ProductName"), "QAR Torvanel Download Manager");
    EXPECT_EQ(string("ProductVersion"), version);
    EXPECT_EQ(string("FileVersion"), version);
    EXPECT_EQ(string("FileDescription"),
              "QAR Torvanel Download Manager browser integration " +
                  std::string(name == std::string("nmhost") ? "host" : "check"));
    EXPECT_EQ(string("OriginalFilename"), program.filename().string());
    // VS_FIXEDFILEINFO: signature, structure version, major.minor, patch.0.
    const size_t fixed = exe.find("\xBD\x04\xEF\xFE");
    ASSERT_NE(fixed, std::string::npos);
    const auto word = [&](size_t i) {
      uint32_t w = 0;
      for (int b = 3; b >= 0; --b) w = w << 8 | static_cast<uint8_t>(exe[fixed + 4 * i + b]);
      return w;
    };
    EXPECT_EQ(word(2), v[0] << 16 | v[1]);
    EXPECT_EQ(word(3), v[2] << 16);
    EXPECT_EQ(word(4), word(2)) << "product version";
    EXPECT_NE(exe.find("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                       "WindowsSettings\">true</longPathAware>"),
              std::string::npos);
    EXPECT_NE(exe.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace e2e
