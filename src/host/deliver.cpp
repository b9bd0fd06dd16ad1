#include "host/deliver.hpp"

#include "base/text.hpp"
#include "ipc/send.hpp"
#include "os/clock.hpp"
#include "os/fs.hpp"
#include "os/process.hpp"

namespace nm::host {

namespace {

// The one mapping from the application's answer to the reply's why.
Outcome from_answer(ipc::AppAnswer answer) {
  switch (answer.kind) {
    case ipc::AppAnswer::Kind::delivered: return Outcome::delivered();
    case ipc::AppAnswer::Kind::too_large: return {Why::too_large, std::move(answer.text)};
    case ipc::AppAnswer::Kind::failed:
    case ipc::AppAnswer::Kind::unreachable: break;
  }
  return {Why::refused, std::move(answer.text)};
}

Result<fs::path> exe_dir_of(const fs::path& exe) {
  if (!exe.has_parent_path() || exe.parent_path() == exe) return Error{"no exe dir"};
  return exe.parent_path();
}

template <class Char>
bool has_app_extension(const std::basic_string<Char>& name) {
  const size_t dot = name.rfind(Char('.'));
  if (dot == std::basic_string<Char>::npos || dot == 0) return false;
  const std::basic_string<Char> ext = name.substr(dot + 1);
  return ext.size() == 3 && ext[0] == Char('a') && ext[1] == Char('p') && ext[2] == Char('p');
}

std::optional<std::string> read_app_path(const fs::path& exe_dir) {
  auto text = os::read_file(exe_dir / kAppPathFile);
  if (!text) return std::nullopt;
  return std::move(text).value();
}

// Starts the application; the error is the not-running text.
Result<os::Process> start_app(const fs::path& exe, const fs::path& exe_dir, bool safari_mode) {
  if (safari_mode) {
    const auto bundle = find_app_bundle(exe);
    if (!bundle) return Error{os::path_display(exe) + " is in no app"};
    auto p = os::open_app_bundle(*bundle);
    if (!p)
      return Error{"cannot start " + os::path_display(*bundle) + ": " + p.error(), p.error_kind()};
    return p;
  }
  const fs::path program = program_to_start(exe_dir, read_app_path(exe_dir));
  auto p = os::start_program(program, {}, os::StartMode::detached_from_job);
  // Inside a job that does not allow leaving it, start without asking to.
  if (!p) p = os::start_program(program, {}, os::StartMode::detached);
  if (!p)
    return Error{"cannot start " + os::path_display(program) + ": " + p.error(), p.error_kind()};
  return p;
}

}  // namespace

fs::path program_to_start(const fs::path& exe_dir, const std::optional<std::string>& app_path) {
  if (app_path && base::is_valid_utf8(*app_path)) {
    const std::string_view path = base::trim_unicode(*app_path);
    // A relative path is the installation's, not whatever folder the
    // browser happened to start the host in.
    if (!path.empty()) return exe_dir / os::path_from_utf8(path);
  }
  return exe_dir / kAppProgram;
}

std::optional<fs::path> find_app_bundle(const fs::path& exe) {
  fs::path p = exe;
  for (;;) {
    if (has_app_extension(p.filename().native())) return p;
    if (!p.has_parent_path() || p.parent_path() == p) return std::nullopt;
    p = p.parent_path();
  }
}

Outcome deliver_to_app(const ipc::AppRequest& request, const DeliverSettings& settings) {
  // The exchange lets a live application's window come to the front.
  ipc::AppAnswer first = ipc::send_to_app(request);
  if (first.kind != ipc::AppAnswer::Kind::unreachable) return from_answer(std::move(first));

  Result<fs::path> exe = settings.exe_path ? Result<fs::path>(*settings.exe_path) : os::exe_path();
  if (!exe) return Outcome::not_running(exe.error());
  const auto dir = exe_dir_of(*exe);
  if (!dir) return Outcome::not_running(dir.error());

  auto started = start_app(*exe, *dir, settings.safari_mode);
  if (!started) return Outcome::not_running(started.error());
  os::Process& app = *started;
  os::allow_set_foreground(app.pid());

  const StartTimings& t = settings.timings;
  const int64_t start = os::monotonic_ns();
  const auto elapsed_ns = [start] { return os::monotonic_ns() - start; };
  for (;;) {
    if (elapsed_ns() >= t.limit_ms * 1000000)
      return Outcome::not_running(std::string(kDidNotStart));
    os::sleep_ms(t.retry_ms);
    ipc::AppAnswer answer = ipc::send_to_app(request);
    if (answer.kind != ipc::AppAnswer::Kind::unreachable) return from_answer(std::move(answer));
    // `open` hands the bundle over and ends; its end tells nothing.
    if (settings.safari_mode) continue;
    if (app.state() == os::ProcessState::ended && elapsed_ns() > t.grace_ms * 1000000)
      return Outcome::not_running(std::string(kDidNotStart));
  }
}

}  // namespace nm::host
