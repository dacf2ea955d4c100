// The per-model sequence files in "Download Sequences":
//
//   M.cds  line 1: "YES..." when the model keeps profiles; lines 2..: register
//          lines ("1234 description"), the registers a save reads, in order.
//   M.pds  line 1: "P ..." profiles 1..P are looked for; line 2: free text;
//          index lines "T name" map a step type to a section; sections
//          "[name]" list the registers of a step of that type.
//
// The files are read whole (split_text_lines); the rules below then work on
// the numbered lines, so that errors name the file and the line they meet.
// Reading past the end of a file is RunError 62, a register line without a
// register number RunError 13 (both name the file).
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "setup/setup_text.h"

namespace r7 {

// The profile flag: the first three characters, upper-cased, are "YES".
bool profile_flag(std::string_view first_line);

// A DownloadSequenceFile as read for a save.
class DownloadSequence {
 public:
  DownloadSequence(TextLines lines, std::string file);

  std::size_t line_count() const { return lines_.size(); }
  // Line 1's profile flag (RunError 62 for an empty file).
  bool has_profiles() const;
  // Lines 2 to the last: the register lines (RunError 62 when there is no line 2).
  std::span<const TextLine> register_lines() const;
  // The register number of one of them (RunError 13 naming the file, 5 when
  // it is outside 0..65535).
  int register_of(const TextLine& line) const;

  const std::string& file() const { return file_; }

 private:
  TextLines lines_;
  std::string file_;
};

// A ProfileSequenceFile as the profile walk reads it.
class ProfileSequence {
 public:
  ProfileSequence(TextLines lines, std::string file);

  // P from line 1, as an integer (62 when empty, 13 when no number, 6 when it
  // does not fit a 16-bit integer).
  int profile_count() const;

  // Index search for the step-type text `step_type`: the name of its section,
  // or nullopt when a "[" line is met before an index entry for it. Line 2 is
  // compared as a whole, so an index entry there is never used.
  std::optional<std::string> section_name(const std::string& step_type) const;

  // Section search: the position (0-based index of the next line to read)
  // after the header "[name]", or the end of the file when there is none.
  std::size_t section_start(const std::string& name) const;

  // An ordinary step's register lines from `start`: up to the next "[" line,
  // never the file's very last line. RunError 62 when nothing follows `start`.
  std::vector<TextLine> ordinary_step_lines(std::size_t start) const;

  // An end step's candidate lines from `start` to the end of the file; the
  // walk reads them in order until register 4060 holds something other than 3.
  std::span<const TextLine> end_step_lines(std::size_t start) const;

  int register_of(const TextLine& line) const;
  const std::string& file() const { return file_; }

 private:
  TextLines lines_;
  std::string file_;
};

// The registers a saved setup of a model may hold, as its sequence files list
// them: `settings` the .cds register lines (each saved once), `profile` what
// the profile walk writes (the .pds section lines, the profile and step
// selections, the profile command, the step type, the profile names).
struct SavedRegisters {
  std::set<int> settings;
  std::set<int> profile;

  bool listed(int register_no) const {
    return settings.contains(register_no) || profile.contains(register_no);
  }
};

// SavedRegisters from "<model>.cds" and "<model>.pds" in `dir`; nullopt when
// the .cds file is missing or cannot be read. Without a readable .pds file the
// profile registers are the ranges the profile walk can reach (3500-3899,
// 4000-4099).
std::optional<SavedRegisters> saved_registers(const std::filesystem::path& dir,
                                              const std::string& model);

}  // namespace r7
