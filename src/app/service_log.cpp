#include "app/service_log.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <system_error>
#include <type_traits>

#include "app/version.h"
#include "base/sha256.h"
#include "os/os.h"

namespace r7 {

namespace {

constexpr std::size_t kHashChunkBytes = 64 * 1024;
constexpr std::size_t kReadChunkBytes = 1024 * 1024;

// ---- writing ----

// The length of the UTF-8 sequence at s[i], 0 when the bytes there are not one
// (overlong forms and surrogates included).
std::size_t utf8_length(std::string_view s, std::size_t i) {
  const auto byte = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  std::size_t n = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return n;
}

void put_string(std::string& out, std::string_view s) {
  out += '"';
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      if (const std::size_t n = utf8_length(s, i)) {
        out.append(s.substr(i, n));
        i += n;
        continue;
      }
      // Not UTF-8: the byte as the Latin-1 character it would be.
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  out += '"';
}

class ObjectWriter {
 public:
  void key(const char* name) {
    text_ += text_.empty() ? "{\"" : ",\"";
    text_ += name;
    text_ += "\":";
  }
  void string(const char* name, std::string_view value) {
    key(name);
    put_string(text_, value);
  }
  void string(const char* name, const std::string& value) { string(name, std::string_view(value)); }
  void string(const char* name, const std::optional<std::string>& value) {
    if (value) return string(name, std::string_view(*value));
    key(name);
    text_ += "null";
  }
  template <class Number>
  void number(const char* name, const std::optional<Number>& value) {
    key(name);
    text_ += value ? std::to_string(*value) : "null";
  }
  void number(const char* name, int value) { number(name, std::optional<int>(value)); }
  std::string done() { return text_ + "}"; }

 private:
  std::string text_;
};

// ---- reading ----

struct Value {
  enum class Kind { Null, String, Number } kind = Kind::Null;
  std::string_view text;  // into the line, or into `decoded` when it had escapes
  std::string decoded;
  long long number = 0;
};

void put_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A flat JSON object read one member at a time.
class ObjectReader {
 public:
  explicit ObjectReader(std::string_view text) : s_(text) {}

  bool begin() {
    skip_blanks();
    return take('{');
  }
  // The next member into `name` and `value`; false at the end of the object
  // (then `ok()` says whether it ended well).
  bool next(std::string_view& name, std::string& name_decoded, Value& value) {
    skip_blanks();
    if (first_ && take('}')) return finish();
    if (!first_ && !take(',')) return take('}') ? finish() : fail();
    first_ = false;
    skip_blanks();
    if (!take('"') || !read_string(name, name_decoded)) return fail();
    skip_blanks();
    if (!take(':')) return fail();
    skip_blanks();
    return read_value(value) || fail();
  }
  bool ok() const { return ok_; }

 private:
  bool finish() {
    skip_blanks();
    ok_ = i_ == s_.size();
    return false;
  }
  bool fail() {
    ok_ = false;
    i_ = s_.size();
    return false;
  }
  void skip_blanks() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n'))
      ++i_;
  }
  bool take(char c) {
    if (i_ >= s_.size() || s_[i_] != c) return false;
    ++i_;
    return true;
  }
  bool hex4(std::uint32_t& out) {
    if (i_ + 4 > s_.size()) return false;
    const auto [end, ec] = std::from_chars(s_.data() + i_, s_.data() + i_ + 4, out, 16);
    if (ec != std::errc() || end != s_.data() + i_ + 4) return false;
    i_ += 4;
    return true;
  }
  // After the opening quote: the text up to the closing one, decoded into
  // `decoded` only when it holds escapes.
  bool read_string(std::string_view& text, std::string& decoded) {
    const std::size_t from = i_;
    // Most strings hold no escape: up to the next quote, checked in one sweep.
    const std::size_t quote = s_.find('"', from);
    if (quote != std::string_view::npos) {
      bool plain = true;
      for (std::size_t k = from; k < quote; ++k)
        plain &= s_[k] != '\\' && static_cast<unsigned char>(s_[k]) >= 0x20;
      if (plain) {
        text = s_.substr(from, quote - from);
        i_ = quote + 1;
        return true;
      }
    }
    while (i_ < s_.size() && s_[i_] != '"' && s_[i_] != '\\' &&
           static_cast<unsigned char>(s_[i_]) >= 0x20)
      ++i_;
    decoded.assign(s_.substr(from, i_ - from));
    if (!decode_rest(decoded)) return false;
    text = decoded;
    return true;
  }
  bool decode_rest(std::string& out) {
    for (;;) {
      const std::size_t plain = i_;
      while (i_ < s_.size() && s_[i_] != '"' && s_[i_] != '\\' &&
             static_cast<unsigned char>(s_[i_]) >= 0x20)
        ++i_;
      out.append(s_.substr(plain, i_ - plain));
      if (i_ >= s_.size()) return false;
      const char c = s_[i_++];
      if (c == '"') return true;
      if (c != '\\' || i_ >= s_.size()) return false;  // a raw control character
      const char e = s_[i_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t cp = 0;
          if (!hex4(cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {  // a surrogate pair
            std::uint32_t low = 0;
            if (!take('\\') || !take('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF)
              return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return false;
          }
          put_utf8(out, cp);
          break;
        }
        default:
          return false;
      }
    }
  }
  bool read_value(Value& v) {
    if (take('"')) {
      v.kind = Value::Kind::String;
      return read_string(v.text, v.decoded);
    }
    if (s_.substr(i_, 4) == "null") {
      i_ += 4;
      v.kind = Value::Kind::Null;
      return true;
    }
    // Whole numbers only: the log writes no others.
    const auto [end, ec] = std::from_chars(s_.data() + i_, s_.data() + s_.size(), v.number);
    if (ec != std::errc()) return false;
    i_ = static_cast<std::size_t>(end - s_.data());
    if (i_ < s_.size() && (s_[i_] == '.' || s_[i_] == 'e' || s_[i_] == 'E')) return false;
    v.kind = Value::Kind::Number;
    return true;
  }

  std::string_view s_;
  std::size_t i_ = 0;
  bool first_ = true;
  bool ok_ = true;
};

bool to_int(const Value& v, int& out) {
  if (v.kind != Value::Kind::Number || v.number < std::numeric_limits<int>::min() ||
      v.number > std::numeric_limits<int>::max())
    return false;
  out = static_cast<int>(v.number);
  return true;
}

bool to_optional_int(const Value& v, std::optional<int>& out) {
  if (v.kind == Value::Kind::Null) {
    out.reset();
    return true;
  }
  int n = 0;
  if (!to_int(v, n)) return false;
  out = n;
  return true;
}

bool to_optional_string(Value& v, std::optional<std::string>& out) {
  if (v.kind == Value::Kind::Null) {
    out.reset();
    return true;
  }
  if (v.kind != Value::Kind::String) return false;
  out.emplace(v.text);
  return true;
}

bool to_string(Value& v, std::string& out) {
  if (v.kind != Value::Kind::String) return false;
  out.assign(v.text);
  return true;
}

bool to_time(const Value& v, LocalTime& out) {
  if (v.kind != Value::Kind::String) return false;
  const auto t = parse_iso_time(v.text);
  if (t) out = *t;
  return t.has_value();
}

bool two_digits(std::string_view s, std::size_t at, int& out) {
  if (at + 2 > s.size() || s[at] < '0' || s[at] > '9' || s[at + 1] < '0' || s[at + 1] > '9')
    return false;
  out = (s[at] - '0') * 10 + (s[at + 1] - '0');
  return true;
}

// "YYYY-MM-DD" at the start of `s`.
bool read_date(std::string_view s, LocalTime& t) {
  int century = 0;
  int year = 0;
  if (s.size() < 10 || !two_digits(s, 0, century) || !two_digits(s, 2, year) || s[4] != '-' ||
      !two_digits(s, 5, t.month) || s[7] != '-' || !two_digits(s, 8, t.day))
    return false;
  t.year = century * 100 + year;
  return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31;
}

// "HH:MM" at `at`, and ":SS" when `seconds`.
bool read_clock(std::string_view s, std::size_t at, bool seconds, LocalTime& t) {
  if (!two_digits(s, at, t.hour) || at + 2 >= s.size() || s[at + 2] != ':' ||
      !two_digits(s, at + 3, t.minute))
    return false;
  if (seconds && (at + 5 >= s.size() || s[at + 5] != ':' || !two_digits(s, at + 6, t.second)))
    return false;
  return t.hour <= 23 && t.minute <= 59 && t.second <= 60;
}

long long sort_key(const LocalTime& t) {
  return ((((t.year * 100LL + t.month) * 100 + t.day) * 100 + t.hour) * 100 + t.minute) * 100 +
         t.second;
}

std::string base_name(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string outcome_text(const ServiceRecord& r) {
  std::string text = r.ending;
  if (!r.step.empty()) text += " at " + r.step;
  if (r.refused > 0) text += ", " + std::to_string(r.refused) + " refused";
  if (r.skipped > 0) text += ", " + std::to_string(r.skipped) + " skipped";
  if (r.differences > 0) text += ", " + std::to_string(r.differences) + " difference(s)";
  if (r.error_number != 0) text += ", error " + std::to_string(r.error_number);
  return text;
}

template <class T>
std::string cell(const std::optional<T>& value) {
  if (!value) return "-";
  if constexpr (std::is_same_v<T, std::string>) {
    return *value;
  } else {
    return std::to_string(*value);
  }
}

}  // namespace

ServiceFile describe_file(const std::filesystem::path& path) {
  ServiceFile file{path.string(), std::nullopt, std::nullopt};
  std::ifstream in(path, std::ios::binary);
  if (!in) return file;
  Sha256 hash;
  std::string chunk(kHashChunkBytes, '\0');
  std::uintmax_t size = 0;
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    hash.update(std::string_view(chunk.data(), got));
    size += got;
  }
  if (in.bad()) return file;
  file.size = size;
  file.sha256 = hash.finish_hex();
  return file;
}

void ServiceRecord::set_outcome(const Outcome& outcome) {
  ending = ending_name(outcome.ending);
  refused = outcome.refused;
  skipped = outcome.skipped;
  differences = outcome.differences;
  step = outcome.step;
  error_number = outcome.error_number;
}

std::string iso_time_text(const LocalTime& t) {
  const int offset = t.utc_offset_minutes < 0 ? -t.utc_offset_minutes : t.utc_offset_minutes;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month,
                t.day, t.hour, t.minute, t.second, t.utc_offset_minutes < 0 ? '-' : '+',
                offset / 60, offset % 60);
  return text;
}

std::optional<LocalTime> parse_iso_time(std::string_view s) {
  LocalTime t;
  if (!read_date(s, t) || s.size() < 20 || s[10] != 'T' || !read_clock(s, 11, true, t))
    return std::nullopt;
  if (s.size() == 20 && s[19] == 'Z') return t;
  int hours = 0;
  int minutes = 0;
  if (s.size() != 25 || (s[19] != '+' && s[19] != '-') || !two_digits(s, 20, hours) ||
      s[22] != ':' || !two_digits(s, 23, minutes) || minutes > 59)
    return std::nullopt;
  t.utc_offset_minutes = (s[19] == '-' ? -1 : 1) * (hours * 60 + minutes);
  return t;
}

std::string service_record_json(const ServiceRecord& r) {
  ObjectWriter w;
  w.string("start", iso_time_text(r.start));
  w.string("end", iso_time_text(r.end));
  w.string("version", r.version);
  w.string("user", r.user);
  w.string("station", r.station);
  w.string("job", r.job);
  w.number("model", r.model);
  w.string("serial_number", r.serial_number);
  w.number("software_number", r.software_number);
  w.number("revision", r.revision);
  w.string("file", r.file ? std::optional<std::string>(r.file->path) : std::nullopt);
  w.number("file_size", r.file ? r.file->size : std::nullopt);
  w.string("file_sha256", r.file ? r.file->sha256 : std::nullopt);
  w.string("backup_file", r.backup);
  w.string("ending", r.ending);
  w.number("refused", r.refused);
  w.number("skipped", r.skipped);
  w.number("differences", r.differences);
  w.string("step", r.step.empty() ? std::nullopt : std::optional<std::string>(r.step));
  w.number("error_number", r.error_number);
  w.number("exit_status", r.exit_status);
  return w.done();
}

namespace {

// The record being read, with what the fields need beyond it.
struct Reading {
  ServiceRecord r;
  bool has_start = false;
  bool has_job = false;
  bool has_ending = false;
  std::optional<std::string> file_path;
  std::optional<long long> file_size;
  std::optional<std::string> file_sha256;
  std::optional<std::string> step;
};

struct Field {
  std::string_view name;
  bool (*take)(Value&, Reading&);
};

// In the order service_record_json writes them: each name is looked for
// first where the last one was found.
constexpr Field kFields[] = {
    {"start", [](Value& v, Reading& x) { return x.has_start = to_time(v, x.r.start); }},
    {"end", [](Value& v, Reading& x) { return to_time(v, x.r.end); }},
    {"version", [](Value& v, Reading& x) { return to_string(v, x.r.version); }},
    {"user", [](Value& v, Reading& x) { return to_optional_string(v, x.r.user); }},
    {"station", [](Value& v, Reading& x) { return to_string(v, x.r.station); }},
    {"job", [](Value& v, Reading& x) { return x.has_job = to_string(v, x.r.job); }},
    {"model", [](Value& v, Reading& x) { return to_optional_int(v, x.r.model); }},
    {"serial_number",
     [](Value& v, Reading& x) { return to_optional_string(v, x.r.serial_number); }},
    {"software_number",
     [](Value& v, Reading& x) { return to_optional_int(v, x.r.software_number); }},
    {"revision", [](Value& v, Reading& x) { return to_optional_int(v, x.r.revision); }},
    {"file", [](Value& v, Reading& x) { return to_optional_string(v, x.file_path); }},
    {"file_size",
     [](Value& v, Reading& x) {
       if (v.kind == Value::Kind::Null) return true;
       if (v.kind != Value::Kind::Number || v.number < 0) return false;
       x.file_size = v.number;
       return true;
     }},
    {"file_sha256", [](Value& v, Reading& x) { return to_optional_string(v, x.file_sha256); }},
    {"backup_file", [](Value& v, Reading& x) { return to_optional_string(v, x.r.backup); }},
    {"ending", [](Value& v, Reading& x) { return x.has_ending = to_string(v, x.r.ending); }},
    {"refused", [](Value& v, Reading& x) { return to_int(v, x.r.refused); }},
    {"skipped", [](Value& v, Reading& x) { return to_int(v, x.r.skipped); }},
    {"differences", [](Value& v, Reading& x) { return to_int(v, x.r.differences); }},
    {"step", [](Value& v, Reading& x) { return to_optional_string(v, x.step); }},
    {"error_number", [](Value& v, Reading& x) { return to_int(v, x.r.error_number); }},
    {"exit_status", [](Value& v, Reading& x) { return to_optional_int(v, x.r.exit_status); }},
};
constexpr std::size_t kFieldCount = std::size(kFields);

}  // namespace

std::optional<ServiceRecord> parse_service_record(std::string_view line) {
  ObjectReader reader(line);
  if (!reader.begin()) return std::nullopt;
  Reading x;
  std::string_view name;
  std::string name_decoded;
  Value v;
  std::size_t at = 0;  // where the next name is looked for first
  while (reader.next(name, name_decoded, v)) {
    for (std::size_t k = 0; k < kFieldCount; ++k) {
      const std::size_t i = (at + k) % kFieldCount;
      if (kFields[i].name != name) continue;
      if (!kFields[i].take(v, x)) return std::nullopt;
      at = i + 1;
      break;
    }  // names it does not know are passed over
  }
  if (!reader.ok() || !x.has_start || !x.has_job || !x.has_ending) return std::nullopt;
  ServiceRecord& r = x.r;
  if (x.file_path) {
    r.file = ServiceFile{std::move(*x.file_path), std::nullopt, std::move(x.file_sha256)};
    if (x.file_size) r.file->size = static_cast<std::uintmax_t>(*x.file_size);
  }
  r.step = x.step.value_or(std::string());
  return std::move(r);
}

bool HistoryFilter::admits(const ServiceRecord& record) const {
  if (serial_number && record.serial_number != serial_number) return false;
  return !since || sort_key(record.start) >= sort_key(*since);
}

std::optional<LocalTime> parse_since(std::string_view s) {
  LocalTime t;
  if (!read_date(s, t)) return std::nullopt;
  if (s.size() == 10) return t;
  if (s[10] != 'T' && s[10] != ' ') return std::nullopt;
  if (s.size() == 16 && read_clock(s, 11, false, t)) return t;
  if (s.size() == 19 && read_clock(s, 11, true, t)) return t;
  return std::nullopt;
}

ServiceLogEntries scan_service_log(const std::filesystem::path& file, const HistoryFilter& filter,
                                   const ServiceLogVisitor& each) {
  ServiceLogEntries entries;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::error_code ec;
    entries.missing = !std::filesystem::exists(file, ec) && !ec;
    entries.unreadable = !entries.missing;
    return entries;
  }
  const auto take_line = [&](std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) return;
    if (auto record = parse_service_record(line)) {
      if (filter.admits(*record)) each(std::move(*record), line);
    } else {
      ++entries.damaged;
    }
  };
  // Read in pieces: the lines a piece completes, then the rest moved to the front.
  std::string buffer(kReadChunkBytes, '\0');
  std::size_t kept = 0;
  for (;;) {
    if (kept == buffer.size()) buffer.resize(buffer.size() * 2);  // a line longer than a piece
    in.read(buffer.data() + kept, static_cast<std::streamsize>(buffer.size() - kept));
    const std::size_t filled = kept + static_cast<std::size_t>(in.gcount());
    const std::string_view data(buffer.data(), filled);
    std::size_t from = 0;
    for (std::size_t end; (end = data.find('\n', from)) != std::string_view::npos; from = end + 1)
      take_line(data.substr(from, end - from));
    if (!in) {
      take_line(data.substr(from));  // the last line, without its end
      break;
    }
    kept = filled - from;
    std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(from),
              buffer.begin() + static_cast<std::ptrdiff_t>(filled), buffer.begin());
  }
  return entries;
}

ServiceLogEntries read_service_log(const std::filesystem::path& file, const HistoryFilter& filter) {
  std::vector<ServiceRecord> records;
  ServiceLogEntries entries = scan_service_log(
      file, filter,
      [&records](ServiceRecord&& r, std::string_view) { records.push_back(std::move(r)); });
  entries.records = std::move(records);
  return entries;
}

ServiceLog::ServiceLog(Clock& clock, const ProgramDir& program_dir)
    : ServiceLog(clock, program_dir.join(kServiceLogName)) {}

ServiceLog::ServiceLog(Clock& clock, std::filesystem::path file)
    : clock_(clock), file_(std::move(file)) {}

ServiceRecord ServiceLog::begin(std::string job, std::string station) {
  ServiceRecord record;
  record.start = clock_.local_time();
  record.end = record.start;
  record.version = kVersionText;
  record.user = os::user_name();
  record.job = std::move(job);
  record.station = std::move(station);
  return record;
}

std::string ServiceLog::finish(ServiceRecord& record) {
  record.end = clock_.local_time();
  std::string line = service_record_json(record) + "\n";
  // A line an earlier writer left without its end (a full disk) must not run
  // into this one.
  {
    std::ifstream in(file_, std::ios::binary | std::ios::ate);
    if (in && in.tellg() > 0) {
      in.seekg(-1, std::ios::end);
      if (in.get() != '\n') line.insert(line.begin(), '\n');
    }
  }
  const std::string problem = os::append_whole(file_, line);
  if (problem.empty()) return {};
  return "the service log " + file_.string() + " cannot be written: " + problem;
}

std::array<std::string, kHistoryColumns.size()> history_cells(const ServiceRecord& r) {
  char start[32];
  std::snprintf(start, sizeof start, "%04d-%02d-%02d %02d:%02d:%02d", r.start.year, r.start.month,
                r.start.day, r.start.hour, r.start.minute, r.start.second);
  return {start,
          cell(r.user),
          r.station,
          r.job,
          cell(r.model),
          cell(r.serial_number),
          cell(r.software_number),
          cell(r.revision),
          r.file ? base_name(r.file->path) : "-",
          outcome_text(r),
          cell(r.exit_status)};
}

std::string service_report_text(const ServiceRecord& r) {
  std::string text = "Job: " + r.job + "\n";
  text += "Start: " + iso_time_text(r.start) + "\n";
  text += "End: " + iso_time_text(r.end) + "\n";
  text += "Tool version: " + r.version + "\n";
  text += "User: " + cell(r.user) + "\n";
  text += "Station: " + r.station + "\n";
  text += "Model: " + cell(r.model) + "\n";
  text += "Serial number: " + cell(r.serial_number) + "\n";
  text += "Software number: " + cell(r.software_number) + "\n";
  text += "Revision: " + cell(r.revision) + "\n";
  if (r.file) {
    text += "File: " + r.file->path;
    if (r.file->size) text += " (" + std::to_string(*r.file->size) + " bytes)";
    text += "\n";
    text += "SHA-256: " + cell(r.file->sha256) + "\n";
  }
  if (r.backup) text += "Backup before the download: " + *r.backup + "\n";
  text += "Outcome: " + outcome_text(r) + "\n";
  text += "Exit status: " + cell(r.exit_status);
  return text;
}

}  // namespace r7
