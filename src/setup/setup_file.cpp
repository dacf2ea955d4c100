#include "setup/setup_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <string_view>
#include <system_error>

#include "base/numbers.h"
#include "base/run_error.h"
#include "modbus/registers.h"
#include "os/os.h"
#include "setup/setup_text.h"

namespace r7 {

namespace {

std::string two_digits(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

// Temporary files are "<target>.~<owner>-<n>": the owner is this process's
// id, n counts the process's saves. A save killed half way leaves its file
// behind; later saves of the same target remove such leftovers once it is
// safe (stale_leftover).
bool all_digits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

const std::string& owner_mark() {
  static const std::string mark = os::process_id();
  return mark;
}

// Leftovers nobody can vouch for are kept this long (a save writes for a few
// minutes at most); those of a process id in use again, a day.
constexpr auto kUnownedLeftoverAge = std::chrono::minutes(10);
constexpr auto kOwnedLeftoverAge = std::chrono::hours(24);

// `suffix`: what follows "<target>.~". Only names a save makes are judged:
// "<owner>-<n>", and "<n>" from earlier versions of the program.
bool stale_leftover(std::string_view suffix, std::filesystem::file_time_type::duration age) {
  const std::size_t dash = suffix.find('-');
  if (dash == std::string_view::npos) return all_digits(suffix) && age > kUnownedLeftoverAge;
  const std::string_view owner = suffix.substr(0, dash);
  if (!all_digits(suffix.substr(dash + 1)) || owner.empty()) return false;
  if (!all_digits(owner)) return age > kUnownedLeftoverAge;
  if (age > kOwnedLeftoverAge) return true;
  // A process that may still run keeps its file until the day is over.
  return owner != owner_mark() && os::process_running(std::string(owner)) == false;
}

void remove_stale_leftovers(const std::filesystem::path& target) {
  const std::string prefix = target.filename().string() + ".~";
  const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec);
  const auto now = std::filesystem::file_time_type::clock::now();
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    std::error_code item;
    if (!it->is_regular_file(item) || it->is_symlink(item)) continue;
    const auto written = it->last_write_time(item);
    if (item) continue;
    if (stale_leftover(std::string_view(name).substr(prefix.size()), now - written)) {
      std::filesystem::remove(it->path(), item);
    }
  }
}

// A free temporary name beside `target`, after the stale leftovers are gone.
std::filesystem::path temporary_beside(const std::filesystem::path& target) {
  static std::atomic<unsigned> saves{0};
  constexpr int kMaxCandidates = 1000;
  remove_stale_leftovers(target);
  std::error_code ec;
  for (int tries = 0; tries < kMaxCandidates; ++tries) {
    std::filesystem::path candidate = target;
    candidate += ".~" + owner_mark() + "-" + std::to_string(++saves);
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

// What the system said of the stream operation that just failed.
std::string system_reason(int saved_errno) {
  if (saved_errno == 0) return "the system gives no reason";
  return std::error_code(saved_errno, std::generic_category()).message();
}

// RunError `number` for `file`; its text names what failed, the file the user
// knows (`shown`) and the system's reason.
[[noreturn]] void file_failure(int number, const std::string& doing,
                               const std::filesystem::path& shown,
                               const std::filesystem::path& file, int saved_errno) {
  throw RunError(number, doing + " " + shown.string() + ": " + system_reason(saved_errno),
                 file.string());
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

SetupFileController setup_file_controller(const std::filesystem::path& file) {
  SetupFileController found;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  for (int n = 1; n <= kSetupHeaderLines && std::getline(in, line); ++n) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string_view value(line);
    value.remove_prefix(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r'))
      value.remove_suffix(1);
    const std::string_view label = std::string_view(line).substr(0, colon);
    if (label.ends_with("Model #")) {
      found.model = parse_digits(value);
    } else if (label.ends_with("Serial #")) {
      if (!value.empty() && value.find_first_not_of("0123456789") == std::string_view::npos)
        found.serial_number = std::string(value);
    } else if (label.ends_with("Software #")) {
      found.software_number = parse_digits(value);
    } else if (label.ends_with("Software Revision")) {
      found.revision = parse_digits(value);
    }
  }
  return found;
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
  d.whole = v == *value;
  return d;
}

std::string data_line_problem(std::string_view line) {
  if (parse_data_line(line).kind != DataLine::Kind::Invalid) return {};
  if (line.find('\r') != std::string_view::npos) {
    return "a carriage return stands inside the line (characters after the line's end?)";
  }
  if (!starts_with_digit(line)) return "it does not begin with a register number";
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos) {
    return line.find('\t') != std::string_view::npos
               ? "a tab stands between register and value, where a blank belongs"
               : "no blank and value follow the register number";
  }
  const auto reg = reg_number(line);
  const auto value = parse_number(line.substr(blank));
  if (!reg || !value) return "its value is not a number";
  if (*reg < 0 || std::nearbyint(*reg) > 65535) return "the register is outside 0 to 65535";
  return "the value is outside -32768 to 32767";
}

std::optional<std::string> wide_text_encoding(const TextLines& lines) {
  if (lines.empty()) return std::nullopt;
  const std::string_view first = lines.front().text;
  const auto starts = [first](std::string_view mark) {
    return first.substr(0, mark.size()) == mark;
  };
  using namespace std::string_view_literals;
  if (starts("\xFF\xFE\0\0"sv)) return "UTF-32 little-endian";
  if (starts("\0\0\xFE\xFF"sv)) return "UTF-32 big-endian";
  if (starts("\xFF\xFE"sv)) return "UTF-16 little-endian";
  if (starts("\xFE\xFF"sv)) return "UTF-16 big-endian";
  for (const TextLine& line : lines) {
    const std::size_t zero = line.text.find('\0');
    if (zero == std::string::npos) continue;
    // Wide text without a mark: ASCII characters with their zero byte after
    // them (little-endian) or before them.
    if (zero % 2 == 1) return "UTF-16 little-endian (no byte-order mark)";
    if (zero % 2 == 0 && line.text.size() > zero + 1 && line.text[zero + 1] != '\0') {
      return "UTF-16 big-endian (no byte-order mark)";
    }
    return "binary (zero bytes)";
  }
  return std::nullopt;
}

SetupFileCheck check_setup_file(const TextLines& lines) {
  SetupFileCheck check;
  check.encoding = wide_text_encoding(lines);
  if (check.encoding) return check;
  const auto header = static_cast<std::size_t>(kSetupHeaderLines);
  if (lines.size() < header) {
    check.too_short = true;
    return check;
  }
  check.model = setup_file_model(lines[1].text);
  check.data_lines = lines.size() - header;
  std::optional<DataLine> last;
  for (std::size_t i = header; i < lines.size(); ++i) {
    const DataLine d = parse_data_line(lines[i].text);
    if (d.kind == DataLine::Kind::Empty) continue;
    last = d;
    check.last = lines[i];
    if (d.kind != DataLine::Kind::Invalid) continue;
    if (check.skipped.size() < kSetupLinesListed) check.skipped.push_back(lines[i]);
    ++check.skipped_count;
  }
  check.cut_short =
      !last || last->kind != DataLine::Kind::Data || last->register_no != reg::kRestart;
  return check;
}

std::string setup_file_problem(const SetupFileCheck& check, const std::string& file) {
  if (check.encoding) {
    return "The file " + file + " is " + *check.encoding +
           " text: a setup file is plain text of one byte a character, as a save writes it. "
           "Save it again as plain (ASCII) text.";
  }
  if (check.too_short) {
    return "The file " + file + " is not a setup file: it has fewer than seven lines.";
  }
  if (check.cut_short && !check.skipped.empty() && check.last &&
      parse_data_line(check.last->text).kind == DataLine::Kind::Invalid) {
    // Not cut short: its lines cannot be read, the last one among them.
    const TextLine& first = check.skipped.front();
    return "The file " + file +
           " cannot be read as a setup file: " + std::to_string(check.skipped_count) +
           " line(s) are not a register and a value; the first is line " +
           std::to_string(first.number) + " (\"" + quoted_line(first.text) +
           "\"): " + data_line_problem(first.text) + ".";
  }
  if (check.cut_short) {
    return "The file " + file +
           " was cut short: its data do not end with the line for register 25 that every saved "
           "setup ends with.";
  }
  return {};
}

std::optional<Outcome> choose_setup_file(Prompts& prompts, const std::string& initial_dir,
                                         const std::string& job, ChosenSetupFile& chosen) {
  FileDialog dialog;
  dialog.filter = kSetupFileFilter;
  dialog.initial_dir = initial_dir;
  dialog.must_exist = true;
  const auto path = prompts.open_file(dialog);
  if (!path) return Outcome(Ending::Cancelled);
  chosen.path = *path;
  try {
    chosen.lines = read_text_lines(*path, kMaxSetupFileBytes);
  } catch (const RunError& e) {
    prompts.message("Can not read the file " + *path + " (" + e.what() + "). " + job + " Canceled!",
                    "Setup File Check", Icon::Critical);
    return Outcome(Ending::FileProblem);
  }
  chosen.check = check_setup_file(chosen.lines);
  if (!chosen.check.usable()) {
    prompts.message(setup_file_problem(chosen.check, *path) + " " + job + " Canceled!",
                    "Setup File Check", Icon::Critical);
    return Outcome(Ending::FileProblem);
  }
  return std::nullopt;
}

SetupFileWriter::SetupFileWriter(std::filesystem::path target)
    : target_(std::move(target)), temp_(temporary_beside(target_)) {
  errno = 0;
  out_.open(temp_, std::ios::binary | std::ios::trunc);
  if (!out_) {
    const int saved_errno = errno;
    done_ = true;  // nothing to remove
    file_failure(creation_error(temp_), "cannot create", target_, temp_, saved_errno);
  }
}

SetupFileWriter::~SetupFileWriter() {
  discard();
}

void SetupFileWriter::write_line(std::string_view text) {
  errno = 0;
  out_ << text << kLineBreak;
  if (!out_) file_failure(err::kPathFileAccess, "cannot write", target_, temp_, errno);
}

void SetupFileWriter::commit() {
  errno = 0;
  out_.close();
  if (out_.fail()) file_failure(err::kPathFileAccess, "cannot write", target_, temp_, errno);
  std::error_code ec;
  std::filesystem::rename(temp_, target_, ec);
  if (ec) file_failure(err::kPathFileAccess, "cannot replace", target_, target_, ec.value());
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

void note_setup_file(ServiceRecord& record, const std::filesystem::path& file) {
  const std::filesystem::path absolute = std::filesystem::absolute(file);
  const SetupFileController named = setup_file_controller(absolute);
  record.model = named.model;
  record.serial_number = named.serial_number;
  record.software_number = named.software_number;
  record.revision = named.revision;
  record.file = describe_file(absolute);
}

}  // namespace r7
