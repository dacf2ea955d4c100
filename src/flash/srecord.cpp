#include "flash/srecord.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "base/input_file.h"
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

std::string hex(unsigned v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

// Address bytes of a record type, 0 for characters that are no record type.
int address_bytes(char type) {
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

bool is_blank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

// Cuts text into lines at CR LF, LF or CR, whatever pieces it comes in. Each
// line is handed on with its full length; only its first `keep` characters
// are kept.
class LineSplitter {
 public:
  explicit LineSplitter(std::size_t keep) : keep_(keep) {}

  // on_line(std::string_view kept, std::size_t length, bool ended)
  template <class OnLine>
  void feed(std::string_view chunk, OnLine&& on_line) {
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
        on_line(piece.substr(0, std::min(piece.size(), keep_)), piece.size(), true);
      } else {
        append(piece);
        on_line(std::string_view(line_), length_, true);
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
  template <class OnLine>
  void end(OnLine&& on_line) {
    if (length_ > 0) on_line(std::string_view(line_), length_, false);
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

  std::size_t keep_;
  std::string line_;
  std::size_t length_ = 0;
  bool skip_lf_ = false;
};

// The bytes of the 24-bit address space that records have given a value, in
// 64 KiB pages made as data arrives.
class FlashMap {
 public:
  // Gives `data` the addresses from `address` on; the first address whose
  // earlier value differs, if any. Addresses past the address space are ignored.
  std::optional<std::uint32_t> put(std::uint32_t address, const std::uint8_t* data,
                                   std::size_t size) {
    if (!pages_) pages_ = std::make_unique<std::unique_ptr<Page>[]>(kPages);
    std::optional<std::uint32_t> conflict;
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint32_t a = address + static_cast<std::uint32_t>(i);
      if (a >= kFlashAddressSpace) break;
      std::unique_ptr<Page>& page = pages_[a / kPageSize];
      if (!page) page = std::make_unique_for_overwrite<Page>();  // values are read once set
      const std::uint32_t offset = a % kPageSize;
      const auto bit = static_cast<std::uint8_t>(1U << (offset % 8));
      std::uint8_t& used = page->used[offset / 8];
      if ((used & bit) == 0) {
        used = static_cast<std::uint8_t>(used | bit);
        page->value[offset] = data[i];
      } else if (page->value[offset] != data[i] && !conflict) {
        conflict = a;
      }
    }
    return conflict;
  }

 private:
  static constexpr std::uint32_t kPageSize = 0x10000;
  static constexpr std::size_t kPages = kFlashAddressSpace / kPageSize;
  struct Page {
    std::array<std::uint8_t, kPageSize> value;
    std::array<std::uint8_t, kPageSize / 8> used{};
  };
  std::unique_ptr<std::unique_ptr<Page>[]> pages_;  // kPages, made with the first data
};

// One record's hex digits read into bytes: count, address, data, checksum.
struct Record {
  std::string problem;          // the first thing wrong, empty when nothing is
  bool short_of_count = false;  // fewer digits than its byte count asks for
  bool sized = false;  // digits, byte count and address fit (the checksum may still be wrong)
  std::array<std::uint8_t, kMaxSRecordLineLength / 2> bytes{};
  std::size_t size = 0;
  int address_bytes = 0;

  std::uint32_t address() const {
    std::uint32_t a = 0;
    for (int i = 1; i <= address_bytes; ++i)
      a = a * 256 + bytes[static_cast<std::size_t>(i)];
    return a;
  }
  const std::uint8_t* data() const { return bytes.data() + 1 + address_bytes; }
  std::size_t data_size() const { return size - 2 - static_cast<std::size_t>(address_bytes); }
};

std::string character_problem(char c, std::size_t column) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7F) {
    std::string text =
        "invalid character '" + std::string(1, c) + "' at column " + std::to_string(column);
    if (c >= 'a' && c <= 'f') text += " (hex digits must be upper case)";
    return text;
  }
  return "invalid byte 0x" + hex(u, 2) + " at column " + std::to_string(column);
}

// `line` begins with "S" and a record type; at most kMaxSRecordLineLength long.
Record read_record(std::string_view line) {
  Record r;
  r.address_bytes = address_bytes(line[1]);
  const std::string_view digits = line.substr(2);
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
        "byte count " + hex(count, 2) + " but " + std::to_string(r.size - 1) + " bytes follow";
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
    r.problem = "checksum " + hex(r.bytes[r.size - 1], 2) + ", expected " + hex(expected, 2);
  }
  return r;
}

std::string header_text(const Record& r) {
  constexpr std::size_t kShown = 40;
  std::string text;
  const std::uint8_t* data = r.data();
  for (std::size_t i = 0; i < r.data_size() && i < kShown; ++i) {
    text += data[i] >= 0x20 && data[i] < 0x7F ? static_cast<char>(data[i]) : '.';
  }
  if (r.data_size() > kShown) text += "...";
  return text;
}

std::string not_a_record(std::string_view line) {
  if (line.substr(0, 3) == "\xEF\xBB\xBF") {
    return "not an S-record line (it begins with a UTF-8 byte-order mark)";
  }
  if (line.size() >= 2 && (line[0] == 'S' || line[0] == 's') && line[1] >= '0' && line[1] <= '9') {
    if (line[0] == 's') return "not an S-record line (the 's' must be upper case)";
    return "S" + std::string(1, line[1]) + " is not a record type";
  }
  return "not an S-record line";
}

// The check, fed one line at a time.
class Checker {
 public:
  explicit Checker(const SRecordCheckLimits& limits)
      : listed_(std::max<std::size_t>(1, limits.max_listed)), max_bytes_(limits.max_bytes) {}

  // `text`: the line or, for a long one, its beginning; `length`: its whole
  // length; `ended`: false for a last line cut off by the end of the file.
  void line(std::string_view text, std::size_t length, bool ended) {
    const int n =
        static_cast<int>(std::min<std::size_t>(++lines_, std::numeric_limits<int>::max()));
    search_field(text, length);
    if (is_blank(text) && length == text.size()) {
      if (blank_run_ == 0) blank_start_ = n;
      ++blank_run_;
      return;
    }
    end_blank_run();
    last_type_ = 0;
    const bool record_type = text.size() >= 2 && text[0] == 'S' && address_bytes(text[1]) != 0;
    if (record_type) ++by_type_[static_cast<std::size_t>(text[1] - '0')];
    if (length > kMaxSRecordLineLength) {
      return error(n, "line of " + std::to_string(length) + " characters: longer than any record");
    }
    if (!record_type) return error(n, not_a_record(text));
    const char type = text[1];
    last_type_ = type;
    const Record r = read_record(text);
    if (!ended && r.short_of_count) {
      return error(n, "the file ends inside this record: it is cut short");
    }
    switch (type) {
      case '0':
        return note(n, r.problem.empty() ? "header \"" + header_text(r) + "\""
                                         : "header record: " + r.problem + " (it is not sent)");
      case '1':
      case '2':
        return data_record(n, r);
      case '3':
        ++data_records_;
        add_range(r);
        return error(n, "S3 record: the transfer skips it, so its data would not be sent");
      case '5':
      case '6':
        return count_record(n, type, r);
      default:
        return termination_record(n, type, r);
    }
  }

  SRecordReport finish(bool empty_input, bool too_large) {
    end_blank_run();
    for (std::size_t t = 0; t < by_type_.size(); ++t) {
      if (by_type_[t] > 0) report_.records_by_type["S" + std::to_string(t)] = by_type_[t];
    }
    report_.lines = lines_;
    report_.software_field = field_;
    if (too_large) {
      file_error("more than " + std::to_string(max_bytes_) +
                 " bytes of text: no S-record image of the controller's 16 MiB flash is that "
                 "large");
    } else if (empty_input) {
      file_error("the file is empty");
    } else {
      if (last_type_ < '5' || last_type_ > '9') {
        file_error(
            "the file does not end with a termination record (S7, S8, S9) or a record count "
            "(S5, S6): it may be cut short");
      }
      if (sendable_ == 0) file_error("no S1 or S2 data record: nothing would be sent");
    }
    return std::move(report_);
  }

 private:
  void error(int n, std::string message) {
    if (report_.errors.size() < listed_) {
      report_.errors.push_back({n, std::move(message)});
    } else {
      ++report_.errors_not_listed;
    }
  }

  // Errors of the file as a whole go first, so they are always listed.
  void file_error(std::string message) {
    report_.errors.insert(report_.errors.begin(), {0, std::move(message)});
    if (report_.errors.size() > listed_) {
      report_.errors.pop_back();
      ++report_.errors_not_listed;
    }
  }

  void note(int n, std::string message) {
    if (report_.notes.size() < listed_) {
      report_.notes.push_back({n, std::move(message)});
    } else {
      ++report_.notes_not_listed;
    }
  }

  void end_blank_run() {
    if (blank_run_ == 0) return;
    note(blank_start_, blank_run_ == 1
                           ? "blank line: the transfer shows a message and skips it"
                           : std::to_string(blank_run_) +
                                 " blank lines: the transfer shows a message for each and "
                                 "skips it");
    blank_run_ = 0;
  }

  // As software_number_field does it, a line at a time.
  void search_field(std::string_view text, std::size_t length) {
    if (!searching_) return;
    if (length < 6) {
      searching_ = false;
      return;
    }
    if (text.substr(0, 2) == "S2" && length >= 12 && text.substr(4, 6) == "010000") {
      field_ = std::string(text.substr(10, std::min<std::size_t>(12, length - 12)));
      searching_ = false;
    }
  }

  void add_range(const Record& r) {
    if (!r.sized) return;
    const std::size_t size = r.data_size();
    report_.data_bytes += size;
    if (size == 0) return;
    const std::uint32_t first = r.address();
    const std::uint32_t last = first + static_cast<std::uint32_t>(size - 1);
    if (!report_.first_address || first < *report_.first_address) report_.first_address = first;
    if (!report_.last_address || last > *report_.last_address) report_.last_address = last;
  }

  void data_record(int n, const Record& r) {
    ++data_records_;
    ++sendable_;
    add_range(r);
    if (!r.problem.empty()) return error(n, r.problem);
    const std::uint32_t address = r.address();
    const std::uint64_t end = std::uint64_t{address} + r.data_size();
    const std::uint64_t space = r.address_bytes == 2 ? 0x10000U : kFlashAddressSpace;
    if (end > space) {
      return error(n, "data runs past address " +
                          hex(static_cast<unsigned>(space - 1), 2 * r.address_bytes));
    }
    if (const auto at = flash_.put(address, r.data(), r.data_size())) {
      error(n, "the byte at " + hex(*at, 6) + " differs from what an earlier record gave it");
    }
  }

  void count_record(int n, char type, const Record& r) {
    const std::string name = "S" + std::string(1, type);
    if (!r.problem.empty()) return error(n, name + " count record cannot be read: " + r.problem);
    const std::uint32_t count = r.address();
    if (count != data_records_) {
      return error(n, name + " count record says " + std::to_string(count) + " data records, " +
                          std::to_string(data_records_) + " come before it");
    }
    note(n, name + " count record: " + std::to_string(count) + " data records, as counted");
  }

  void termination_record(int n, char type, const Record& r) {
    const std::string name = "S" + std::string(1, type);
    if (!r.problem.empty()) {
      return note(n, name + " termination record: " + r.problem + " (nothing is sent for it)");
    }
    std::string text =
        name + " termination record, start address " + hex(r.address(), 2 * r.address_bytes);
    if (type == '7') text += ": the transfer shows a message and skips it; no data is lost";
    note(n, text);
  }

  std::size_t listed_;
  std::uintmax_t max_bytes_;
  SRecordReport report_;
  std::size_t lines_ = 0;
  std::array<std::size_t, 10> by_type_{};
  std::size_t data_records_ = 0;  // S1, S2, S3: what a count record counts
  std::size_t sendable_ = 0;      // S1, S2
  char last_type_ = 0;            // record type of the last line that is not blank
  int blank_start_ = 0;
  std::size_t blank_run_ = 0;
  bool searching_ = true;
  std::string field_ = kNoSoftwareField;
  FlashMap flash_;
};

// Feeds `in` to `sink` in pieces; false when more than `max_bytes` arrive.
template <class Sink>
bool read_pieces(std::istream& in, std::size_t piece, std::uintmax_t max_bytes,
                 std::uintmax_t& total, Sink&& sink) {
  piece = std::max<std::size_t>(1, piece);
  std::unique_ptr<char[]> buffer(new char[piece]);
  for (;;) {
    in.read(buffer.get(), static_cast<std::streamsize>(piece));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    total += got;
    if (total > max_bytes) return false;
    sink(std::string_view(buffer.get(), got));
  }
  if (in.bad())
    throw RunError(err::kInputPastEnd, "reading failed after " + std::to_string(total) + " bytes");
  return true;
}

// Opens an S-record file, saying why a file over the size limit is refused.
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

}  // namespace

std::vector<std::string> read_srecord_lines(std::istream& in) {
  std::vector<std::string> lines;
  LineSplitter splitter(std::string::npos);
  auto take = [&lines](std::string_view text, std::size_t, bool) { lines.emplace_back(text); };
  std::uintmax_t total = 0;
  read_pieces(in, SRecordCheckLimits{}.read_size, kAnySize, total,
              [&](std::string_view piece) { splitter.feed(piece, take); });
  splitter.end(take);
  return lines;
}

std::vector<std::string> split_srecord_lines(std::string_view text) {
  std::vector<std::string> lines;
  LineSplitter splitter(std::string::npos);
  auto take = [&lines](std::string_view line, std::size_t, bool) { lines.emplace_back(line); };
  splitter.feed(text, take);
  splitter.end(take);
  return lines;
}

std::vector<std::string> read_srecord_lines(const std::filesystem::path& file) {
  std::ifstream in = open_srecord_file(file, kMaxSRecordFileBytes);
  try {
    return read_srecord_lines(in);
  } catch (const RunError& e) {
    throw RunError(e.number(), file.string() + ": " + e.what(), file.string());
  }
}

std::string software_number_field(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (line.size() < 6) break;  // cannot be cut: the search ends here
    const std::string type = line.substr(0, 2);
    const std::string data = line.substr(4, line.size() - 6);
    if (type == "S2" && data.compare(0, 6, "010000") == 0) return data.substr(6, 12);
  }
  return kNoSoftwareField;
}

SRecordReport check_srecord_stream(std::istream& in, const SRecordCheckLimits& limits) {
  Checker checker(limits);
  LineSplitter splitter(kMaxSRecordLineLength);
  auto take = [&checker](std::string_view text, std::size_t length, bool ended) {
    checker.line(text, length, ended);
  };
  std::uintmax_t total = 0;
  const bool within = read_pieces(in, limits.read_size, limits.max_bytes, total,
                                  [&](std::string_view piece) { splitter.feed(piece, take); });
  if (within) splitter.end(take);
  return checker.finish(total == 0, !within);
}

SRecordReport check_srecord_text(std::string_view text, const SRecordCheckLimits& limits) {
  Checker checker(limits);
  if (text.size() > limits.max_bytes) return checker.finish(false, true);
  LineSplitter splitter(kMaxSRecordLineLength);
  auto take = [&checker](std::string_view line, std::size_t length, bool ended) {
    checker.line(line, length, ended);
  };
  splitter.feed(text, take);
  splitter.end(take);
  return checker.finish(text.empty(), false);
}

SRecordReport check_srecord_file(const std::filesystem::path& file,
                                 const SRecordCheckLimits& limits) {
  std::ifstream in = open_srecord_file(file, limits.max_bytes);
  try {
    return check_srecord_stream(in, limits);
  } catch (const RunError& e) {
    throw RunError(e.number(), file.string() + ": " + e.what(), file.string());
  }
}

SRecordReport check_srecord_lines(const std::vector<std::string>& lines) {
  Checker checker(SRecordCheckLimits{});
  for (const std::string& line : lines) {
    const std::string_view text(line);
    checker.line(text.substr(0, kMaxSRecordLineLength), line.size(), true);
  }
  return checker.finish(lines.empty(), false);
}

}  // namespace r7
