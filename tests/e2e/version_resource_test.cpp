// The version resource and the application manifest, read back from the
// built Windows programs by walking their PE resource section.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>

#include "harness.hpp"
#include "nmhost/reply.hpp"

namespace e2e {
namespace {

using Bytes = std::string_view;

uint32_t u16(Bytes b, size_t at) {
  if (at + 2 > b.size()) throw std::out_of_range("past the end");
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8;
}
uint32_t u32(Bytes b, size_t at) {
  return u16(b, at) | u16(b, at + 2) << 16;
}

// The resources of a PE32+ file, by (type id, name id).
std::map<std::pair<uint32_t, uint32_t>, std::string> resources(const std::string& file) {
  const Bytes pe = file;
  const size_t nt = u32(pe, 0x3C);
  if (pe.substr(nt, 4) != std::string_view("PE\0\0", 4)) throw std::runtime_error("not PE");
  const size_t coff = nt + 4;
  const size_t sections = u16(pe, coff + 2);
  const size_t optional = coff + 20;
  if (u16(pe, optional) != 0x20B) throw std::runtime_error("not PE32+");
  const uint32_t rsrc_rva = u32(pe, optional + 112 + 2 * 8);  // data directory 2
  const size_t table = optional + u16(pe, coff + 16);
  // A relative virtual address to its offset in the file.
  const auto offset = [&](uint32_t rva) -> size_t {
    for (size_t i = 0; i < sections; ++i) {
      const size_t s = table + 40 * i;
      const uint32_t va = u32(pe, s + 12), raw_size = u32(pe, s + 16), raw = u32(pe, s + 20);
      if (rva >= va && rva < va + raw_size) return raw + (rva - va);
    }
    throw std::runtime_error("address outside every section");
  };
  const size_t root = offset(rsrc_rva);
  const auto entries = [&](size_t dir) {
    std::vector<std::pair<uint32_t, uint32_t>> out;  // id, offset (high bit: directory)
    const size_t n = u16(pe, dir + 12) + u16(pe, dir + 14);
    for (size_t i = 0; i < n; ++i)
      out.emplace_back(u32(pe, dir + 16 + 8 * i), u32(pe, dir + 20 + 8 * i));
    return out;
  };
  std::map<std::pair<uint32_t, uint32_t>, std::string> out;
  for (const auto& [type, to_names] : entries(root))
    for (const auto& [name, to_languages] : entries(root + (to_names & 0x7FFFFFFF)))
      for (const auto& [language, to_data] : entries(root + (to_languages & 0x7FFFFFFF))) {
        (void)language;
        const size_t data = root + to_data;
        out[{type, name}] = std::string(pe.substr(offset(u32(pe, data)), u32(pe, data + 4)));
      }
  return out;
}

std::string narrow(Bytes utf16, size_t at, size_t chars) {
  std::string s;
  for (size_t i = 0; i < chars; ++i) {
    const uint32_t c = u16(utf16, at + 2 * i);
    if (c == 0) break;
    s += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return s;
}

// One node of a version resource: a key, its value and its children.
struct Block {
  std::string key;
  Bytes value;
  bool text = false;
  std::vector<Block> children;
};

Block parse_block(Bytes b) {
  const size_t length = u16(b, 0), value_length = u16(b, 2);
  Block block;
  block.text = u16(b, 4) == 1;
  size_t at = 6;
  while (u16(b, at) != 0) block.key += static_cast<char>(u16(b, at)), at += 2;
  at = (at + 2 + 3) & ~size_t{3};
  const size_t value_bytes = block.text ? 2 * value_length : value_length;
  block.value = b.substr(at, value_bytes);
  at = (at + value_bytes + 3) & ~size_t{3};
  while (at < length) {
    Block child = parse_block(b.substr(at, length - at));
    at += (u16(b, at) + 3) & ~size_t{3};
    block.children.push_back(std::move(child));
  }
  return block;
}

struct VersionInfo {
  uint32_t file_ms = 0, file_ls = 0, product_ms = 0, product_ls = 0;
  std::map<std::string, std::string> strings;  // of the first string table
};

VersionInfo version_info(Bytes resource) {
  const Block root = parse_block(resource);
  EXPECT_EQ(root.key, "VS_VERSION_INFO");
  VersionInfo v;
  EXPECT_EQ(u32(root.value, 0), 0xFEEF04BDu) << "VS_FIXEDFILEINFO signature";
  v.file_ms = u32(root.value, 8);
  v.file_ls = u32(root.value, 12);
  v.product_ms = u32(root.value, 16);
  v.product_ls = u32(root.value, 20);
  for (const Block& info : root.children) {
    if (info.key != "StringFileInfo" || info.children.empty()) continue;
    for (const Block& s : info.children[0].children)
      v.strings[s.key] = narrow(s.value, 0, s.value.size() / 2);
  }
  return v;
}

constexpr uint32_t kRtVersion = 16, kRtManifest = 24;

TEST(WindowsResources, VersionAndManifestOfBothPrograms) {
  if (!under_wine()) GTEST_SKIP() << "the Windows programs carry the resources";
  unsigned major = 0, minor = 0, patch = 0;
  ASSERT_EQ(
      std::sscanf(std::string(nm::host::HOST_VERSION).c_str(), "%u.%u.%u", &major, &minor, &patch),
      3);
  std::map<std::string, std::string> descriptions;
  for (const fs::path& exe : {host_exe(), doctor_exe()}) {
    SCOPED_TRACE(exe.string());
    const auto found = resources(read_text(exe));
    ASSERT_EQ(found.count({kRtVersion, 1}), 1u);
    const VersionInfo v = version_info(found.at({kRtVersion, 1}));
    EXPECT_EQ(v.file_ms, major << 16 | minor);
    EXPECT_EQ(v.file_ls, patch << 16);
    EXPECT_EQ(v.product_ms, v.file_ms);
    EXPECT_EQ(v.product_ls, v.file_ls);
    EXPECT_EQ(v.strings.at("ProductName"), "QAR Torvanel Download Manager");
    EXPECT_EQ(v.strings.at("ProductVersion"), nm::host::HOST_VERSION);
    EXPECT_EQ(v.strings.at("FileVersion"), nm::host::HOST_VERSION);
    EXPECT_EQ(v.strings.at("OriginalFilename"), exe.filename().string());
    descriptions[exe.filename().string()] = v.strings.at("FileDescription");

    ASSERT_EQ(found.count({kRtManifest, 1}), 1u);
    const std::string& manifest = found.at({kRtManifest, 1});
    EXPECT_NE(manifest.find("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                            "WindowsSettings\">true</longPathAware>"),
              std::string::npos);
    EXPECT_NE(manifest.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"),
              std::string::npos)
        << "Windows 10 and 11";
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  }
  EXPECT_EQ(descriptions.at("nmhost.exe"),
            "QAR Torvanel Download Manager browser integration host");
  EXPECT_EQ(descriptions.at("nmhost-doctor.exe"),
            "QAR Torvanel Download Manager browser integration check");
}

}  // namespace
}  // namespace e2e
