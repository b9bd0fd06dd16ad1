// What the host shares with the application: the capture options it reads
// from downloads.json, and the endpoint file through which it reaches the
// running application.
#include "base/text.hpp"
#include "capture/patterns.hpp"
#include "doctor/doctor.hpp"
#include "ipc/endpoint.hpp"
#include "ipc/send.hpp"
#include "os/fs.hpp"
#include "os/lookup.hpp"
#include "os/net.hpp"

namespace nm::doctor {

namespace {

constexpr std::string_view kBomSentence =
    " The file begins with a UTF-8 byte-order mark, which is not accepted: save it as UTF-8 "
    "without one";

// "(text)": what a value means, beside it or in its place.
std::string aside(std::string_view text) {
  std::string out = "(";
  out += text;
  out += ')';
  return out;
}

// One summary for each kind of option; `builtin` is the option's default.
std::string summary(const capture::CaptureOption&, bool b, bool) {
  return b ? "true" : "false";
}

std::string summary(const capture::CaptureOption& o, const std::string& text,
                    const std::string& builtin) {
  const size_t n = capture::split_words(text).size();
  if (n == 0) return aside(o.empty);
  std::string out = text == builtin ? std::string("the built-in list") : in_quotes(text);
  out += ' ';
  out += aside(std::to_string(n) + " " + std::string(o.unit));
  return out;
}

std::string summary(const capture::CaptureOption& o, const std::vector<std::string>& list,
                    const std::vector<std::string>&) {
  std::string out;
  for (const auto& a : list) out += (out.empty() ? "" : ", ") + in_quotes(a);
  return out.empty() ? aside(o.empty) : out;
}

std::string summary(const capture::CaptureOption& o, const capture::BrowserTicks& browsers,
                    const capture::BrowserTicks&) {
  std::string out;
  for (const auto& [name, ticked] : browsers)
    out += (out.empty() ? "" : ", ") + in_quotes(name) + (ticked ? " ticked" : " unticked");
  return out.empty() ? aside(o.empty) : out;
}

std::string summary(const capture::CaptureOption& o, uint64_t size, uint64_t) {
  return std::to_string(size) + " " + aside(size == 0 ? o.empty : o.unit);
}

}  // namespace

std::vector<std::string> describe_options(const capture::CaptureRules& rules) {
  const auto builtin = capture::CaptureRules::defaults();
  std::vector<std::string> out;
  for (const auto& option : capture::kCaptureOptions) {
    const auto line = [&](auto field) {
      return std::string(option.key) + " = " + summary(option, rules.*field, builtin.*field);
    };
    out.push_back(std::visit(line, option.field));
  }
  return out;
}

void check_settings(const fs::path& data_dir, Report& r) {
  const std::string name(capture::kSettingsFile);
  const fs::path path = data_dir / capture::kSettingsFile;
  const FileRead file = read_if_present(path);
  r.options = capture::CaptureRules::defaults();
  switch (file.state) {
    case FileRead::State::absent:
      r.add(Verdict::ok, name, "not there, so every capture option is at its default");
      break;
    case FileRead::State::unreadable:
      r.add(Verdict::problem, name,
            os::path_display(path) + " cannot be read (" + file.bytes +
                "), so every capture option is at its default");
      break;
    case FileRead::State::read: {
      auto rules = capture::read_capture_rules(file.bytes);
      if (rules) {
        r.options = std::move(rules).value();
        r.add(Verdict::ok, name, "valid; the options below are in effect");
        break;
      }
      std::string why = "discarded: " + rules.error() +
                        ". Because of this one error every capture option is at its default, "
                        "the valid ones included.";
      if (has_bom(file.bytes)) why += std::string(kBomSentence) + ".";
      r.add(Verdict::problem, name, why);
      break;
    }
  }

  const auto& o = r.options;
  std::string trouble;
  if (!o.advanced_integration)
    trouble =
        "browser integration is switched off (Options > General > Use advanced browser "
        "integration), so every download stays with the browser";
  else if (capture::split_words(o.auto_types).empty())
    trouble =
        "the file type list (Options > File types) is empty, so every download stays with "
        "the browser";
  if (!trouble.empty())
    r.add(Verdict::warning, "capture options", trouble, describe_options(o));
  else
    r.add(Verdict::ok, "capture options",
          "these apply to the next message from the browser:", describe_options(o));
}

AppProbe system_probe() {
  AppProbe p;
  p.connect = [](uint16_t port) -> Status {
    auto stream = os::TcpStream::connect_loopback(port, ipc::kConnectTimeoutMs);
    if (!stream) return stream.failure();
    return {};
  };
  p.process_exists = [](uint32_t pid) { return os::process_exists(pid); };
  return p;
}

namespace {

// Whether something listens on the endpoint's port, and what that means
// with the process's state beside it.
void check_app_port(const std::string& where, uint32_t pid, const Status& connected,
                    std::optional<bool> runs, Report& r) {
  if (connected) {
    r.add(Verdict::ok, "application port",
          "something listens on " + where + " (it was not sent a request)");
  } else if (runs == true) {
    r.add(Verdict::problem, "application port",
          "nothing answers on " + where + " (" + connected.error() + ") although process " +
              std::to_string(pid) +
              " runs: the application may be stuck, or something blocks connections on this "
              "computer's loopback address");
  } else {
    r.add(Verdict::warning, "application port",
          "nothing listens on " + where + " (" + connected.error() +
              "): ipc.json is stale, left by an application that is no longer running. The host "
              "starts the application when it has something to hand over");
  }
}

// Whether the endpoint's process runs, and what that means with the port's
// state beside it.
void check_app_process(const std::string& where, uint32_t pid, bool connected,
                       std::optional<bool> runs, Report& r) {
  if (!pid) {
    r.add(Verdict::ok, "application process",
          "ipc.json names no process, so the host cannot let the application bring its window to "
          "the front");
  } else if (runs == true) {
    r.add(Verdict::ok, "application process", "process " + std::to_string(pid) + " is running");
  } else if (runs == false) {
    r.add(Verdict::warning, "application process",
          "process " + std::to_string(pid) + " is not running" +
              (connected ? std::string(", yet something listens on " + where +
                                       ": another program holds the port. The host sends it "
                                       "nothing and starts the application instead, which writes "
                                       "ipc.json anew")
                         : std::string()));
  } else {
    r.add(Verdict::warning, "application process",
          "the system does not say whether process " + std::to_string(pid) + " runs");
  }
}

}  // namespace

void check_endpoint(const fs::path& data_dir, const AppProbe& probe, Report& r) {
  const std::string name = ipc::kEndpointFile;
  const fs::path path = data_dir / ipc::kEndpointFile;
  const FileRead file = read_if_present(path);
  if (file.state == FileRead::State::absent) {
    r.add(Verdict::warning, name,
          "not there: the application is not running (it writes this file while it runs). The "
          "host starts it when it has something to hand over");
    return;
  }
  if (file.state == FileRead::State::unreadable) {
    r.add(Verdict::problem, name,
          os::path_display(path) + " cannot be read (" + file.bytes +
              "), so the host cannot reach the application");
    return;
  }
  auto endpoint = ipc::parse_endpoint(file.bytes);
  if (!endpoint) {
    std::string why = "malformed: " + endpoint.error() +
                      ". The host cannot reach the application until the application writes the "
                      "file anew (restart it).";
    if (has_bom(file.bytes)) why += std::string(kBomSentence) + ".";
    r.add(Verdict::problem, name, why);
    return;
  }
  const uint16_t port = endpoint->port;
  const uint32_t pid = endpoint->pid;
  r.add(Verdict::ok, name,
        "valid: port " + std::to_string(port) +
            (pid ? ", process id " + std::to_string(pid) : ", no process id"));

  const Status connected = probe.connect(port);
  std::optional<bool> runs;
  if (pid) runs = probe.process_exists(pid);
  const std::string where = "127.0.0.1:" + std::to_string(port);
  check_app_port(where, pid, connected, runs, r);
  check_app_process(where, pid, connected.ok(), runs, r);
}

}  // namespace nm::doctor
