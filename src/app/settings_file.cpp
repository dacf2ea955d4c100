#include "app/settings_file.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

#include "base/input_file.h"
#include "base/numbers.h"
#include "base/run_error.h"

#define SI_NO_CONVERSION
#include <SimpleIni.h>

namespace r7 {

namespace {

constexpr std::size_t kMaxValueLength = 254;

std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

// A settings file holds a few short sections; anything larger is not one.
constexpr std::uintmax_t kMaxSettingsBytes = 1024U * 1024U;

void configure(CSimpleIniA& ini) {
  ini.SetUnicode(false);
  ini.SetMultiKey(false);
  ini.SetSpaces(false);
  ini.SetQuotes(false);
}

// The settings file's text. A missing file is an empty one. Anything else that
// cannot be read (a directory, a pipe, a device, a file far too large) also
// reads as empty, and gives nullopt so it is not written over.
std::optional<std::string> file_text(const std::filesystem::path& file) {
  std::ifstream in;
  try {
    in = open_input_file(file, kMaxSettingsBytes);
  } catch (const RunError& e) {
    if (e.number() == err::kFileNotFound) return std::string();
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void load(CSimpleIniA& ini, std::string_view text) {
  configure(ini);
  if (ini.LoadData(text.data(), text.size()) < 0) ini.Reset();
}

}  // namespace

std::string comm_port_key(int slot) {
  return "DEVICE " + std::to_string(slot) + " COMM PORT ";
}

std::string port_setting_key(int slot) {
  return "DEVICE " + std::to_string(slot) + " PORT SETTING ";
}

std::optional<std::string> settings_value(std::string_view text, const std::string& section,
                                          const std::string& key) {
  CSimpleIniA ini;
  load(ini, text);
  const char* value = ini.GetValue(trim(section).c_str(), trim(key).c_str(), nullptr);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

namespace {

bool same_name(std::string a, std::string b) {
  a = trim(a);
  b = trim(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// One line of the file: its text without the line end, and the line end.
struct IniLine {
  std::string text;
  std::string end;  // "\r\n", "\n" or "" for a last line without one
};

std::vector<IniLine> ini_lines(std::string_view text) {
  std::vector<IniLine> lines;
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    std::string end = lf == std::string_view::npos ? "" : "\n";
    if (!end.empty() && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
      end = "\r\n";
    }
    lines.push_back({std::string(line), end});
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
  }
  return lines;
}

// "[name]" gives the name; other lines nullopt.
std::optional<std::string> section_of(const std::string& line) {
  const std::string t = trim(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  const std::size_t close = t.find(']');
  if (close == std::string::npos) return std::nullopt;
  return t.substr(1, close - 1);
}

// The key of a "key=value" line; nullopt for comments and other lines.
std::optional<std::string> key_of(const std::string& line) {
  const std::string t = trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '#' || t.front() == '[') return std::nullopt;
  const std::size_t eq = t.find('=');
  if (eq == std::string::npos) return std::nullopt;
  return t.substr(0, eq);
}

// The text rebuilt by the reader's own writer (line ends become LF).
std::optional<std::string> rebuilt_with_value(std::string_view text, const std::string& section,
                                              const std::string& key, const std::string& value) {
  CSimpleIniA ini;
  load(ini, text);
  if (ini.SetValue(trim(section).c_str(), trim(key).c_str(), value.c_str()) < 0) {
    return std::nullopt;
  }
  std::string data;
  if (ini.Save(data) < 0) return std::nullopt;
  return data;
}

// Whether `edited` reads as `original` with `value` under the key, and
// everything else as it was.
bool reads_as_edited(std::string_view original, std::string_view edited, const std::string& section,
                     const std::string& key, const std::string& value) {
  CSimpleIniA before;
  CSimpleIniA after;
  load(before, original);
  load(after, edited);
  const auto count = [](const CSimpleIniA& ini) {
    std::size_t n = 0;
    CSimpleIniA::TNamesDepend sections;
    ini.GetAllSections(sections);
    for (const auto& s : sections)
      n += ini.GetSectionSize(s.pItem) > 0 ? static_cast<std::size_t>(ini.GetSectionSize(s.pItem))
                                           : 0;
    return n;
  };
  CSimpleIniA::TNamesDepend sections;
  before.GetAllSections(sections);
  std::size_t kept = 0;
  for (const auto& s : sections) {
    CSimpleIniA::TNamesDepend keys;
    before.GetAllKeys(s.pItem, keys);
    for (const auto& k : keys) {
      if (same_name(s.pItem, section) && same_name(k.pItem, key)) continue;
      const char* a = before.GetValue(s.pItem, k.pItem, nullptr);
      const char* b = after.GetValue(s.pItem, k.pItem, nullptr);
      if (a == nullptr || b == nullptr || std::string_view(a) != b) return false;
      ++kept;
    }
  }
  const char* stored = after.GetValue(trim(section).c_str(), trim(key).c_str(), nullptr);
  return stored != nullptr && stored == value && count(after) == kept + 1;
}

// Edits the text in place: the value of every line of the key in the section
// is replaced, or one line is added at the end of the (last) section, or the
// section is added at the end. Other bytes, line ends included, stay as they
// are; new lines take the file's line end (CR LF when it has any).
std::optional<std::string> edited_in_place(std::string_view text, const std::string& section,
                                           const std::string& key, const std::string& value) {
  std::vector<IniLine> lines = ini_lines(text);
  const std::string eol = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  bool in_section = false;
  bool found = false;
  std::optional<std::size_t> section_end;  // after the last key line of the last such section
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (const auto name = section_of(lines[i].text)) {
      in_section = same_name(*name, section);
      if (in_section) section_end = i + 1;
      continue;
    }
    if (!in_section) continue;
    const auto k = key_of(lines[i].text);
    if (!k) continue;
    section_end = i + 1;
    if (!same_name(*k, key)) continue;
    lines[i].text = lines[i].text.substr(0, lines[i].text.find('=') + 1) + value;
    found = true;
  }
  if (!found) {
    const IniLine added{trim(key) + "=" + value, eol};
    if (section_end) {
      if (lines[*section_end - 1].end.empty()) lines[*section_end - 1].end = eol;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*section_end), added);
    } else {
      if (!lines.empty() && lines.back().end.empty()) lines.back().end = eol;
      lines.push_back({"[" + trim(section) + "]", eol});
      lines.push_back(added);
    }
  }
  std::string data;
  for (const IniLine& line : lines)
    data += line.text + line.end;
  return data;
}

}  // namespace

// In place when the reader reads the edit as meant (every ordinary file);
// text the line rules do not cover (zero bytes, odd quoting) is rebuilt.
std::optional<std::string> with_settings_value(std::string_view text, const std::string& section,
                                               const std::string& key, const std::string& value) {
  if (value.find_first_of("\r\n") != std::string::npos) return std::nullopt;
  if (const auto edited = edited_in_place(text, section, key, value);
      edited && reads_as_edited(text, *edited, section, key, value)) {
    return edited;
  }
  return rebuilt_with_value(text, section, key, value);
}

long read_profile_int(const std::string& section, const std::string& key, long default_value,
                      const std::filesystem::path& file) {
  const auto value = settings_value(file_text(file).value_or(""), section, key);
  return value ? leading_integer(trim(*value)) : default_value;
}

std::string read_profile_string(const std::string& section, const std::string& key,
                                const std::string& default_value,
                                const std::filesystem::path& file) {
  std::string result =
      settings_value(file_text(file).value_or(""), section, key).value_or(default_value);
  if (result.size() > kMaxValueLength) result.resize(kMaxValueLength);
  return result;
}

int write_profile_string(const std::string& section, const std::string& key,
                         const std::string& value, const std::filesystem::path& file) {
  const auto text = file_text(file);
  if (!text) return 0;
  const auto data = with_settings_value(*text, section, key, value);
  if (!data) return 0;
  std::filesystem::path temp = file;
  temp += ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return 0;
    out << *data;
    out.flush();
    if (!out) {
      out.close();
      std::error_code ignored;
      std::filesystem::remove(temp, ignored);
      return 0;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temp, file, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return 0;
  }
  return 1;
}

}  // namespace r7
