// A setup file as the restore checks it before it writes anything, on any
// text: no crash, and a verdict that fits the lines.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/check.h"
#include "setup/setup_file.h"
#include "setup/setup_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const r7::TextLines lines = r7::split_text_lines(text);
  const r7::SetupFileCheck c = r7::check_setup_file(lines);
  // Wide text is refused by name, and only text with a zero byte or a mark is.
  if (c.encoding) {
    check(!c.usable() && (text.find('\0') != std::string_view::npos ||
                          text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF"));
    return 0;
  }
  check(c.too_short == (lines.size() < 7));
  if (c.too_short) return 0;
  check(c.data_lines == lines.size() - 7);
  check(c.skipped.size() <= r7::kSetupLinesListed && c.skipped.size() <= c.skipped_count);
  check(c.skipped_count <= c.data_lines);
  for (const r7::TextLine& line : c.skipped) {
    check(line.number >= 8 && r7::parse_data_line(line.text).kind == r7::DataLine::Kind::Invalid);
    check(!r7::data_line_problem(line.text).empty());
    check(r7::quoted_line(line.text).find('\r') == std::string::npos);
  }
  // A usable file ends with the register-25 line.
  if (c.usable()) {
    bool found = false;
    for (auto it = lines.rbegin(); it != lines.rend() && !found; ++it) {
      const r7::DataLine d = r7::parse_data_line(it->text);
      if (d.kind == r7::DataLine::Kind::Empty) continue;
      check(d.kind == r7::DataLine::Kind::Data && d.register_no == 25);
      found = true;
    }
    check(found);
  }
  return 0;
}
