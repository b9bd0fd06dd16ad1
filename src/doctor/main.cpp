// nmhost-doctor: run by hand to see why a browser cannot reach the host or
// why capture options seem ignored. It reads and reports; it changes nothing.
#include <string>

#include "doctor/doctor.hpp"
#include "os/console.hpp"

namespace {

constexpr std::string_view kUsage =
    "Usage: nmhost-doctor [--json]\n"
    "\n"
    "Checks how QAR Torvanel Download Manager's browser integration is set up on\n"
    "this computer and says what it finds, one line per check: \"ok\", \"warning\"\n"
    "or \"problem\", then what was checked and what it means. Nothing is changed.\n"
    "\n"
    "  --json   one JSON object instead of text, to attach to a support request\n"
    "  --help   this text\n"
    "\n"
    "Exit code: 0 when no check found a problem, 1 otherwise.\n";

}  // namespace

int main(int argc, char** argv) {
  nm::os::init_stdio();
  bool as_json = false;
  for (const std::string& arg : nm::os::arguments(argc, argv)) {
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      (void)nm::os::write_stdout_text(kUsage);
      return 0;
    }
    if (arg == "--json") {
      as_json = true;
      continue;
    }
    nm::os::write_stderr("nmhost-doctor: unknown option " + arg + "\n\n" + std::string(kUsage));
    return 1;
  }
  const nm::doctor::Report report = nm::doctor::run_all();
  const std::string out =
      as_json ? nm::doctor::render_json(report) : nm::doctor::render_text(report);
  if (!nm::os::write_stdout_text(out)) return 1;
  return nm::doctor::exit_code(report);
}
