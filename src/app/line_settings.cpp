#include "app/line_settings.h"

#include <array>
#include <cctype>
#include <cmath>

#include "base/numbers.h"

namespace r7 {

namespace {

constexpr double kBitsPerChar = 11.0;
constexpr std::size_t kMinSettingsLength = 9;
constexpr std::size_t kMaxSettingsLength = 11;
constexpr int kFirstPort = 1;
constexpr int kLastPort = 4;
constexpr std::array<double, 8> kDialogBaudRates{300, 600, 1200, 2400, 4800, 9600, 19200, 38400};

bool whole(double v) {
  return std::isfinite(v) && v == std::floor(v);
}

}  // namespace

std::optional<int> settings_baud(std::string_view settings) {
  const auto baud = parse_digits(settings.substr(0, settings.find(',')));
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
  const auto data = parse_digits(parts[2]);
  if (!data || *data < 5 || *data > 8) return std::nullopt;
  result.data_bits = *data;
  const auto stop = parse_digits(parts[3]);
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

bool settings_string_usable(std::string_view settings) {
  return settings.size() >= kMinSettingsLength && settings.size() <= kMaxSettingsLength &&
         settings_baud(settings).has_value();
}

bool line_field_accepted(LineField field, std::string_view text) {
  const double v = leading_number(text);
  switch (field) {
    case LineField::Port:  // "2.5" is no port, though its value lies in 1..4
      return whole(v) && v >= kFirstPort && v <= kLastPort;
    case LineField::Baud:
      for (double rate : kDialogBaudRates) {
        if (v == rate) return true;
      }
      return false;
    case LineField::Parity:
      return text.size() == 1 && std::string_view("NnOoEe").find(text[0]) != std::string_view::npos;
    case LineField::DataBits:
      return v == 7 || v == 8;
    case LineField::StopBits:
      return v == 1 || v == 2;
  }
  return false;
}

std::string stored_line_field(LineField field, std::string_view text) {
  if (field == LineField::Parity) return std::string(text);
  return std::to_string(static_cast<long long>(leading_number(text)));
}

}  // namespace r7
