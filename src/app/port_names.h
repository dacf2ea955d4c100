// Serial port numbers 1 to 4 and the devices behind them: COM1..COM4 on Windows,
// /dev/ttyS0..3 elsewhere, each overridable by key "PORT n" in section
// "PORT NAMES" of the settings file, and for one run by an override for all.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace r7 {

class PortNames {
 public:
  explicit PortNames(std::filesystem::path settings_file,
                     std::optional<std::string> override_all = std::nullopt);

  // The device name for port number `port` (any number; the settings decide).
  std::string device_name(int port) const;

  // The platform's own name for port `port` ignoring the settings file.
  static std::string default_device_name(int port);

  const std::optional<std::string>& override_all() const { return override_all_; }

 private:
  std::filesystem::path settings_file_;
  std::optional<std::string> override_all_;
};

}  // namespace r7
