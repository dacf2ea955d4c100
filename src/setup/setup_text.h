// Text helpers shared by the setup save and restore: numbers as the setup
// window converts and prints them, register numbers at the start of a line,
// and text files split into numbered lines.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/numbers.h"

namespace r7 {

// One line of a text file, without its line break; `number` counts from 1.
struct TextLine {
  int number = 0;
  std::string text;
};
using TextLines = std::vector<TextLine>;

// Splits text at LF, dropping one CR before each LF (CR LF and LF files read
// alike). A last line without a line break is a line; a final line break does
// not start another one.
TextLines split_text_lines(std::string_view content);

// Reads a whole text file as lines. RunError 53 when it does not exist, 75
// when it is not a regular file or cannot be read, 7 when it is larger than
// `max_bytes` (see open_input_file).
TextLines read_text_lines(const std::filesystem::path& file,
                          std::uintmax_t max_bytes = 64U * 1024U * 1024U);

// A number in its shortest decimal form: whole numbers without a decimal point
// (4000, -32002), others with up to seven significant digits.
std::string number_text(double value);

// The register number at the start of a line: the leading decimal digits and
// the one character after them are converted (the first two characters when
// the line does not begin with a digit). nullopt when that conversion fails.
std::optional<float> reg_number(std::string_view line);

// The register number of a line, or RunError 13 (type mismatch) naming `file`
// when the line has none, RunError 5 when it is no register (outside 0..65535).
int reg_number_or_throw(std::string_view line, const std::string& file = {});

// Blanks removed from both ends (tabs are kept, as the window's Trim does).
std::string trim_blanks(std::string_view text);

bool starts_with_digit(std::string_view text);

// A line of a file as a message quotes it: control characters shown by name
// ("<TAB>", "<CR>", "<0x1B>"), lines over 200 characters cut there with their
// length given.
std::string quoted_line(std::string_view text);

}  // namespace r7
