// The whole host loop on arbitrary bytes, in memory: one well-formed reply per
// complete frame, in order, and an error only for a body cut short. The
// application is unreachable (no ipc.json; app-path names a missing program),
// so nothing is ever started.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

#include "checks.hpp"
#include "host/host_loop.hpp"
#include "os/fs.hpp"

namespace {

namespace fs = std::filesystem;

// Hands the input out in uneven pieces, as a pipe may.
class MemorySource final : public nm::host::ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  nm::Result<size_t> read(char* buf, size_t n) override {
    const size_t piece = std::min({n, bytes_.size() - at_, 1 + at_ % 97});
    std::copy_n(bytes_.data() + at_, piece, buf);
    at_ += piece;
    return piece;
  }

 private:
  std::string_view bytes_;
  size_t at_ = 0;
};

class MemorySink final : public nm::host::ByteSink {
 public:
  nm::Status write(std::string_view bytes) override {
    out.append(bytes);
    return {};
  }
  std::string out;
};

fs::path g_data;

void remove_data() {
  std::error_code ec;
  fs::remove_all(g_data, ec);
}

uint32_t le32(std::string_view s) {
  const auto* b = reinterpret_cast<const unsigned char*>(s.data());
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::random_device rd;
  g_data =
      fs::temp_directory_path() / ("nmhost-fuzz-" + std::to_string(rd()) + std::to_string(rd()));
  fs::create_directories(g_data);
  setenv("QTM_DATA_DIR", g_data.c_str(), 1);
  std::atexit(remove_data);
  auto exe = nm::os::exe_path();
  if (!exe) fuzz::fail("no executable path", exe.error());
  std::ofstream(exe->parent_path() / "app-path", std::ios::trunc)
      << (g_data / "absent" / "qartorvaneldownloadmanager").string() << "\n";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // What the input holds: the replies due, and whether it ends inside a body. An oversized
  // body is drained as far as the input goes; any other must be whole.
  size_t frames = 0;
  bool cut_short = false;
  for (std::string_view rest = input; rest.size() >= 4; ++frames) {
    const uint32_t n = le32(rest);
    rest.remove_prefix(4);
    if (n <= nm::host::kMaxMessageBytes && rest.size() < n) {
      cut_short = true;
      break;
    }
    rest.remove_prefix(std::min<size_t>(n, rest.size()));
  }

  MemorySource in(input);
  MemorySink out;
  const nm::Status st = nm::host::run_host(in, out, {});
  if (cut_short)
    fuzz::check(!st && st.error() == "failed to fill whole buffer", "a cut body ends the loop");
  else
    fuzz::check(st.ok(), "the loop ends cleanly", st.ok() ? "" : st.error());

  std::string_view replies = out.out;
  for (size_t i = 0; i < frames; ++i) {
    fuzz::check(replies.size() >= 4, "a reply is missing");
    const uint32_t len = le32(replies);
    fuzz::check(replies.size() - 4 >= len, "a reply frame is cut");
    fuzz::check_reply(replies.substr(4, len));
    replies.remove_prefix(4 + len);
  }
  fuzz::check(replies.empty(), "more replies than frames", replies);

  // Keep the log of declined downloads from filling the disk.
  std::error_code ec;
  if (fs::file_size(g_data / "logs" / "qtm.log", ec) > (1u << 20) && !ec)
    fs::remove(g_data / "logs" / "qtm.log", ec);
  return 0;
}
