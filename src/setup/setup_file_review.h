// What a restore finds in a setup file's data lines before it writes any of
// them: lines that command the controller (refused: a save never writes them),
// registers the model's sequence files do not list, values that are not whole
// numbers, setting registers set more than once.
#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "setup/sequence_files.h"
#include "setup/setup_text.h"

namespace r7 {

// Lines of one kind: the first kSetupLinesListed with a note each, and the count.
struct ReviewedLines {
  struct Entry {
    TextLine line;
    std::string note;  // follows the quoted line: " (download mode)"
  };
  std::vector<Entry> first;
  std::size_t count = 0;

  void add(const TextLine& line, std::string note);
  bool empty() const { return count == 0; }
};

struct SetupFileReview {
  ReviewedLines commands;        // download mode, return to defaults, store, profile erase
  ReviewedLines unlisted;        // registers the sequence files do not list
  ReviewedLines rounded;         // values that are not whole numbers
  ReviewedLines repeated;        // a setting register set again
  std::set<int> unlisted_lines;  // their line numbers
};

// `saved`: the model's registers, nullopt when its sequence files cannot be
// read (then no register counts as unlisted).
SetupFileReview review_setup_file(const TextLines& lines,
                                  const std::optional<SavedRegisters>& saved);

// The refusal of a file with command lines, a sentence naming each.
std::string commands_refused_text(const SetupFileReview& review, const std::string& file);

// Lines of `review` other than the commands and the unlisted registers, for the
// "Setup File Check" box; empty when there are none.
std::string review_notes_text(const SetupFileReview& review, const std::string& file);

// The unlisted registers named, for the same box; `model` names the sequence files.
std::string unlisted_text(const SetupFileReview& review, const std::string& file,
                          const std::string& model);

// "Line 12: 102 7.5 will be written as 8", one per line after `heading`.
std::string listed_lines_text(const std::string& heading, const ReviewedLines& lines);

}  // namespace r7
