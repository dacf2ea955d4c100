#include "base/error_messages.h"

#include <array>

#include "base/run_error.h"

namespace r7 {

namespace {

struct Entry {
  int number;
  const char* text;
};

constexpr std::array<Entry, 30> kMessages{{
    {2, "SYNTAX ERROR"},
    {3, "RETURN WITHOUT GOSUB ERROR"},
    {4, "OUT OF DATA ERROR"},
    {5, "ILLEGAL FUNCTION CALL ERROR"},
    {6, "OVERFLOW ERROR"},
    {7, "OUT OF MEMORY ERROR"},
    {9, "SUBSCRIPT OUT OF RANGE ERROR"},
    {10, "DUPLICATE DEFINITION ERROR"},
    {11, "DIVISION BY ZERO ERROR"},
    {13, "TYPE MISMATCH ERROR"},
    {14, "OUT OF STRING SPACE ERROR"},
    {16, "STRING FORMULA TOO COMPLEX ERROR"},
    {19, "NO RESUME ERROR"},
    {20, "RESUME WITHOUT ERROR ERROR"},
    {24, "DEVICE TIMEOUT ERROR"},
    {25, "DEVICE FAULT ERROR"},
    {27, "THE PRINTER IS OUT OF PAPER"},
    {51, "INTERNAL ERROR"},
    {54, "BAD FILE MODE"},
    {55, "FILE ALREADY OPEN ERROR"},
    {58, "FILE ALREADY EXISTS ERROR"},
    {61, "THE FLOPPY DISK IS FULL"},
    {62, "INPUT PAST END OF FILE ERROR"},
    {64, "BAD FILE NAME ERROR"},
    {68, "DEVICE IS UNAVAILABLE"},
    {70, "PERMISSION TO FILE IS DENIED"},
    {71, "DISK ERROR READING DRIVE MAKE SURE DRIVE DOOR IS CLOSED & DISK IS INSTALLED CORRECTLY "},
    {72, "DISK MEDIA ERROR"},
    {75, "PATH/FILE ACCESS ERROR"},
    {76, "PATH NOT FOUND ERROR"},
}};

}  // namespace

std::optional<std::string> error_message_text(int number, const std::string& file) {
  if (number == 53) {
    return "FILE NOT FOUND ERROR INSTALL DISK WITH FILE " + file + " INTO DRIVE A";
  }
  for (const Entry& e : kMessages) {
    if (e.number == number) return std::string(e.text);
  }
  return std::nullopt;
}

void show_error_message(Prompts& prompts, int number, const std::string& file,
                        const std::string& detail) {
  const std::string title = "Error " + std::to_string(number);
  if (auto text = error_message_text(number, file)) {
    prompts.message(detail.empty() ? *text : *text + "\r" + detail, title, Icon::Critical);
    return;
  }
  const std::string text =
      "ERROR NUMBER " + std::to_string(number) + " CHECK VB MANUAL FOR DESCRIPTION";
  prompts.message(text, title, Icon::Critical);
  throw ProgramEnd(text);
}

}  // namespace r7
