#include "host/app.hpp"

#include <algorithm>

#include "base/text.hpp"
#include "host/extension_ids.hpp"
#include "host/framing.hpp"
#include "host/host_loop.hpp"
#include "host/registration.hpp"
#include "os/console.hpp"

namespace nm::host {

void report_error(std::string_view text) {
  std::string line(kErrorPrefix);
  line += text;
  line += '\n';
  os::write_stderr(line);
}

static int host_loop(const DeliverSettings& to_app) {
  StdinSource in;
  StdoutSink out;
  if (auto st = run_host(in, out, to_app); !st) {
    report_error(st.error());
    return 1;
  }
  return 0;
}

// A registration mode's result line on standard output, or its error.
static int finish(const Result<std::string>& line) {
  if (!line) {
    report_error(line.error());
    return 1;
  }
  if (const Status st = os::write_stdout(*line); !st) {
    report_error(st.error());
    return 1;
  }
  return 0;
}

static bool accepted_caller(const std::vector<std::string>& args) {
  // Chromium browsers pass the caller's origin first; Firefox-family
  // browsers pass the manifest path first and the add-on id second.
  const auto origins = allowed_origins();
  if (std::find(origins.begin(), origins.end(), args[0]) != origins.end()) return true;
  return args.size() >= 2 && args[1] == kFirefoxAddonId;
}

int run(const std::vector<std::string>& args) {
  const bool all_users = std::find(args.begin(), args.end(), "--all-users") != args.end();
  const os::Hive hive = all_users ? os::Hive::local_machine : os::Hive::current_user;

  if (!args.empty()) {
    const std::string& mode = args[0];
    if (mode == "--safari") {
      DeliverSettings safari;
      safari.safari_mode = true;
      return host_loop(safari);
    }
    if (mode == "--register") return finish(register_host(hive));
    if (mode == "--unregister") return finish(unregister_host(hive));
    if (mode == "--package-manifests") {
      report_error("--package-manifests: the .deb and .rpm are Linux's");
      return 1;
    }
    if (accepted_caller(args)) return host_loop({});
  }
  report_error("refusing caller " + base::quote_debug_list(args) +
               ": not the QAR Torvanel Download Manager extension");
  return 1;
}

}  // namespace nm::host
