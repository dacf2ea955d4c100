// Text typed into fields: serial line settings (the port settings dialog and
// the settings file) and the command line's hex bytes. No crash; what is
// accepted is stored in a form that is accepted again and reads back the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/line_settings.h"
#include "fuzz/check.h"
#include "serial/comms.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto s = r7::parse_line_settings(text)) {
    check(s->baud > 0 && s->data_bits >= 5 && s->data_bits <= 8);
    check(s->stop_bits == 1 || s->stop_bits == 2);
  }
  if (r7::settings_string_usable(text)) check(r7::settings_baud(text).has_value());
  using r7::LineField;
  for (LineField f : {LineField::Port, LineField::Baud, LineField::Parity, LineField::DataBits,
                      LineField::StopBits}) {
    if (!r7::line_field_accepted(f, text)) continue;
    const std::string stored = r7::stored_line_field(f, text);
    check(r7::line_field_accepted(f, stored) && r7::stored_line_field(f, stored) == stored);
  }
  if (const auto bytes = r7::parse_hex_bytes(text)) {
    check(!bytes->empty() && r7::parse_hex_bytes(r7::hex_bytes(*bytes)) == bytes);
  }
  return 0;
}
