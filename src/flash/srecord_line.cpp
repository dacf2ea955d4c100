// The transfer's check of one S-record line: its byte count and checksum, and
// its address-and-data digits converted into bytes.
#include <cstdint>

#include "flash/bootloader.h"

namespace r7 {

namespace {

constexpr const char* kInvalidData = "Data file contains invalid data";

// A digit as the transfer reads it: "0"-"9", "A"-"F"; anything else (a missing
// digit included) is reported and counts as 0.
int digit(const std::string& field, std::size_t index, Prompts& prompts) {
  if (index < field.size()) {
    const char c = field[index];
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  }
  prompts.message(kInvalidData);
  return 0;
}

// A two-digit field read from its first and last character.
int two_digit_field(const std::string& field, Prompts& prompts) {
  const int high = digit(field, 0, prompts);
  const int low = digit(field, field.empty() ? 0 : field.size() - 1, prompts);
  return high * 16 + low;
}

}  // namespace

std::string check_srecord_fields(const std::string& byte_count, const std::string& address_and_data,
                                 const std::string& checksum, Prompts& prompts) {
  std::string bytes;
  const int count = two_digit_field(byte_count, prompts);
  if (static_cast<double>(address_and_data.size()) / 2.0 != count - 1) {
    prompts.message("This line byte count is not valid.");
  }
  unsigned sum = static_cast<unsigned>(count);
  for (std::size_t i = 0; i < address_and_data.size(); i += 2) {
    const int high = digit(address_and_data, i, prompts);
    const int low = digit(address_and_data, i + 1, prompts);
    const auto byte = static_cast<std::uint8_t>(high * 16 + low);
    bytes += static_cast<char>(byte);
    sum += byte;
  }
  const int check = two_digit_field(checksum, prompts);
  if (static_cast<unsigned>(check) != (~sum & 0xFFU)) {
    prompts.message("The checksum is not valid.");
  }
  return bytes;
}

}  // namespace r7
