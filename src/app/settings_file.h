// The settings file "VARNEL FLASH R7.INI" and the private-profile operations on it.
//
// Rules: section and key names are compared without regard to case or to the
// blanks around them; a missing file, section or key gives the default; a write
// creates file, section and key as needed and keeps everything else in the file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace r7 {

inline constexpr const char* kSettingsFileName = "VARNEL FLASH R7.INI";
inline constexpr const char* kCommsSection = "COMMS CONTROLS";
inline constexpr const char* kPortNamesSection = "PORT NAMES";
inline constexpr const char* kOptionsSection = "OPTIONS";
// "1" (the default) or "0": Start saves the controller's setup before download mode.
inline constexpr const char* kSaveSetupKey = "SAVE SETUP BEFORE DOWNLOAD";

// "DEVICE n COMM PORT " and "DEVICE n PORT SETTING " (both end in one blank).
std::string comm_port_key(int slot);
std::string port_setting_key(int slot);

// The value under `key` of `section` in settings text, as the reads below
// find it; nullopt when there is none. (The reads and the write work on the
// file's text through these two.)
std::optional<std::string> settings_value(std::string_view text, const std::string& section,
                                          const std::string& key);
// `text` with `value` stored under `key`, the section and key made as needed
// and everything else kept; nullopt when it cannot be stored.
std::optional<std::string> with_settings_value(std::string_view text, const std::string& section,
                                               const std::string& key, const std::string& value);

// The value under `key` read as a whole number: optional sign and the leading
// digits (0 when there are none). Values beyond the int range saturate, so an
// oversized port number is seen as invalid rather than wrapping around.
long read_profile_int(const std::string& section, const std::string& key, long default_value,
                      const std::filesystem::path& file);

// The value under `key` (at most 254 characters), or `default_value`.
std::string read_profile_string(const std::string& section, const std::string& key,
                                const std::string& default_value,
                                const std::filesystem::path& file);

// Stores `value` under `key`; nonzero on success. The file is replaced only
// once its new content is complete (written beside it, then renamed).
int write_profile_string(const std::string& section, const std::string& key,
                         const std::string& value, const std::filesystem::path& file);

}  // namespace r7
