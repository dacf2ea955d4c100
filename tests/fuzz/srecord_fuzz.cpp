// S-record lines as a firmware file can hold them: the line check of the
// transfer and the whole-file check must take any text without a crash, and
// their results must agree with each other.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "errors/prompts.h"
#include "flash/bootloader.h"
#include "flash/srecord.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

class CountingPrompts final : public r7::Prompts {
 public:
  r7::Answer message_box(const r7::MessageBox&) override {
    ++shown;
    return r7::Answer::Ok;
  }
  std::optional<std::string> open_file(const r7::FileDialog&) override { return std::nullopt; }
  std::optional<std::string> save_file(const r7::FileDialog&) override { return std::nullopt; }
  void set_busy(bool) override {}
  int shown = 0;
};

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = split_lines(text);
  const r7::SRecordReport report = r7::check_srecord_lines(lines);
  check(report.lines == lines.size());
  for (const r7::SRecordError& e : report.errors) {
    check(e.line >= 1 && static_cast<std::size_t>(e.line) <= lines.size());
  }
  check(report.first_address.has_value() == report.last_address.has_value());
  if (report.first_address) check(*report.first_address <= *report.last_address);

  for (std::size_t i = 0; i < lines.size() && i < 64; ++i) {
    const std::string& line = lines[i];
    // Cut as the transfer cuts it.
    const std::string count = line.size() > 2 ? line.substr(2, 2) : std::string();
    const std::string fields = line.size() < 6 ? std::string() : line.substr(4, line.size() - 6);
    const std::string checksum = line.substr(line.size() < 2 ? 0 : line.size() - 2);
    CountingPrompts prompts;
    const std::string bytes = r7::check_srecord_fields(count, fields, checksum, prompts);
    check(bytes.size() == (fields.size() + 1) / 2);
    // A line the file check passes raises no warning in the transfer.
    bool line_has_error = false;
    for (const r7::SRecordError& e : report.errors)
      line_has_error |= e.line == static_cast<int>(i + 1);
    if (!line_has_error && line.size() >= 2 && (line[1] == '1' || line[1] == '2')) {
      check(prompts.shown == 0);
    }
  }
  const std::string field = r7::software_number_field(lines);
  check(field.size() <= 12);
  return 0;
}
