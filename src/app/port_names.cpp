#include "app/port_names.h"

#include "app/settings_file.h"
#include "os/os.h"

namespace r7 {

PortNames::PortNames(std::filesystem::path settings_file, std::optional<std::string> override_all)
    : settings_file_(std::move(settings_file)), override_all_(std::move(override_all)) {}

std::string PortNames::default_device_name(int port) {
  return os::serial_device_name(port);
}

std::string PortNames::device_name(int port) const {
  if (override_all_) return *override_all_;
  const std::string named =
      read_profile_string(kPortNamesSection, "PORT " + std::to_string(port), "", settings_file_);
  return named.empty() ? default_device_name(port) : named;
}

}  // namespace r7
