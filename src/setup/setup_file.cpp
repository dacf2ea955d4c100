#include "setup/setup_file.h"

#include <cmath>
#include <system_error>

#include "errors/run_error.h"
#include "setup/setup_text.h"

namespace r7 {

namespace {

std::string two_digits(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

// The first free name "<file>.~N" beside `target`.
std::filesystem::path temporary_beside(const std::filesystem::path& target) {
  constexpr int kMaxCandidates = 1000;
  std::error_code ec;
  for (int n = 1; n <= kMaxCandidates; ++n) {
    std::filesystem::path candidate = target;
    candidate += ".~" + std::to_string(n);
    if (!std::filesystem::exists(candidate, ec) && !ec) return candidate;
  }
  throw RunError(58, "no free temporary name", target.string());
}

int creation_error(const std::filesystem::path& file) {
  std::error_code ec;
  const auto parent = file.parent_path();
  if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) return err::kPathNotFound;
  return err::kPathFileAccess;
}

}  // namespace

std::string setup_date_text(const LocalTime& t) {
  return std::to_string(t.month) + "/" + std::to_string(t.day) + "/" + std::to_string(t.year) +
         " " + two_digits(t.hour) + ":" + two_digits(t.minute) + ":" + two_digits(t.second);
}

std::array<std::string, kSetupHeaderLines> setup_header_lines(const SetupHeader& h) {
  return {
      kSetupFileBanner,
      "   Model #:  " + h.model,
      "   Serial #:  " + h.serial_high + h.serial_low,
      "   Software #:  " + h.software,
      "   Software Revision:  " + h.revision,
      "   Date: " + setup_date_text(h.date),
      kSetupFileRule,
  };
}

std::string with_default_extension(const std::string& chosen) {
  return chosen.find('.') == std::string::npos ? chosen + ".txt" : chosen;
}

std::optional<double> setup_file_model(std::string_view line2) {
  const std::size_t colon = line2.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::size_t from = colon + 3;
  if (from >= line2.size()) return std::nullopt;
  return parse_number(line2.substr(from));
}

DataLine parse_data_line(std::string_view line) {
  DataLine d;
  if (line.find_first_not_of(" \t") == std::string_view::npos) return d;
  d.kind = DataLine::Kind::Invalid;
  if (!starts_with_digit(line)) return d;
  const auto reg = reg_number(line);
  const std::size_t blank = line.find(' ');
  if (!reg || blank == std::string_view::npos) return d;
  const auto value = parse_number(line.substr(blank));
  if (!value) return d;
  const double r = std::nearbyint(*reg);
  const double v = std::nearbyint(*value);
  if (r < 0 || r > 65535 || v < -32768 || v > 32767) return d;
  d.kind = DataLine::Kind::Data;
  d.register_no = static_cast<int>(r);
  d.value = static_cast<int>(v);
  return d;
}

SetupFileWriter::SetupFileWriter(std::filesystem::path target)
    : target_(std::move(target)), temp_(temporary_beside(target_)) {
  out_.open(temp_, std::ios::binary | std::ios::trunc);
  if (!out_) {
    done_ = true;  // nothing to remove
    throw RunError(creation_error(temp_), "cannot create", temp_.string());
  }
}

SetupFileWriter::~SetupFileWriter() {
  discard();
}

void SetupFileWriter::write_line(std::string_view text) {
  out_ << text << kLineBreak;
  if (!out_) throw RunError(err::kPathFileAccess, "cannot write", temp_.string());
}

void SetupFileWriter::commit() {
  out_.close();
  if (out_.fail()) throw RunError(err::kPathFileAccess, "cannot write", temp_.string());
  std::error_code ec;
  std::filesystem::rename(temp_, target_, ec);
  if (ec) throw RunError(err::kPathFileAccess, "cannot replace", target_.string());
  done_ = true;
}

void SetupFileWriter::discard() {
  if (done_) return;
  done_ = true;
  if (out_.is_open()) out_.close();
  std::error_code ignored;
  std::filesystem::remove(temp_, ignored);
}

void ErrorStream::create(const std::filesystem::path& file) {
  close();
  path_ = file;
  out_.clear();
  out_.open(file, std::ios::binary | std::ios::trunc);
  if (!out_) {
    path_.clear();
    throw RunError(creation_error(file), "cannot create", file.string());
  }
  for (const std::string& line : pending_)
    out_ << line << kLineBreak;
  pending_.clear();
  out_.flush();
}

bool ErrorStream::write_line(const std::string& text) {
  if (!out_.is_open()) {
    pending_.push_back(text);
    return true;
  }
  out_ << text << kLineBreak;
  out_.flush();
  return static_cast<bool>(out_);
}

void ErrorStream::close() {
  if (out_.is_open()) out_.close();
}

void ErrorStream::remove() {
  close();
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

}  // namespace r7
