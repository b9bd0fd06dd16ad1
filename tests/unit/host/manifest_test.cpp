#include "host/manifest.hpp"

#include <gtest/gtest.h>

namespace nm::host {
TEST(Manifest, PathInUtf8) {
#ifdef _WIN32
  const fs::path bad(std::wstring(L"C:\\q\\\xD800.exe"));
  const fs::path good(std::wstring(L"C:\\q\\\x00E9.exe"));
  const std::string good_json = "C:\\\\q\\\\\xC3\xA9.exe";
#else
  const fs::path bad(std::string("/q/\xFF.exe"));
  const fs::path good(std::string("/q/\xC3\xA9.exe"));
  const std::string good_json = "/q/\xC3\xA9.exe";
#endif
  const auto r = manifest_for(ManifestKind::firefox, bad);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), "path contains invalid UTF-8 characters");
  const auto g = manifest_for(ManifestKind::chromium, good);
  ASSERT_TRUE(g) << g.error();
  EXPECT_NE(g->find("\"path\": \"" + good_json + "\""), std::string::npos) << *g;
}
}  // namespace nm::host
