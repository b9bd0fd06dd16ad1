#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#ifdef _WIN32
#include <windows.h>
#endif

#include "base/text.hpp"
#include "ipc/data_dir.hpp"
#include "ipc/endpoint.hpp"
#include "ipc/send.hpp"
#include "support/fixtures.hpp"

namespace nm::ipc {
namespace {

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
  EXPECT_EQ(data_dir_from(std::nullopt, std::nullopt, std::nullopt), std::nullopt);

  // The variable wins unchecked; empty, it is the current folder.
  const fs::path missing = tmp / "not" / "there";
  EXPECT_EQ(data_dir_from(os::path_to_utf8(missing), exe, roaming), missing);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(data_dir_from(std::string(), exe, roaming), fs::path());
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

TEST(Endpoint, FileInBothFormsAndOnlyOkDelivers) {
  const std::pair<std::string, Endpoint> accepted[] = {
      {R"({"port":8080,"token":"abc","pid":42})", Endpoint{8080, "abc", 42}},
      {R"({"token":"abc","port":65535})", Endpoint{65535, "abc", 0}},
      {R"({"port":0,"token":"","pid":4294967295})", Endpoint{0, "", 4294967295u}},
      {R"({"port":1,"extra":[{"a":null},2.5],"token":"t","Port":"x"})", Endpoint{1, "t", 0}},
      {R"({"port":1,"a":-1e400,"b":1e99999999999,"token":"t"})", Endpoint{1, "t", 0}},
      {" \t\r\n{\"port\":1,\"token\":\"t\"}\r\n \t", Endpoint{1, "t", 0}},
      {R"([8080,"abc",42])", Endpoint{8080, "abc", 42}},
      {R"([8080,"abc"])", Endpoint{8080, "abc", 0}},
  };
  for (const auto& [text, want] : accepted) EXPECT_EQ(parse_endpoint(text).value(), want) << text;
  // Fields, then the document around them.
  for (const std::string text :
       {R"({"port":70000,"token":"t"})", R"({"port":-1,"token":"t"})",
        R"({"port":"8080","token":"t"})", R"({"port":80.5,"token":"t"})",
        R"({"port":1,"token":null})", R"({"port":1,"token":"t","pid":-1})",
        R"({"port":1,"token":"t","pid":4294967296})", R"({"port":1,"token":"t","pid":null})",
        R"({"port":1})", R"({"token":"t"})", R"({"port":1,"token":"t","port":2})",
        R"({"port":1,"token":"t","token":"u"})", R"({"port":1,"token":"t","pid":1,"pid":1})"})
    EXPECT_FALSE(parse_endpoint(text).ok()) << text;
  for (const std::string text :
       {"\xEF\xBB\xBF{\"port\":1,\"token\":\"t\"}", "{\"port\":1,\"token\":\"t\"} x",
        "{\"port\":1,\"token\":\"t\"}{}", "\f{\"port\":1,\"token\":\"t\"}",
        R"({"port":1,"token":"t")", R"([8080])", R"([8080,"t",1,2])", R"(["t",8080])", "8080",
        "\"t\"", "null", ""})
    EXPECT_FALSE(parse_endpoint(text).ok()) << text;

  // The file's listener gets the request unless the pid it names is gone or
  // the system names another listener; what the system will not say is trusted.
  const std::tuple<uint32_t, std::optional<bool>, std::optional<uint32_t>, bool> live[] = {
      {0, false, 7, true}, {9, true, 9, true},    {9, true, {}, true},
      {9, {}, {}, true},   {9, false, {}, false}, {9, false, 9, false},
      {9, true, 7, false}, {9, {}, 7, false},     {0xFFFFFFFF, true, {}, true}};
  for (const auto& [pid, runs, listener, want] : live)
    EXPECT_EQ(endpoint_is_live(pid, runs, listener), want)
        << pid << " " << runs.value_or(2) << " " << listener.value_or(0);

  // Ideographic and no-break spaces are white space too; a byte-order mark is not.
  for (const char* line : {"ok\r\n", "ok\n", "ok", "  ok  \n", "\t\xe3\x80\x80ok\xc2\xa0\r\n"})
    EXPECT_EQ(interpret_answer(line), AppAnswer::delivered()) << line;
  for (const char* line : {"too-large", "too-large: 3 GB\n"})
    EXPECT_EQ(interpret_answer(line), AppAnswer::too_large(std::string(base::trim_unicode(line))))
        << line;
  const std::pair<const char*, const char*> failures[] = {
      {"OK\n", "OK"},
      {"o\xffk\n", "stream did not contain valid UTF-8"},
      {"Ok", "Ok"},
      {"ok\xc3\n", "stream did not contain valid UTF-8"},
      {"okay\n", "okay"},
      {"ok ok\n", "ok ok"},
      {"", "no answer"},
      {"\r\n", "no answer"},
      {" \t \n", "no answer"},
      {"  busy  \r\n", "  busy"},
      {"Too-large\n", "Too-large"},
      {" too-large\n", " too-large"},
      {"too-larg\n", "too-larg"},
      {"\xef\xbb\xbfok\n", "\xef\xbb\xbfok"},
  };
  for (const auto& [line, text] : failures)
    EXPECT_EQ(interpret_answer(line), AppAnswer::failed(text)) << line;
}

}  // namespace
}  // namespace nm::ipc
