#include "host/log.hpp"

#include <cstdint>
#include <string>

#include "ipc/data_dir.hpp"
#include "os/fs.hpp"

namespace nm::host {

namespace {

struct CivilDate {
  int64_t year;
  unsigned month;
  unsigned day;
};

// Days since 1970-01-01 to a proleptic Gregorian date (eras of 400 years).
CivilDate civil_from_days(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = static_cast<int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
  return {year, month, day};
}

// Appends the number with at least `width` digits.
void append_padded(std::string& out, int64_t value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (value < 0) out += '-';
  if (static_cast<int>(digits.size()) < width) out.append(width - digits.size(), '0');
  out += digits;
}

}  // namespace

std::string format_log_time(os::UnixTime t) {
  // Floor division, so that the calendar stays right on either side of 1970.
  int64_t days = t.seconds / 86400;
  int64_t rem = t.seconds % 86400;
  if (rem < 0) rem += 86400, --days;
  const CivilDate d = civil_from_days(days);
  std::string out;
  out.reserve(27);
  append_padded(out, d.year, 4);
  out += '-';
  append_padded(out, d.month, 2);
  out += '-';
  append_padded(out, d.day, 2);
  out += 'T';
  append_padded(out, rem / 3600, 2);
  out += ':';
  append_padded(out, rem / 60 % 60, 2);
  out += ':';
  append_padded(out, rem % 60, 2);
  out += '.';
  append_padded(out, t.nanoseconds / 1000 % 1000000, 6);
  out += 'Z';
  return out;
}

std::string log_text(os::UnixTime t, std::string_view message) {
  std::string line = format_log_time(t);
  line += kLogPrefix;
  line += message;
  line += '\n';
  return line;
}

std::filesystem::path log_file(const std::filesystem::path& data_dir) {
  return data_dir / "logs" / "qtm.log";
}

void log_line_in(const std::optional<std::filesystem::path>& data_dir, std::string_view message) {
  if (!data_dir) return;
  const std::filesystem::path file = log_file(*data_dir);
  if (!os::make_dirs(file.parent_path())) return;
  // A clock before 1970 has no time stamp; the line is dropped.
  const auto now = os::system_time_now();
  if (!now) return;
  // One append write per line, so lines of concurrent hosts never mix.
  (void)os::append_file(file, log_text(*now, message));
}

void log_line(std::string_view message) {
  log_line_in(ipc::data_dir(), message);
}

}  // namespace nm::host
