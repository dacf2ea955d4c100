#include "flash/srecord.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/run_error.h"

namespace r7 {

namespace {

// Hex digits as the transfer reads them: upper case only; -1 for anything else.
constexpr std::array<signed char, 256> kHexValue = [] {
  std::array<signed char, 256> table{};
  table.fill(-1);
  for (int c = '0'; c <= '9'; ++c)
    table[static_cast<std::size_t>(c)] = static_cast<signed char>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c)
    table[static_cast<std::size_t>(c)] = static_cast<signed char>(c - 'A' + 10);
  return table;
}();

int hex_value(char c) {
  return kHexValue[static_cast<unsigned char>(c)];
}

std::string hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X", v & 0xFFU);
  return buf;
}

std::string character_problem(char c, std::size_t column) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7F) {
    std::string text =
        "invalid character '" + std::string(1, c) + "' at column " + std::to_string(column);
    if (c >= 'a' && c <= 'f') text += " (hex digits must be upper case)";
    return text;
  }
  return "invalid byte 0x" + hex2(u) + " at column " + std::to_string(column);
}

// Cuts text into lines at CR LF, LF or CR, whatever pieces it comes in. Each
// line is handed on with its full length; only its first `keep` characters
// are kept.
class LineSplitter {
 public:
  LineSplitter(std::size_t keep, const OnSRecord& on_record) : keep_(keep), on_record_(on_record) {}

  void feed(std::string_view chunk) {
    std::size_t i = 0;
    if (skip_lf_ && !chunk.empty()) {
      if (chunk[0] == '\n') i = 1;
      skip_lf_ = false;
    }
    // The next CR and the next LF, each looked for again only once passed, so
    // text with one kind of line end is scanned once.
    std::size_t cr = find(chunk, i, '\r');
    std::size_t lf = find(chunk, i, '\n');
    while (i < chunk.size()) {
      if (cr < i) cr = find(chunk, i, '\r');
      if (lf < i) lf = find(chunk, i, '\n');
      std::size_t j = std::min(cr, lf);
      const std::string_view piece = chunk.substr(i, j - i);
      if (j == chunk.size()) {  // the line goes on in the next piece
        append(piece);
        return;
      }
      if (length_ == 0) {
        hand_on(piece.substr(0, std::min(piece.size(), keep_)), piece.size(), true);
      } else {
        append(piece);
        hand_on(line_, length_, true);
        line_.clear();
        length_ = 0;
      }
      if (chunk[j] == '\r') {
        if (j + 1 == chunk.size()) {
          skip_lf_ = true;
        } else if (chunk[j + 1] == '\n') {
          ++j;
        }
      }
      i = j + 1;
    }
  }

  // A last line without its line end.
  void end() {
    if (length_ > 0) hand_on(line_, length_, false);
    line_.clear();
    length_ = 0;
  }

 private:
  // Where `c` is in `chunk` from `from` on; chunk.size() when it is not.
  static std::size_t find(std::string_view chunk, std::size_t from, char c) {
    if (from >= chunk.size()) return chunk.size();
    const void* hit = std::memchr(chunk.data() + from, c, chunk.size() - from);
    return hit == nullptr ? chunk.size()
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - chunk.data());
  }

  void append(std::string_view piece) {
    if (line_.size() < keep_) line_.append(piece.substr(0, keep_ - line_.size()));
    length_ += piece.size();
  }

  void hand_on(std::string_view text, std::size_t length, bool ended) {
    record_.assign(text, length, ended);
    on_record_(record_);
  }

  std::size_t keep_;
  const OnSRecord& on_record_;
  SRecord record_;
  std::string line_;
  std::size_t length_ = 0;
  bool skip_lf_ = false;
};

// A digit of a field as the transfer reads it; a missing or invalid one is
// warned about and counts as 0.
int transfer_digit(std::string_view field, std::size_t index, TransferRecord& out) {
  const int v = index < field.size() ? hex_value(field[index]) : -1;
  if (v >= 0) return v;
  out.warnings.push_back(TransferWarning::InvalidDigit);
  return 0;
}

// A two-digit field read from its first and last character.
int transfer_two_digits(std::string_view field, TransferRecord& out) {
  const int high = transfer_digit(field, 0, out);
  const int low = transfer_digit(field, field.empty() ? 0 : field.size() - 1, out);
  return high * 16 + low;
}

}  // namespace

int srecord_address_bytes(char type) {
  switch (type) {
    case '0':
    case '1':
    case '5':
    case '9':
      return 2;
    case '2':
    case '6':
    case '8':
      return 3;
    case '3':
    case '7':
      return 4;
    default:
      return 0;
  }
}

std::uint32_t RecordBytes::address() const {
  std::uint32_t a = 0;
  for (int i = 1; i <= address_bytes; ++i)
    a = a * 256 + bytes[static_cast<std::size_t>(i)];
  return a;
}

const char* transfer_warning_text(TransferWarning warning) {
  switch (warning) {
    case TransferWarning::InvalidDigit:
      return "Data file contains invalid data";
    case TransferWarning::ByteCount:
      return "This line byte count is not valid.";
    case TransferWarning::Checksum:
      break;
  }
  return "The checksum is not valid.";
}

void SRecord::assign(std::string_view text, std::size_t length, bool ended) {
  text_.assign(text);
  length_ = length;
  ended_ = ended;
  const bool record = text.size() >= 2 && text[0] == 'S' && srecord_address_bytes(text[1]) != 0;
  type_ = record ? text[1] : 0;
}

bool SRecord::blank() const {
  return length_ == text_.size() && text_.find_first_not_of(" \t") == std::string::npos;
}

RecordBytes SRecord::bytes() const {
  RecordBytes r;
  r.address_bytes = srecord_address_bytes(type_);
  const std::string_view digits =
      std::string_view(text_).substr(std::min<std::size_t>(2, text_.size()));
  if (digits.size() > 2 * r.bytes.size()) {
    r.problem = "line too long";
    return r;
  }
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const int v = hex_value(digits[i]);
    if (v < 0) {
      r.problem = character_problem(digits[i], i + 3);
      return r;
    }
    std::uint8_t& b = r.bytes[i / 2];
    b = static_cast<std::uint8_t>(b * 16 + v);
  }
  r.size = digits.size() / 2;
  if (digits.size() % 2 != 0) {
    r.problem = "odd number of hex digits";
    r.short_of_count = true;
    return r;
  }
  if (digits.size() < 4) {
    r.problem = "line too short";
    r.short_of_count = true;
    return r;
  }
  const unsigned count = r.bytes[0];
  if (count != r.size - 1) {
    r.problem =
        "byte count " + hex2(count) + " but " + std::to_string(r.size - 1) + " bytes follow";
    r.short_of_count = count > r.size - 1;
    return r;
  }
  if (count < static_cast<unsigned>(r.address_bytes) + 1) {
    r.problem = "record too short for its address";
    return r;
  }
  r.sized = true;
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < r.size; ++i)
    sum += r.bytes[i];
  const unsigned expected = ~sum & 0xFFU;
  if (r.bytes[r.size - 1] != expected) {
    r.problem = "checksum " + hex2(r.bytes[r.size - 1]) + ", expected " + hex2(expected);
  }
  return r;
}

TransferRecord SRecord::transfer() const {
  const std::string_view line(text_);
  const std::string_view count_field = line.size() > 2 ? line.substr(2, 2) : std::string_view();
  const std::string_view data =
      line.size() < 6 ? std::string_view() : line.substr(4, line.size() - 6);
  const std::string_view checksum = line.substr(line.size() < 2 ? 0 : line.size() - 2);
  TransferRecord out;
  out.data_digits = data.size();
  const int count = transfer_two_digits(count_field, out);
  if (static_cast<double>(data.size()) / 2.0 != count - 1) {
    out.warnings.push_back(TransferWarning::ByteCount);
  }
  unsigned sum = static_cast<unsigned>(count);
  for (std::size_t i = 0; i < data.size(); i += 2) {
    const int high = transfer_digit(data, i, out);
    const int low = transfer_digit(data, i + 1, out);
    const auto byte = static_cast<std::uint8_t>(high * 16 + low);
    out.bytes += static_cast<char>(byte);
    sum += byte;
  }
  const int check = transfer_two_digits(checksum, out);
  if (static_cast<unsigned>(check) != (~sum & 0xFFU)) {
    out.warnings.push_back(TransferWarning::Checksum);
  }
  return out;
}

SRecordStreamEnd lex_srecords(std::istream& in, const SRecordReading& how,
                              const OnSRecord& on_record) {
  LineSplitter splitter(how.keep, on_record);
  const std::size_t piece = std::max<std::size_t>(1, how.piece);
  std::unique_ptr<char[]> buffer(new char[piece]);
  SRecordStreamEnd end;
  for (;;) {
    in.read(buffer.get(), static_cast<std::streamsize>(piece));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    end.bytes += got;
    if (end.bytes > how.max_bytes) {
      end.within = false;
      return end;
    }
    splitter.feed(std::string_view(buffer.get(), got));
  }
  if (in.bad()) {
    throw RunError(err::kInputPastEnd,
                   "reading failed after " + std::to_string(end.bytes) + " bytes");
  }
  splitter.end();
  return end;
}

void lex_srecords(std::string_view text, std::size_t keep, const OnSRecord& on_record) {
  LineSplitter splitter(keep, on_record);
  splitter.feed(text);
  splitter.end();
}

std::ifstream open_srecord_file(const std::filesystem::path& file, std::uintmax_t max_bytes) {
  try {
    return open_input_file(file, max_bytes);
  } catch (const RunError& e) {
    if (e.number() != err::kOutOfMemory) throw;
    throw RunError(e.number(),
                   std::string(e.what()) +
                       ": no S-record image of the controller's 16 MiB flash is that large",
                   e.file());
  }
}

std::vector<SRecord> read_srecords(std::istream& in) {
  std::vector<SRecord> records;
  lex_srecords(in, SRecordReading{}, [&records](const SRecord& r) { records.push_back(r); });
  return records;
}

std::vector<SRecord> split_srecords(std::string_view text) {
  std::vector<SRecord> records;
  lex_srecords(text, std::string::npos, [&records](const SRecord& r) { records.push_back(r); });
  return records;
}

std::vector<SRecord> read_srecords(const std::filesystem::path& file) {
  std::ifstream in = open_srecord_file(file, kMaxSRecordFileBytes);
  try {
    return read_srecords(in);
  } catch (const RunError& e) {
    throw RunError(e.number(), file.string() + ": " + e.what(), file.string());
  }
}

void SoftwareFieldSearch::see(const SRecord& record) {
  if (!searching_) return;
  const std::size_t length = record.length();
  if (length < 6) {  // cannot be cut: the search ends here
    searching_ = false;
    return;
  }
  const std::string_view text(record.text());
  if (text.substr(0, 2) == "S2" && length >= 12 && text.substr(4, 6) == "010000") {
    field_ = std::string(text.substr(10, std::min<std::size_t>(12, length - 12)));
    searching_ = false;
  }
}

std::optional<std::string> software_number_field(const std::vector<SRecord>& records) {
  SoftwareFieldSearch search;
  for (const SRecord& r : records)
    search.see(r);
  return search.field();
}

}  // namespace r7
