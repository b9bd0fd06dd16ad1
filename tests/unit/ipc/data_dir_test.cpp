#include "ipc/data_dir.hpp"

#include <gtest/gtest.h>

#include "support/fixtures.hpp"

namespace nm::ipc {
TEST(DataDir, VariablePortableFolderRoamingAndTheLegacyMove) {
  // The rule as data_dir() applies it, with the platform's answers given.
  const auto data_dir_from = [](const std::optional<std::string>& env,
                                const std::optional<fs::path>& exe,
                                const std::optional<fs::path>& roaming) {
    return settled_data_dir(choose_data_dir(
        env, [&] { return exe; }, [&] { return roaming; }));
  };
  TempFolder tmp;
  const fs::path exe = tmp / "bin" / "nmhost.exe", data = tmp / "bin" / "data";
  const fs::path roaming = tmp / "roaming", product = roaming / "qartorvaneldownloadmanager";
  fs::create_directories(tmp / "bin");
  EXPECT_EQ(data_dir_from(std::nullopt, exe, roaming), product);
  EXPECT_FALSE(fs::exists(product));
  ASSERT_TRUE(os::write_file(data, "a file, not a folder"));
  EXPECT_EQ(data_dir_from(std::nullopt, exe, roaming), product);
  fs::remove(data);
  fs::create_directory(data);
  EXPECT_EQ(data_dir_from(std::nullopt, exe, roaming), data);
  EXPECT_TRUE(fs::is_empty(data));  // the probe is gone
  EXPECT_EQ(portable_data_dir_for(fs::path("nmhost.exe")), std::nullopt);

  // The variable wins unchecked.
  const fs::path missing = tmp / "not" / "there";
  EXPECT_EQ(data_dir_from(os::path_to_utf8(missing), exe, roaming), missing);
  EXPECT_FALSE(fs::exists(missing));
  const ScopedEnv variable("QTM_DATA_DIR", os::path_to_utf8(missing));
  EXPECT_EQ(data_dir(), missing);
#ifdef _WIN32
  // The wide value as it is: an unpaired surrogate is part of the folder's name.
  const std::wstring odd = missing.native() + L"\xD800";
  ASSERT_EQ(_wputenv((L"QTM_DATA_DIR=" + odd).c_str()), 0);
  EXPECT_TRUE(data_dir() && data_dir()->native() == odd);
#endif

  // The legacy folder is moved only when the product folder is missing.
  for (const bool product_exists : {false, true}) {
    TempFolder home;
    const fs::path home_product = home / "qartorvaneldownloadmanager";
    const fs::path legacy = home / "varquel";
    ASSERT_TRUE(os::make_dirs(legacy) && os::write_file(legacy / "old", "L"));
    ASSERT_TRUE(!product_exists || os::make_dirs(home_product));
    EXPECT_EQ(data_dir_from(std::nullopt, std::nullopt, home.path()), home_product);
    EXPECT_EQ(fs::exists(legacy), product_exists);
    EXPECT_EQ(fs::exists(home_product / "old"), !product_exists);
  }
  TempFolder neither;
  ASSERT_TRUE(os::write_file(neither / "varquel", "a file, not a folder"));
  EXPECT_EQ(data_dir_from(std::nullopt, std::nullopt, neither.path()),
            neither / "qartorvaneldownloadmanager");
  EXPECT_FALSE(fs::exists(neither / "qartorvaneldownloadmanager"));
}

#ifdef _WIN32
// Another holder of the probe, sharing it (a host probing at the same moment)
// or not (a virus scanner): the folder is written to, so it is portable.
TEST(DataDir, ProbeHeldByAnotherIsStillPortable) {
  TempFolder tmp;
  const fs::path data = tmp / "bin" / "data";
  fs::create_directories(data);
  for (const DWORD share :
       {DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}, DWORD{0}}) {
    const HANDLE held = CreateFileW((data / ".write-test").c_str(), GENERIC_WRITE, share, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(portable_data_dir_for(tmp / "bin" / "nmhost.exe"), data) << share;
    CloseHandle(held);
  }
}
#endif
}  // namespace nm::ipc
