// Text as a firmware file can hold it, checked in memory: the whole-file check
// takes any bytes without a crash, reads a stream in any piece size as it reads
// the text whole, and agrees with the transfer: the lines it counts, the
// software-number field, and no transfer warning for an S1/S2 line it passes.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "flash/srecord_check.h"
#include "fuzz/check.h"
#include "serial/trace.h"

namespace {

bool same(const std::vector<r7::SRecordMessage>& a, const std::vector<r7::SRecordMessage>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].line != b[i].line || a[i].message != b[i].message) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the piece size a stream is read in.
  r7::SRecordCheckLimits limits;
  limits.max_listed = 1U << 20;  // every finding listed
  limits.read_size = 1 + data[0] % 64;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  const r7::SRecordReport report = r7::check_srecord_text(text, limits);
  std::istringstream stream{std::string(text)};
  const r7::SRecordReport streamed = r7::check_srecord_stream(stream, limits);
  check(same(report.errors, streamed.errors) && same(report.notes, streamed.notes));
  check(report.lines == streamed.lines && report.data_bytes == streamed.data_bytes);
  check(report.errors_not_listed == 0 && report.notes_not_listed == 0);
  if (text.empty()) check(!report.ok());

  const std::vector<r7::SRecord> lines = r7::split_srecords(text);
  check(report.lines == lines.size());
  check(report.software_field == r7::software_number_field(lines));
  std::vector<bool> line_has_error(lines.size() + 1, false);
  for (const r7::SRecordError& e : report.errors) {
    check(e.line >= 0 && static_cast<std::size_t>(e.line) <= lines.size());
    line_has_error[static_cast<std::size_t>(e.line)] = true;
  }
  check(report.first_address.has_value() == report.last_address.has_value());
  if (report.first_address) check(*report.first_address <= *report.last_address);

  for (std::size_t i = 0; i < lines.size(); ++i) {
    const r7::SRecord& line = lines[i];
    if (line_has_error[i + 1] || !line.sent()) continue;
    // No warning, and the frame carries the digits between count and checksum.
    const r7::TransferRecord sent = line.transfer();
    const std::string& t = line.text();
    const std::string fields = t.size() < 6 ? std::string() : t.substr(4, t.size() - 6);
    check(sent.warnings.empty() && r7::hex_bytes(sent.bytes, false) == fields);
  }
  return 0;
}
