// The whole-file check of an S-record file (the pre-flight check and
// `r7flash-cli check`). It judges a file by what the transfer does with it:
// S0, S8 and S9 lines send nothing; each S1 and S2 line is sent as one
// bootloader frame; any other line is skipped with a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flash/srecord.h"

namespace r7 {

// Errors and notes listed by a check, each; the rest are only counted.
inline constexpr std::size_t kSRecordMessagesListed = 20;

// One finding of the check. `line` is 1-based; 0 for the file as a whole.
struct SRecordMessage {
  int line = 0;
  std::string message;
};
using SRecordError = SRecordMessage;

struct SRecordReport {
  std::size_t lines = 0;
  std::map<std::string, std::size_t> records_by_type;  // "S0", "S1", "S2", ...
  std::optional<std::uint32_t> first_address;          // lowest data address (S1/S2/S3)
  std::optional<std::uint32_t> last_address;           // highest data byte's address
  std::size_t data_bytes = 0;                          // data bytes of S1/S2/S3 records
  std::optional<std::string> software_field;           // nullopt: no S2 record at 010000
  // What would make the transfer fail or send wrong data: the first ones in
  // file order, then how many more there are.
  std::vector<SRecordError> errors;
  std::size_t errors_not_listed = 0;
  // Worth knowing but harmless (header, count and termination records, blank
  // lines): listed and counted the same way.
  std::vector<SRecordMessage> notes;
  std::size_t notes_not_listed = 0;

  bool ok() const { return errors.empty(); }
  std::size_t error_count() const { return errors.size() + errors_not_listed; }
  std::size_t note_count() const { return notes.size() + notes_not_listed; }
};

struct SRecordCheckLimits {
  std::uintmax_t max_bytes = kMaxSRecordFileBytes;  // reading stops beyond this, with an error
  std::size_t max_listed = kSRecordMessagesListed;  // errors and notes listed, each (1 at least)
  std::size_t read_size = 64U * 1024U;              // bytes a stream is read in at a time
};

// The whole-file check, streaming: lines are read one at a time, so memory is
// bounded by the longest line kept (kMaxSRecordLineLength) and by the data's
// extent (64 KiB pages of the address space, for overlaps).
//
// Errors: in S1/S2 records a character that is not an upper-case hex digit, an
// odd number of digits, a wrong byte count, a bad checksum, a record too short
// for its address or running past the end of its address space, a record cut
// off by the end of the file; S3 records (skipped: their data would not be
// sent); lines that are not S-records or are too long; a count record (S5/S6)
// that cannot be read or that differs from the number of S1/S2/S3 records
// before it; data that gives a byte a value other than an earlier record gave
// it; an empty file, a file without S1/S2 records, a file whose last record is
// neither a termination record (S7/S8/S9) nor a count record, more text than
// `max_bytes`.
// Notes: the S0 header (with what is wrong in it), matching count records,
// termination records, blank lines.
SRecordReport check_srecord_stream(std::istream& in, const SRecordCheckLimits& limits = {});
// The same on text in memory.
SRecordReport check_srecord_text(std::string_view text, const SRecordCheckLimits& limits = {});
// The same on a file, opened with open_input_file (RunError 53, 75 or 7 as
// there; 62 when reading fails part way).
SRecordReport check_srecord_file(const std::filesystem::path& file,
                                 const SRecordCheckLimits& limits = {});

// The check on records already read.
SRecordReport check_srecords(const std::vector<SRecord>& records);

}  // namespace r7
