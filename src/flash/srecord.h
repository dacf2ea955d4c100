// Motorola S-record files read into records: the one reader that the file
// check, the transfer and the software-number search share.
//
// A line is cut as the transfer cuts it: record type (characters 1-2), byte
// count (3-4), address and data (5 to the third last) and checksum (the last
// two). Hex digits are upper case only. A record is read two ways from the
// same digits: strictly for the check (the first thing wrong ends the
// reading), and as the transfer reads it (an invalid digit counts as 0 and is
// warned about, and the frame is sent all the same).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/input_file.h"

namespace r7 {

// The field shown for a firmware file that has no S2 record at 010000.
inline constexpr const char* kNoSoftwareField = "123456789012";

// The controller's flash is addressed with 24 bits. No S-record image of it
// is near 64 MiB of text; a larger file is refused by its size alone.
inline constexpr std::uint32_t kFlashAddressSpace = 16U * 1024U * 1024U;
inline constexpr std::uintmax_t kMaxSRecordFileBytes = 64U * 1024U * 1024U;
// The longest valid record is 514 characters; longer lines are not kept whole.
inline constexpr std::size_t kMaxSRecordLineLength = 1024;

// Address bytes of record type '0'..'9'; 0 for a character that is no record type.
int srecord_address_bytes(char type);

// A record's digits read strictly: count, address, data, checksum.
struct RecordBytes {
  std::string problem;          // the first thing wrong, empty when nothing is
  bool short_of_count = false;  // fewer digits than its byte count asks for
  bool sized = false;  // digits, byte count and address fit (the checksum may still be wrong)
  std::array<std::uint8_t, kMaxSRecordLineLength / 2> bytes{};
  std::size_t size = 0;
  int address_bytes = 0;

  std::uint32_t address() const;
  const std::uint8_t* data() const { return bytes.data() + 1 + address_bytes; }
  std::size_t data_size() const { return size - 2 - static_cast<std::size_t>(address_bytes); }
};

// What the transfer warns about in a record, in the order it meets them.
enum class TransferWarning { InvalidDigit, ByteCount, Checksum };
const char* transfer_warning_text(TransferWarning warning);

// A record as the transfer reads it.
struct TransferRecord {
  std::string bytes;            // the address-and-data digits converted
  std::size_t data_digits = 0;  // characters of the address-and-data field
  std::vector<TransferWarning> warnings;
};

// One line of an S-record file.
class SRecord {
 public:
  SRecord() = default;
  explicit SRecord(std::string_view line) { assign(line, line.size(), true); }
  // `text`: the line or, for a long one, its beginning; `length`: the whole
  // line's length; `ended`: false for a last line cut off by the end of the file.
  void assign(std::string_view text, std::size_t length, bool ended);

  const std::string& text() const { return text_; }
  std::size_t length() const { return length_; }
  bool ended() const { return ended_; }
  bool blank() const;
  // '0'..'9' for a line that begins with S and a record type, 0 otherwise.
  char type() const { return type_; }
  // Characters 1-2 as the transfer cuts them ("S1"; shorter for a short line).
  std::string_view type_field() const { return std::string_view(text_).substr(0, 2); }
  // An S1 or S2 record: what the transfer sends.
  bool sent() const { return type_field() == "S1" || type_field() == "S2"; }

  // For a record type only, its text kept whole.
  RecordBytes bytes() const;
  TransferRecord transfer() const;

 private:
  std::string text_;
  std::size_t length_ = 0;
  bool ended_ = true;
  char type_ = 0;
};

// How a stream is read into records.
struct SRecordReading {
  std::uintmax_t max_bytes = kAnySize;   // reading stops beyond this
  std::size_t keep = std::string::npos;  // characters of a line kept
  std::size_t piece = 64U * 1024U;       // bytes read at a time
};

struct SRecordStreamEnd {
  std::uintmax_t bytes = 0;  // bytes read
  bool within = true;        // false: more than max_bytes, the rest unread
};

using OnSRecord = std::function<void(const SRecord&)>;

// Hands on each line of `in` (CR LF, LF or CR ends a line; a last line
// without a line end counts when it is not empty) as a record; the record is
// reused for the next line. Throws RunError 62 when reading fails.
SRecordStreamEnd lex_srecords(std::istream& in, const SRecordReading& how,
                              const OnSRecord& on_record);
void lex_srecords(std::string_view text, std::size_t keep, const OnSRecord& on_record);

// An S-record file opened for reading: RunError 53 when it is missing, 75 when
// it is not a regular file or cannot be opened, 7 when larger than `max_bytes`.
std::ifstream open_srecord_file(const std::filesystem::path& file, std::uintmax_t max_bytes);

// Every line of a file, kept whole: RunError as open_srecord_file (limit
// kMaxSRecordFileBytes), 62 when reading fails part way.
std::vector<SRecord> read_srecords(const std::filesystem::path& file);
std::vector<SRecord> read_srecords(std::istream& in);
std::vector<SRecord> split_srecords(std::string_view text);

// The software-number field: the 12 hex digits after "010000" in the first S2
// record whose address-and-data field begins with it; nullopt when there is
// none. The search stops at a line too short to cut (under six characters).
class SoftwareFieldSearch {
 public:
  void see(const SRecord& record);
  const std::optional<std::string>& field() const { return field_; }

 private:
  bool searching_ = true;
  std::optional<std::string> field_;
};
std::optional<std::string> software_number_field(const std::vector<SRecord>& records);

}  // namespace r7
