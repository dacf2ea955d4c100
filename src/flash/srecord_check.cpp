#include "flash/srecord_check.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <memory>

#include "base/run_error.h"

namespace r7 {

namespace {

std::string hex(unsigned v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

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

std::string header_text(const RecordBytes& r) {
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

  void line(const SRecord& record) {
    const int n =
        static_cast<int>(std::min<std::size_t>(++lines_, std::numeric_limits<int>::max()));
    field_.see(record);
    if (record.blank()) {
      if (blank_run_ == 0) blank_start_ = n;
      ++blank_run_;
      return;
    }
    end_blank_run();
    last_type_ = 0;
    const char type = record.type();
    if (type != 0) ++by_type_[static_cast<std::size_t>(type - '0')];
    if (record.length() > kMaxSRecordLineLength) {
      return error(
          n, "line of " + std::to_string(record.length()) + " characters: longer than any record");
    }
    if (type == 0) return error(n, not_a_record(record.text()));
    last_type_ = type;
    const RecordBytes r = record.bytes();
    if (!record.ended() && r.short_of_count) {
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
    report_.software_field = field_.field();
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

  void add_range(const RecordBytes& r) {
    if (!r.sized) return;
    const std::size_t size = r.data_size();
    report_.data_bytes += size;
    if (size == 0) return;
    const std::uint32_t first = r.address();
    const std::uint32_t last = first + static_cast<std::uint32_t>(size - 1);
    if (!report_.first_address || first < *report_.first_address) report_.first_address = first;
    if (!report_.last_address || last > *report_.last_address) report_.last_address = last;
  }

  void data_record(int n, const RecordBytes& r) {
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

  void count_record(int n, char type, const RecordBytes& r) {
    const std::string name = "S" + std::string(1, type);
    if (!r.problem.empty()) return error(n, name + " count record cannot be read: " + r.problem);
    const std::uint32_t count = r.address();
    if (count != data_records_) {
      return error(n, name + " count record says " + std::to_string(count) + " data records, " +
                          std::to_string(data_records_) + " come before it");
    }
    note(n, name + " count record: " + std::to_string(count) + " data records, as counted");
  }

  void termination_record(int n, char type, const RecordBytes& r) {
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
  SoftwareFieldSearch field_;
  FlashMap flash_;
};

}  // namespace

SRecordReport check_srecord_stream(std::istream& in, const SRecordCheckLimits& limits) {
  Checker checker(limits);
  SRecordReading how;
  how.max_bytes = limits.max_bytes;
  how.keep = kMaxSRecordLineLength;
  how.piece = limits.read_size;
  const SRecordStreamEnd end =
      lex_srecords(in, how, [&checker](const SRecord& record) { checker.line(record); });
  return checker.finish(end.bytes == 0, !end.within);
}

SRecordReport check_srecord_text(std::string_view text, const SRecordCheckLimits& limits) {
  Checker checker(limits);
  if (text.size() > limits.max_bytes) return checker.finish(false, true);
  lex_srecords(text, kMaxSRecordLineLength,
               [&checker](const SRecord& record) { checker.line(record); });
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

SRecordReport check_srecords(const std::vector<SRecord>& records) {
  Checker checker(SRecordCheckLimits{});
  for (const SRecord& record : records)
    checker.line(record);
  return checker.finish(records.empty(), false);
}

}  // namespace r7
