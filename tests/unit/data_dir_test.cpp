#include "ipc/data_dir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/fs.hpp"
#include "scoped_env.hpp"
#include "temp_folder.hpp"

namespace nm::ipc {
namespace {

namespace fs = std::filesystem;

TEST(DataDir, VariableWinsUnchecked) {
  TempFolder tmp;
  fs::create_directories(tmp / "bin" / "data");
  const fs::path exe = tmp / "bin" / "nmhost.exe";
  const fs::path missing = tmp / "not" / "there";
  EXPECT_EQ(data_dir_from(os::path_to_utf8(missing), exe, tmp.path()), missing);
  EXPECT_FALSE(fs::exists(missing));
  // Present but empty: paths built on it resolve against the current folder.
  EXPECT_EQ(data_dir_from(std::string(), exe, tmp.path()), fs::path());

  const test::ScopedEnv variable("QTM_DATA_DIR", os::path_to_utf8(missing));
  ASSERT_TRUE(variable.ok());
  EXPECT_EQ(data_dir(), missing);
#ifdef _WIN32
  // The wide value as it is: an unpaired surrogate is part of the folder's name.
  const std::wstring odd = missing.native() + L"\xD800";
  ASSERT_EQ(_wputenv((L"QTM_DATA_DIR=" + odd).c_str()), 0);
  EXPECT_TRUE(data_dir() && data_dir()->native() == odd);
#endif
}

TEST(DataDir, PortableFolderMustBeAWritableFolder) {
  TempFolder tmp;
  const fs::path exe = tmp / "bin" / "nmhost.exe";
  const fs::path product = tmp / "roaming" / "qartorvaneldownloadmanager";
  fs::create_directories(tmp / "bin");
  EXPECT_EQ(data_dir_from(std::nullopt, exe, tmp / "roaming"), product);
  EXPECT_FALSE(fs::exists(product));

  ASSERT_TRUE(os::write_file(tmp / "bin" / "data", "a file, not a folder"));
  EXPECT_EQ(data_dir_from(std::nullopt, exe, tmp / "roaming"), product);
  fs::remove(tmp / "bin" / "data");

  fs::create_directory(tmp / "bin" / "data");
  EXPECT_EQ(data_dir_from(std::nullopt, exe, tmp / "roaming"), tmp / "bin" / "data");
  EXPECT_TRUE(fs::is_empty(tmp / "bin" / "data"));  // the probe is gone

  EXPECT_EQ(portable_data_dir_for(fs::path("nmhost.exe")), std::nullopt);
  EXPECT_EQ(data_dir_from(std::nullopt, std::nullopt, std::nullopt), std::nullopt);
}

TEST(DataDir, MovesTheLegacyFolderOnlyWhenTheProductFolderIsMissing) {
  for (const bool product_exists : {false, true}) {
    TempFolder roaming;
    const fs::path product = roaming / "qartorvaneldownloadmanager";
    const fs::path legacy = roaming / "varquel";
    ASSERT_TRUE(os::make_dirs(legacy) && os::write_file(legacy / "old", "L"));
    if (product_exists) {
      ASSERT_TRUE(os::make_dirs(product));
    }
    EXPECT_EQ(data_dir_from(std::nullopt, std::nullopt, roaming.path()), product);
    EXPECT_EQ(fs::exists(legacy), product_exists);
    EXPECT_EQ(fs::exists(product / "old"), !product_exists);
  }
  TempFolder neither;
  ASSERT_TRUE(os::write_file(neither / "varquel", "a file, not a folder"));
  EXPECT_EQ(data_dir_from(std::nullopt, std::nullopt, neither.path()),
            neither / "qartorvaneldownloadmanager");
  EXPECT_FALSE(fs::exists(neither / "qartorvaneldownloadmanager"));
}

}  // namespace
}  // namespace nm::ipc
