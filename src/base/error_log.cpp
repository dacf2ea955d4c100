#include "base/error_log.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <utility>

namespace r7 {

namespace {

std::string two(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

}  // namespace

ErrorLog::ErrorLog(Clock& clock, std::filesystem::path log_path)
    : clock_(clock), log_path_(std::move(log_path)) {}

std::string ErrorLog::format_line(const std::string& procedure, int number) {
  const LocalTime t = clock_.local_time();
  // The number is logged as a 16-bit integer: a blank in the sign position when
  // it is not negative, and one trailing blank.
  const auto n16 = static_cast<std::int16_t>(number);
  std::string num = n16 < 0 ? "" : " ";
  num += std::to_string(n16);
  num += ' ';
  return two(t.month) + "-" + two(t.day) + "-" + std::to_string(t.year) + ", " + two(t.hour) + ":" +
         two(t.minute) + ":" + two(t.second) + ", " + procedure + ", ERROR #, " + num;
}

void ErrorLog::log_error(const std::string& procedure, int number) {
  const std::string line = format_line(procedure, number) + "\r\n";
  std::ofstream out(log_path_, std::ios::binary | std::ios::app);
  if (!out) return;  // the line is lost; the caller's handling goes on
  out << line;
}

}  // namespace r7
