#include "ipc/data_dir.hpp"

#include <gtest/gtest.h>

#include "platform/child.hpp"
#include "platform/fs.hpp"
#include "temp_folder.hpp"

namespace nm::ipc {
namespace {

namespace fs = std::filesystem;

// Sets a variable for the scope of a test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value)
      : name_(name), old_(os::get_env(name)) {
    EXPECT_TRUE(os::set_env(name, value));
  }
  ~ScopedEnv() { (void)os::set_env(name_, old_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(DataDir, VariableWinsUnchecked) {
  TempFolder tmp;
  fs::create_directories(tmp / "bin" / "data");
  const fs::path exe = tmp / "bin" / "nmhost.exe";
  const fs::path missing = tmp / "not" / "there";

  EXPECT_EQ(data_dir_from(os::path_to_utf8(missing), exe, tmp.path()), missing);
  EXPECT_FALSE(fs::exists(missing));
  // Present but empty: paths built on it resolve against the current folder.
  EXPECT_EQ(data_dir_from(std::string(), exe, tmp.path()), fs::path());
  // The real lookup reads the variable of this process.
  ScopedEnv env("QTM_DATA_DIR", os::path_to_utf8(missing));
  EXPECT_EQ(data_dir(), missing);
}

TEST(DataDir, PortableFolderMustBeAWritableFolder) {
  TempFolder tmp;
  const fs::path exe = tmp / "bin" / "nmhost.exe";
  const fs::path roaming = tmp / "roaming";
  const fs::path product = roaming / "qartorvaneldownloadmanager";
  fs::create_directories(tmp / "bin");

  // No data folder: the roaming product folder, not created.
  EXPECT_EQ(portable_data_dir_for(exe), std::nullopt);
  EXPECT_EQ(data_dir_from(std::nullopt, exe, roaming), product);
  EXPECT_FALSE(fs::exists(product));

  // A file named data is not a portable installation.
  ASSERT_TRUE(os::write_file(tmp / "bin" / "data", "x"));
  EXPECT_EQ(portable_data_dir_for(exe), std::nullopt);
  EXPECT_EQ(data_dir_from(std::nullopt, exe, roaming), product);
  fs::remove(tmp / "bin" / "data");

  // A writable folder is; the probe file does not stay behind.
  fs::create_directory(tmp / "bin" / "data");
  EXPECT_EQ(portable_data_dir_for(exe), tmp / "bin" / "data");
  EXPECT_EQ(data_dir_from(std::nullopt, exe, roaming), tmp / "bin" / "data");
  EXPECT_TRUE(fs::is_empty(tmp / "bin" / "data"));

  // No executable, or one without a folder.
  EXPECT_EQ(portable_data_dir_for(std::nullopt), std::nullopt);
  EXPECT_EQ(portable_data_dir_for(fs::path("nmhost.exe")), std::nullopt);
  EXPECT_EQ(data_dir_from(std::nullopt, std::nullopt, std::nullopt), std::nullopt);
}

TEST(DataDir, ReadOnlyPortableFolderIsNotPortable) {
  TempFolder tmp;
  const fs::path data = tmp / "bin" / "data";
  fs::create_directories(data);
  fs::permissions(data, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  // Administrators, and folders whose read-only flag the system ignores,
  // still allow the probe: then there is no read-only folder to test with.
  if (os::create_empty_file(data / "can-write")) {
    os::remove_file(data / "can-write");
    GTEST_SKIP() << "cannot make a folder read-only for this user on this system";
  }
  EXPECT_EQ(portable_data_dir_for(tmp / "bin" / "nmhost.exe"), std::nullopt);
  EXPECT_EQ(data_dir_from(std::nullopt, tmp / "bin" / "nmhost.exe", tmp / "roaming"),
            tmp / "roaming" / "qartorvaneldownloadmanager");
}

TEST(DataDir, MovesTheLegacyFolderOnlyWhenTheProductFolderIsMissing) {
  const struct {
    const char* name;
    bool legacy;
    bool product;
  } cases[] = {
      {"only the legacy folder", true, false},
      {"both folders", true, true},
      {"neither folder", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder roaming;
    const fs::path product = roaming / "qartorvaneldownloadmanager";
    const fs::path legacy = roaming / "varquel";
    if (c.legacy) {
      ASSERT_TRUE(os::make_dirs(legacy) && os::write_file(legacy / "old", "L"));
    }
    if (c.product) {
      ASSERT_TRUE(os::make_dirs(product) && os::write_file(product / "new", "P"));
    }

    EXPECT_EQ(data_dir_from(std::nullopt, std::nullopt, roaming.path()), product);
    if (c.legacy && !c.product) {
      EXPECT_FALSE(fs::exists(legacy));
      EXPECT_EQ(os::read_file(product / "old").value(), "L");
    } else if (c.legacy) {
      EXPECT_EQ(os::read_file(legacy / "old").value(), "L");
      EXPECT_EQ(os::read_file(product / "new").value(), "P");
      EXPECT_FALSE(fs::exists(product / "old"));
    } else {
      EXPECT_FALSE(fs::exists(product));
    }
  }
}

TEST(DataDir, LegacyFileIsNotMoved) {
  TempFolder roaming;
  ASSERT_TRUE(os::write_file(roaming / "varquel", "not a folder"));
  EXPECT_EQ(data_dir_from(std::nullopt, std::nullopt, roaming.path()),
            roaming / "qartorvaneldownloadmanager");
  EXPECT_TRUE(fs::is_regular_file(roaming / "varquel"));
  EXPECT_FALSE(fs::exists(roaming / "qartorvaneldownloadmanager"));
}

}  // namespace
}  // namespace nm::ipc
