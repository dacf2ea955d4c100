#include "setup/setup_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include "base/input_file.h"
#include "base/run_error.h"

namespace r7 {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

TextLines split_text_lines(std::string_view content) {
  TextLines lines;
  std::size_t start = 0;
  int number = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    const bool last = end == std::string_view::npos;
    if (last) end = content.size();
    std::size_t stop = end;
    if (!last && stop > start && content[stop - 1] == '\r') --stop;
    lines.push_back(TextLine{++number, std::string(content.substr(start, stop - start))});
    start = last ? end : end + 1;
  }
  return lines;
}

TextLines read_text_lines(const std::filesystem::path& file, std::uintmax_t max_bytes) {
  std::ifstream in = open_input_file(file, max_bytes);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw RunError(err::kPathFileAccess, "cannot read", file.string());
  return split_text_lines(content);
}

std::string number_text(double value) {
  if (value == 0) return "0";
  if (std::nearbyint(value) == value && std::fabs(value) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", value);
    return buf;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.7g", value);
  return buf;
}

std::optional<float> reg_number(std::string_view line) {
  std::size_t k = 0;
  while (k < line.size() && is_digit(line[k]))
    ++k;
  const std::size_t take = k == 0 ? 2 : k + 1;
  const auto v = parse_number(line.substr(0, std::min(take, line.size())));
  if (!v || std::fabs(*v) > 3.4e38) return std::nullopt;
  return static_cast<float>(*v);
}

int reg_number_or_throw(std::string_view line, const std::string& file) {
  const auto v = reg_number(line);
  if (!v) throw RunError(err::kTypeMismatch, "no register number: " + std::string(line), file);
  const double r = std::nearbyint(*v);
  if (r < 0 || r > 65535) throw RunError(err::kIllegalFunctionCall, "Bad REGISTER entered.", file);
  return static_cast<int>(r);
}

std::string trim_blanks(std::string_view text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && text[b] == ' ')
    ++b;
  while (e > b && text[e - 1] == ' ')
    --e;
  return std::string(text.substr(b, e - b));
}

bool starts_with_digit(std::string_view text) {
  return !text.empty() && is_digit(text.front());
}

std::string quoted_line(std::string_view text) {
  constexpr std::size_t kQuotedMax = 200;
  std::string quoted;
  for (const char c : text.substr(0, kQuotedMax)) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F) {
      quoted += c;
    } else if (c == '\t') {
      quoted += "<TAB>";
    } else if (c == '\r') {
      quoted += "<CR>";
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      quoted += std::string("<0x") + kHex[u >> 4] + kHex[u & 0xF] + ">";
    }
  }
  if (text.size() > kQuotedMax) {
    quoted += "... (" + std::to_string(text.size()) + " characters)";
  }
  return quoted;
}

}  // namespace r7
