// UTF-16 as the Win32 layer converts it (paths, the environment, the command
// line, the registry): Windows only.
#ifdef _WIN32
#include "os/win32/wide.hpp"

#include <gtest/gtest.h>

#include "base/text.hpp"

namespace nm::os::win {
TEST(Wide, EveryCodePointBothWaysAndLoneSurrogates) {
  EXPECT_EQ(to_wide("a\xf0\x9f\x93\xa6"), L"a\U0001F4E6");  // as the compiler writes a pair
  // Each code point, followed by one above the surrogates, so that a pair is
  // told from what comes after it.
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string utf8;
    base::append_utf8(utf8, cp);
    base::append_utf8(utf8, 0xE000);
    const std::wstring wide = to_wide(utf8);
    ASSERT_EQ(wide.size(), cp >= 0x10000 ? 3u : 2u) << std::hex << static_cast<uint32_t>(cp);
    ASSERT_EQ(from_wide(wide), utf8) << std::hex << static_cast<uint32_t>(cp);
    ASSERT_EQ(from_wide_lossy(wide), utf8) << std::hex << static_cast<uint32_t>(cp);
  }
  // A lone surrogate is no text, or U+FFFD where a text must be had.
  const std::pair<std::wstring, std::string> lone[] = {
      {L"\xD800", "\xEF\xBF\xBD"},
      {L"\xDFFF", "\xEF\xBF\xBD"},
      {L"a\xDBFF", "a\xEF\xBF\xBD"},
      {L"\xD800\xE000", "\xEF\xBF\xBD\xEE\x80\x80"},
      {L"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"}};
  for (const auto& [wide, lossy] : lone) {
    EXPECT_EQ(from_wide(wide), std::nullopt) << lossy;
    EXPECT_EQ(from_wide_lossy(wide), lossy);
  }
}
}  // namespace nm::os::win
#endif
