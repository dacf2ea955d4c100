// The sequence-file and setup-file readers on any text: a .cds, a .pds and a
// setup file are all read from the same bytes. No crash, no read past the
// lines, every failure a RunError with the numbers the save acts on, and the
// section rules keep their shape.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/run_error.h"
#include "fuzz/check.h"
#include "setup/sequence_files.h"
#include "setup/setup_file.h"
#include "setup/setup_text.h"

namespace {

bool allowed(int number) {
  return number == r7::err::kInputPastEnd || number == r7::err::kTypeMismatch ||
         number == r7::err::kOverflow || number == r7::err::kIllegalFunctionCall;
}

template <typename F>
void guarded(F&& f) {
  try {
    f();
  } catch (const r7::RunError& e) {
    check(allowed(e.number()));
  }
}

bool is_header(std::string_view s) {
  return !s.empty() && s.front() == '[';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  const r7::TextLines lines = r7::split_text_lines(content);
  for (const auto& l : lines) {
    check(l.text.find('\n') == std::string::npos);
    if (const auto r = r7::reg_number(l.text)) check(std::isfinite(*r));
    const r7::DataLine d = r7::parse_data_line(l.text);
    if (d.kind == r7::DataLine::Kind::Data) {
      check(d.register_no >= 0 && d.register_no <= 65535);
      check(d.value >= -32768 && d.value <= 32767);
    }
  }
  if (lines.size() >= 2) (void)r7::setup_file_model(lines[1].text);

  const r7::DownloadSequence cds(lines, "fuzz.cds");
  guarded([&] {
    (void)cds.has_profiles();
    // Every line's number was taken above; the rule that throws, for the first.
    const auto registers = cds.register_lines();
    if (!registers.empty()) guarded([&] { (void)cds.register_of(registers.front()); });
  });

  const r7::ProfileSequence pds(lines, "fuzz.pds");
  guarded([&] { (void)pds.profile_count(); });
  const char* types[] = {"0", "4", "5", "12"};
  for (const char* t : types) {
    guarded([&] {
      const auto name = pds.section_name(t);
      if (!name) return;
      const std::size_t start = pds.section_start(*name);
      check(start <= lines.size());
      const auto end_lines = pds.end_step_lines(start);
      if (!end_lines.empty()) guarded([&] { (void)pds.register_of(end_lines.front()); });
      for (const auto& l : pds.ordinary_step_lines(start)) {
        check(!is_header(l.text));
        check(l.number < static_cast<int>(lines.size()));  // never the last line
      }
    });
  }
  return 0;
}
