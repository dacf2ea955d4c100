#include "base/numbers.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

namespace r7 {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

struct Rules {
  bool blanks_inside = false;  // a typed field: blanks between digits are passed over
  bool fraction = true;
  bool exponent = true;
  bool d_exponent = false;  // "1D3" as well as "1E3"
};

struct Scan {
  std::string number;   // what was taken, ready for from_chars
  std::size_t end = 0;  // first character not taken
  bool digits = false;
};

class Scanner {
 public:
  Scanner(std::string_view text, Rules rules) : text_(text), rules_(rules) {}

  Scan run() {
    skip_blanks(true);
    if (at_any("+-")) {
      if (text_[i_] == '-') scan_.number += '-';
      ++i_;
    }
    scan_.digits = take_digits();
    if (rules_.fraction && at_any(".")) take_fraction();
    if (scan_.digits && rules_.exponent) take_exponent();
    scan_.end = i_;
    return scan_;
  }

 private:
  bool at_any(std::string_view chars) const {
    return i_ < text_.size() && chars.find(text_[i_]) != std::string_view::npos;
  }
  void skip_blanks(bool always) {
    if (!always && !rules_.blanks_inside) return;
    const std::string_view blanks = rules_.blanks_inside ? " \t\n" : " \t";
    while (i_ < text_.size() && blanks.find(text_[i_]) != std::string_view::npos)
      ++i_;
  }
  bool take_digits() {
    bool any = false;
    for (skip_blanks(false); i_ < text_.size() && is_digit(text_[i_]); skip_blanks(false)) {
      scan_.number += text_[i_++];
      any = true;
    }
    return any;
  }
  void take_fraction() {
    const std::size_t at = i_++;
    const std::size_t before = scan_.number.size();
    scan_.number += '.';
    if (take_digits()) {
      scan_.digits = true;
    } else {
      scan_.number.resize(before);
      if (!scan_.digits) i_ = at;
    }
  }
  void take_exponent() {
    if (!at_any(rules_.d_exponent ? "EeDd" : "Ee")) return;
    const std::size_t at = i_++;
    const std::size_t mantissa_end = scan_.number.size();
    scan_.number += 'e';
    skip_blanks(false);
    if (at_any("+-")) scan_.number += text_[i_++];
    if (!take_digits()) {  // "12E" is 12
      scan_.number.resize(mantissa_end);
      i_ = at;
    }
  }

  std::string_view text_;
  Rules rules_;
  std::size_t i_ = 0;
  Scan scan_;
};

double to_double(const std::string& number) {
  double value = 0.0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Beyond the range of a double: far outside every accepted value either way.
    const bool tiny = number.find("e-") != std::string::npos;
    if (tiny) return 0.0;
    return number.front() == '-' ? -HUGE_VAL : HUGE_VAL;
  }
  return value;
}

}  // namespace

std::optional<double> parse_number(std::string_view text) {
  const Scan scan = Scanner(text, Rules{}).run();
  if (!scan.digits) return std::nullopt;
  std::size_t end = scan.end;
  while (end < text.size() && (text[end] == ' ' || text[end] == '\t'))
    ++end;
  if (end != text.size()) return std::nullopt;
  const double v = to_double(scan.number);
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<int> parse_digits(std::string_view text) {
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (!is_digit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return std::nullopt;
  }
  return static_cast<int>(value);
}

double leading_number(std::string_view text) {
  const Scan scan = Scanner(text, Rules{true, true, true, true}).run();
  return scan.digits ? to_double(scan.number) : 0.0;
}

long leading_integer(std::string_view text) {
  const Scan scan = Scanner(text, Rules{false, false, false, false}).run();
  if (!scan.digits) return 0;
  long value = 0;
  const auto [end, ec] =
      std::from_chars(scan.number.data(), scan.number.data() + scan.number.size(), value);
  if (ec == std::errc::result_out_of_range) return scan.number.front() == '-' ? LONG_MIN : LONG_MAX;
  return value;
}

std::string minutes_seconds(std::int64_t seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld:%02lld", static_cast<long long>(seconds / 60),
                static_cast<long long>(seconds % 60));
  return buf;
}

}  // namespace r7
