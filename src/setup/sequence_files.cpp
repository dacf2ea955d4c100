#include "setup/sequence_files.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "base/run_error.h"
#include "modbus/registers.h"

namespace r7 {

namespace {

bool is_header(std::string_view line) {
  return !line.empty() && line.front() == '[';
}

[[noreturn]] void past_end(const std::string& file) {
  throw RunError(err::kInputPastEnd, "input past end of file", file);
}

}  // namespace

bool profile_flag(std::string_view first_line) {
  std::string head(first_line.substr(0, 3));
  for (char& c : head)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return head == "YES";
}

DownloadSequence::DownloadSequence(TextLines lines, std::string file)
    : lines_(std::move(lines)), file_(std::move(file)) {}

bool DownloadSequence::has_profiles() const {
  if (lines_.empty()) past_end(file_);
  return profile_flag(lines_.front().text);
}

std::span<const TextLine> DownloadSequence::register_lines() const {
  if (lines_.size() < 2) past_end(file_);
  return std::span<const TextLine>(lines_).subspan(1);
}

int DownloadSequence::register_of(const TextLine& line) const {
  return reg_number_or_throw(line.text, file_);
}

ProfileSequence::ProfileSequence(TextLines lines, std::string file)
    : lines_(std::move(lines)), file_(std::move(file)) {}

int ProfileSequence::profile_count() const {
  if (lines_.empty()) past_end(file_);
  const auto p = reg_number(lines_.front().text);
  if (!p) throw RunError(err::kTypeMismatch, "no profile count", file_);
  const double count = std::nearbyint(*p);
  if (count < -32768 || count > 32767) throw RunError(err::kOverflow, "overflow", file_);
  return static_cast<int>(count);
}

std::optional<std::string> ProfileSequence::section_name(const std::string& step_type) const {
  if (lines_.size() < 2) past_end(file_);
  std::string current = lines_[1].text;
  std::string name;
  std::size_t next = 2;
  while (current != step_type && next < lines_.size()) {
    const std::string& line = lines_[next++].text;
    if (is_header(line)) return std::nullopt;
    if (starts_with_digit(line)) {
      std::size_t k = 0;
      while (k < line.size() && std::isdigit(static_cast<unsigned char>(line[k])) != 0)
        ++k;
      name = trim_blanks(std::string_view(line).substr(k));
      // The step type as plain decimal text: the digits without leading zeros.
      std::size_t z = 0;
      while (z + 1 < k && line[z] == '0')
        ++z;
      current = line.substr(z, k - z);
    } else {
      current.clear();
    }
  }
  return name;
}

std::size_t ProfileSequence::section_start(const std::string& name) const {
  if (lines_.empty()) past_end(file_);
  std::size_t next = 1;  // line 1 has been read
  std::string_view current = lines_.front().text;
  while (next < lines_.size()) {
    if (is_header(current)) {
      const std::string_view inner =
          current.size() >= 2 ? current.substr(1, current.size() - 2) : std::string_view();
      if (inner == name) break;
    }
    current = lines_[next++].text;
  }
  return next;
}

std::vector<TextLine> ProfileSequence::ordinary_step_lines(std::size_t start) const {
  if (start >= lines_.size()) past_end(file_);
  std::vector<TextLine> result;
  for (std::size_t i = start; !is_header(lines_[i].text) && i + 1 < lines_.size(); ++i) {
    result.push_back(lines_[i]);
  }
  return result;
}

std::span<const TextLine> ProfileSequence::end_step_lines(std::size_t start) const {
  if (start >= lines_.size()) return {};
  return std::span<const TextLine>(lines_).subspan(start);
}

int ProfileSequence::register_of(const TextLine& line) const {
  return reg_number_or_throw(line.text, file_);
}

namespace {

constexpr int kMaxNamedProfiles = 40;

// The register of a sequence file's line, when it has one.
std::optional<int> line_register(std::string_view line) {
  if (!starts_with_digit(line)) return std::nullopt;
  const auto r = reg_number(line);
  if (!r || *r < 0 || *r > 65535) return std::nullopt;
  return static_cast<int>(std::nearbyint(*r));
}

void add_range(std::set<int>& to, int first, int last) {
  for (int r = first; r <= last; ++r)
    to.insert(r);
}

}  // namespace

std::optional<SavedRegisters> saved_registers(const std::filesystem::path& dir,
                                              const std::string& model) {
  SavedRegisters saved;
  try {
    const TextLines cds = read_text_lines(dir / (model + ".cds"));
    for (std::size_t i = 1; i < cds.size(); ++i) {
      if (const auto r = line_register(cds[i].text)) saved.settings.insert(*r);
    }
  } catch (const RunError&) {
    return std::nullopt;
  }
  saved.settings.insert(reg::kRestart);
  add_range(saved.profile, reg::kProfileSelect, reg::kStepType);
  try {
    const TextLines pds = read_text_lines(dir / (model + ".pds"));
    const ProfileSequence sequence(pds, model + ".pds");
    const int profiles = std::clamp(sequence.profile_count(), 0, kMaxNamedProfiles);
    add_range(saved.profile, reg::kProfileNameBase,
              reg::profile_name_register(profiles + 1, 0) - 1);
    bool in_sections = false;
    for (std::size_t i = 1; i < pds.size(); ++i) {
      in_sections = in_sections || is_header(pds[i].text);
      if (!in_sections) continue;  // the index lines map step types, not registers
      if (const auto r = line_register(pds[i].text)) saved.profile.insert(*r);
    }
  } catch (const RunError&) {
    add_range(saved.profile, reg::kProfileNameBase,
              reg::profile_name_register(kMaxNamedProfiles + 1, 0) - 1);
    add_range(saved.profile, reg::kProfileSelect, 4099);
  }
  return saved;
}

}  // namespace r7
