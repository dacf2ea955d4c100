// Numbers as the program reads them from text: one scanner, three ways of
// using it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace r7 {

// The whole text as a number: blanks and tabs around it are ignored; an
// optional sign, digits with at most one decimal point (at least one digit),
// an optional exponent. Anything else (empty text, letters, a colon) fails.
std::optional<double> parse_number(std::string_view text);

// "1:05" for 65 seconds, "61:40" past the hour.
std::string minutes_seconds(std::int64_t seconds);

// Digits only ("9600"), nothing around them; nullopt otherwise or when the
// value does not fit an int.
std::optional<int> parse_digits(std::string_view text);

// The number at the start of `text`, as far as it forms one, as a typed field
// is read: blanks, tabs and line feeds are passed over (also between digits),
// then an optional sign, digits, a decimal point, more digits and an exponent
// (E or D). "9600abc" -> 9600, "" -> 0, "1.5" -> 1.5, "1 2" -> 12.
double leading_number(std::string_view text);

// An optional sign and the leading digits, as a settings-file value is read
// ("3abc" -> 3, "abc" -> 0, "3.9" -> 3). Values beyond the range of long
// saturate instead of wrapping.
long leading_integer(std::string_view text);

}  // namespace r7
