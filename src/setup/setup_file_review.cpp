#include "setup/setup_file_review.h"

#include <map>

#include "modbus/registers.h"
#include "setup/setup_file.h"

namespace r7 {

namespace {

bool profile_command_of_a_save(int value) {
  return value == reg::kProfileCreate || value == reg::kProfileEditA || value == reg::kProfileEditB;
}

// What a line makes the controller do that a saved setup never asks of it;
// nullopt for an ordinary line. The register-25 line is the file's last.
std::optional<std::string> command_of(const DataLine& d, bool last) {
  switch (d.register_no) {
    case reg::kDownloadMode:
      return "download mode";
    case reg::kDefaultsCommand:
      return "return to the defaults";
    case reg::kDefaultsFlag:
      return "the defaults flag that the return to the defaults uses";
    case reg::kRestart:
      if (last) return std::nullopt;
      return "stores the setup and restarts; only the last line may";
    case reg::kProfileCommand:
      if (profile_command_of_a_save(d.value)) return std::nullopt;
      return d.value == reg::kProfileErase ? "erases the selected profile"
                                           : "a profile command no save writes";
    default:
      return std::nullopt;
  }
}

bool may_repeat(int register_no, const std::optional<SavedRegisters>& saved) {
  if (saved) return saved->profile.contains(register_no);
  return register_no >= reg::kProfileNameBase;  // names, selections, steps
}

}  // namespace

void ReviewedLines::add(const TextLine& line, std::string note) {
  if (first.size() < kSetupLinesListed) first.push_back({line, std::move(note)});
  ++count;
}

SetupFileReview review_setup_file(const TextLines& lines,
                                  const std::optional<SavedRegisters>& saved) {
  SetupFileReview review;
  std::size_t last_data = 0;
  for (std::size_t i = kSetupHeaderLines; i < lines.size(); ++i) {
    if (parse_data_line(lines[i].text).kind == DataLine::Kind::Data) last_data = i;
  }
  std::map<int, int> first_line_of;  // setting register -> line number
  for (std::size_t i = kSetupHeaderLines; i < lines.size(); ++i) {
    const TextLine& line = lines[i];
    const DataLine d = parse_data_line(line.text);
    if (d.kind != DataLine::Kind::Data) continue;
    if (const auto command = command_of(d, i == last_data)) {
      review.commands.add(line, " (" + *command + ")");
      continue;
    }
    if (saved && !saved->listed(d.register_no)) {
      review.unlisted.add(line, {});
      review.unlisted_lines.insert(line.number);
      continue;
    }
    if (!d.whole) review.rounded.add(line, " will be written as " + std::to_string(d.value));
    if (may_repeat(d.register_no, saved)) continue;
    const auto [at, fresh] = first_line_of.emplace(d.register_no, line.number);
    if (!fresh) {
      review.repeated.add(line, " (register " + std::to_string(d.register_no) + " is set on line " +
                                    std::to_string(at->second) +
                                    " already; the controller keeps the last value)");
    }
  }
  return review;
}

std::string listed_lines_text(const std::string& heading, const ReviewedLines& lines) {
  std::string text = heading;
  for (const ReviewedLines::Entry& e : lines.first) {
    text +=
        "\rLine " + std::to_string(e.line.number) + ": " + quoted_line(trim_blanks(e.line.text));
    text += e.note;
  }
  if (lines.count > lines.first.size()) {
    text += "\r... and " + std::to_string(lines.count - lines.first.size()) + " more.";
  }
  return text;
}

std::string commands_refused_text(const SetupFileReview& review, const std::string& file) {
  return listed_lines_text("The file " + file +
                               " cannot be restored: " + std::to_string(review.commands.count) +
                               " line(s) command the controller, which a saved setup never does.",
                           review.commands);
}

std::string review_notes_text(const SetupFileReview& review, const std::string& file) {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : "\r") + part; };
  if (!review.rounded.empty()) {
    add(listed_lines_text(
        std::to_string(review.rounded.count) + " value(s) of " + file + " are not whole numbers:",
        review.rounded));
  }
  if (!review.repeated.empty()) {
    add(listed_lines_text(
        std::to_string(review.repeated.count) + " line(s) of " + file + " set a register again:",
        review.repeated));
  }
  return text;
}

std::string unlisted_text(const SetupFileReview& review, const std::string& file,
                          const std::string& model) {
  return listed_lines_text(std::to_string(review.unlisted.count) + " line(s) of " + file +
                               " are for registers that the sequence files of model " + model +
                               " do not list (a save never writes them):",
                           review.unlisted);
}

}  // namespace r7
