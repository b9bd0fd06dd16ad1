#include "host/extension_ids.hpp"

#include <gtest/gtest.h>

namespace nm::host {
TEST(ExtensionIds, ThirtyTwoLettersFromAToP) {
  // Every byte, anywhere among 32 letters, is allowed exactly when it is one of a to p.
  for (int b = 0; b < 256; ++b) {
    std::string id(kChromeStoreId);
    id[b % 32] = static_cast<char>(b);
    EXPECT_EQ(is_extension_id(id), b >= 'a' && b <= 'p') << b;
  }
  for (const size_t n : {0, 31, 33}) EXPECT_FALSE(is_extension_id(std::string(n, 'a'))) << n;
}
}  // namespace nm::host
