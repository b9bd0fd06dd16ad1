#pragma once
// The one way to the application: send the request, and when the application
// is not running, start it and keep trying until it answers.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "host/why.hpp"
#include "ipc/request.hpp"

namespace nm::host {

namespace fs = std::filesystem;

inline constexpr std::string_view kAppProgram = "qartorvaneldownloadmanager.exe";
// Beside the host: a file naming another program to start.
inline constexpr std::string_view kAppPathFile = "app-path";
inline constexpr std::string_view kDidNotStart = "QAR Torvanel Download Manager did not start";

// What the browser is told of a delivery: nothing but success, or the why and
// error text of its reply.
struct Outcome {
  // None when delivered. refused: the application's refusal or a failed
  // exchange; too_large: the application refused the request for its size;
  // not_running: the application could not be started or did not answer.
  std::optional<Why> why;
  std::string text;  // the reply's error text; empty when delivered

  static Outcome delivered() { return {}; }
  static Outcome not_running(std::string text) { return {Why::not_running, std::move(text)}; }
  bool operator==(const Outcome&) const = default;
};

struct StartTimings {
  unsigned retry_ms = 100;
  int64_t limit_ms = 20000;
  // An ended process counts as a failed start only after this much time, so
  // that a launcher may hand over to a running instance.
  int64_t grace_ms = 5000;
};

// Fixed when the program starts and handed down to every delivery.
struct DeliverSettings {
  StartTimings timings;
  // The host executable's path; the running executable's when none.
  std::optional<fs::path> exe_path;
  // The Safari run mode: the application bundle around the host is opened
  // instead of the application beside it.
  bool safari_mode = false;
};

Outcome deliver_to_app(const ipc::AppRequest& request, const DeliverSettings& settings);

// The program to start: the trimmed content of `app-path` when there is one
// that is UTF-8 and not blank (a relative path taken from exe_dir), else the
// application beside the host.
fs::path program_to_start(const fs::path& exe_dir, const std::optional<std::string>& app_path);
// The nearest of the path itself and its ancestors whose last component has
// the extension "app".
std::optional<fs::path> find_app_bundle(const fs::path& exe);

}  // namespace nm::host
