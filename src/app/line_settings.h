// Settings strings "baud,parity,data bits,stop bits" ("9600,N,8,1",
// "38400,n,8,1") and the timing figures derived from them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace r7 {

struct LineSettings {
  int baud = 9600;
  char parity = 'N';  // N, E, O, M or S (upper case)
  int data_bits = 8;  // 5..8
  int stop_bits = 1;  // 1 or 2
};

// The baud part (before the first comma) when it is a whole number above 0.
std::optional<int> settings_baud(std::string_view settings);

// All four parts, or nullopt when any of them is not one the line can take.
// No flow control and no other options: the line is always plain.
std::optional<LineSettings> parse_line_settings(std::string_view settings);

// Whether init_comms can use a settings string from the settings file: 9 to
// 11 characters with a baud part above 0 ("NO PORT DATA", the missing key's
// default, has 12 and never can).
bool settings_string_usable(std::string_view settings);

// The fields of one slot in the port settings dialog.
enum class LineField { Port, Baud, Parity, DataBits, StopBits };

// Whether the dialog accepts `text` for `field`: port a whole number 1 to 4;
// baud 300, 600, 1200, 2400, 4800, 9600, 19200 or 38400; parity one of N, O,
// E in either case; data bits 7 or 8; stop bits 1 or 2. Numeric fields are
// read as far as they form a number (leading_number): "9600abc" is 9600.
bool line_field_accepted(LineField field, std::string_view text);

// An accepted field as it is stored in the settings file: numbers as plain
// decimal text ("9600abc" -> "9600", so the string stays one that init_comms
// and the serial port can read back), the parity letter as typed.
std::string stored_line_field(LineField field, std::string_view text);

// The inter-byte wait of a slot: 10000 / baud to the nearest whole number,
// and 1 when that gives 0 (300 -> 33, 1200 -> 8, 9600 -> 1, 38400 -> 1).
int char_gap_for_baud(int baud);

// Milliseconds one character takes on the line, counted as 11 bits (start,
// 8 data, parity, stop) whatever the settings: 9600 baud -> 1.146 ms,
// 300 baud -> 36.67 ms.
double char_time_ms(int baud);

}  // namespace r7
