// The settings file's text as the program reads and writes it: any bytes give
// values or defaults, never a crash; a value stored is read back as stored and
// leaves the other slots' values alone.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/settings_file.h"
#include "base/numbers.h"
#include "fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string port1 = r7::comm_port_key(1);
  const std::string setting1 = r7::port_setting_key(1);
  const auto before = r7::settings_value(text, r7::kCommsSection, setting1);
  if (const auto port = r7::settings_value(text, r7::kCommsSection, port1)) {
    (void)r7::leading_integer(*port);
  }
  const auto written = r7::with_settings_value(text, r7::kCommsSection, port1, "3");
  if (written) {
    check(r7::settings_value(*written, r7::kCommsSection, port1) == "3");
    // A key that was read before reads the same after: only the port changed.
    if (before) check(r7::settings_value(*written, r7::kCommsSection, setting1) == before);
  }
  return 0;
}
