#include "serial/line_settings.h"

#include <cctype>
#include <cmath>
#include <limits>

namespace r7 {

namespace {

constexpr double kBitsPerChar = 11.0;

// A whole number made of digits only (no sign, no blanks), within int.
std::optional<int> whole_number(std::string_view text) {
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<int>::max()) return std::nullopt;
  }
  return static_cast<int>(value);
}

}  // namespace

std::optional<int> settings_baud(std::string_view settings) {
  const auto baud = whole_number(settings.substr(0, settings.find(',')));
  if (!baud || *baud <= 0) return std::nullopt;
  return baud;
}

std::optional<LineSettings> parse_line_settings(std::string_view settings) {
  std::string_view parts[4];
  std::string_view rest = settings;
  for (int i = 0; i < 4; ++i) {
    const auto comma = rest.find(',');
    if ((comma == std::string_view::npos) != (i == 3)) return std::nullopt;
    parts[i] = rest.substr(0, comma);
    if (comma != std::string_view::npos) rest.remove_prefix(comma + 1);
  }
  LineSettings result;
  const auto baud = settings_baud(settings);
  if (!baud) return std::nullopt;
  result.baud = *baud;
  if (parts[1].size() != 1) return std::nullopt;
  result.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(parts[1][0])));
  if (std::string_view("NEOMS").find(result.parity) == std::string_view::npos) return std::nullopt;
  const auto data = whole_number(parts[2]);
  if (!data || *data < 5 || *data > 8) return std::nullopt;
  result.data_bits = *data;
  const auto stop = whole_number(parts[3]);
  if (!stop || (*stop != 1 && *stop != 2)) return std::nullopt;
  result.stop_bits = *stop;
  return result;
}

int char_gap_for_baud(int baud) {
  if (baud <= 0) return 1;
  const long gap = std::lround(10000.0 / baud);
  return gap == 0 ? 1 : static_cast<int>(gap);
}

double char_time_ms(int baud) {
  return baud > 0 ? kBitsPerChar * 1000.0 / baud : 0.0;
}

}  // namespace r7
