#pragma once
// One exchange with the running application: one request line over a new
// connection to 127.0.0.1, one answer line back.
#include <filesystem>
#include <string>
#include <string_view>

#include "ipc/request.hpp"

namespace nm::ipc {

namespace fs = std::filesystem;

inline constexpr int kConnectTimeoutMs = 500;
// A send that makes no progress for this long ends the exchange: an
// application that accepts and never reads must not hold the host.
inline constexpr int kSendStallMs = 2000;
// One deadline for the whole answer line, counted from the end of the request.
inline constexpr int kAnswerTimeoutMs = 2000;
// The longest answer line read, its line feed not counted: ample for any real
// answer, and a bound on what a faulty application costs the host. A longer
// line is a failure: "answer line longer than N bytes", N being this limit.
inline constexpr size_t kMaxAnswerBytes = 64 * 1024;

struct AppAnswer {
  // too_large: the application refused the request for its size.
  enum class Kind { unreachable, failed, too_large, delivered };
  Kind kind = Kind::unreachable;
  // unreachable: a description for developers; failed and too_large: the
  // text for the user.
  std::string text;

  static AppAnswer unreachable(std::string why) { return {Kind::unreachable, std::move(why)}; }
  static AppAnswer failed(std::string text) { return {Kind::failed, std::move(text)}; }
  static AppAnswer too_large(std::string text) { return {Kind::too_large, std::move(text)}; }
  static AppAnswer delivered() { return {Kind::delivered, {}}; }
  bool operator==(const AppAnswer&) const = default;
};

// What an answer line (as read, line feed included) means.
AppAnswer interpret_answer(std::string_view line);

// Reads the endpoint file of the current data directory afresh and makes the
// exchange with it.
AppAnswer send_to_app(const AppRequest& request);
// The same with the endpoint file of `dir`.
AppAnswer send_to_app_in(const fs::path& dir, const AppRequest& request);

}  // namespace nm::ipc
