#include "nmhost/app.hpp"

#include "platform/console.hpp"

namespace nm::host {

bool safari_mode = false;

void report_error(std::string_view text) {
  std::string line(kErrorPrefix);
  line += text;
  line += '\n';
  os::write_stderr(line);
}

int run(const std::vector<std::string>& args) {
  (void)args;
  report_error("not yet");
  return 1;
}

}  // namespace nm::host
