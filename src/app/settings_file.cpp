#include "app/settings_file.h"

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

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

std::optional<std::string> with_settings_value(std::string_view text, const std::string& section,
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
