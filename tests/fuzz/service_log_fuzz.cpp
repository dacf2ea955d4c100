// A line of the service log, as history and the log window read it. No crash;
// a line read as a record is written again as one the reader gives back
// unchanged, and every line written is valid JSON with no line end in it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/service_log.h"
#include "fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  if (const auto record = r7::parse_service_record(line)) {
    const std::string written = r7::service_record_json(*record);
    check(written.find('\n') == std::string::npos);
    const auto again = r7::parse_service_record(written);
    check(again.has_value() && r7::service_record_json(*again) == written);
  }
  // Any bytes in a string field still give a line the reader takes.
  r7::ServiceRecord r;
  r.job = "identify";
  r.ending = "completed";
  r.station = std::string(line);
  const auto back = r7::parse_service_record(r7::service_record_json(r));
  check(back.has_value() && r7::service_record_json(*back) == r7::service_record_json(r));
  return 0;
}
