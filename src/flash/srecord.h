// Motorola S-record files: reading their lines, checking them as a whole
// (the pre-flight check and `r7flash-cli check`), and the software-number field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace r7 {

// The field a firmware file carries when it has no S2 record at 010000.
inline constexpr const char* kNoSoftwareField = "123456789012";

// All lines of a file without their line ends (CR LF, LF or CR). Throws
// RunError 53 when the file cannot be opened, 62 when it cannot be read.
std::vector<std::string> read_srecord_lines(const std::filesystem::path& file);

// The software-number field: the 12 hex digits after "010000" in the first S2
// record whose address-and-data field begins with it; "123456789012" when there
// is none. The search stops at a line too short to cut (under six characters).
std::string software_number_field(const std::vector<std::string>& lines);

struct SRecordError {
  int line = 0;  // 1-based line number in the file
  std::string message;
};

struct SRecordReport {
  std::size_t lines = 0;
  std::map<std::string, std::size_t> records_by_type;  // "S0", "S1", "S2", ...
  std::optional<std::uint32_t> first_address;          // lowest data address (S1/S2/S3)
  std::optional<std::uint32_t> last_address;           // highest data byte's address
  std::size_t data_bytes = 0;                          // data bytes of S1/S2/S3 records
  std::vector<SRecordError> errors;
  std::string software_field = kNoSoftwareField;

  bool ok() const { return errors.empty(); }
};

// Checks every line as the transfer will treat it: record type (S0, S1, S2,
// S8 and S9 are the ones the bootloader download knows), hex digits (upper
// case only), byte count and checksum.
SRecordReport check_srecord_lines(const std::vector<std::string>& lines);

}  // namespace r7
