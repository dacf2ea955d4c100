// What the controller at address 1 says it is: device type, software revision,
// software number and serial number, read over Modbus before a download.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "modbus/register_client.h"

namespace r7 {

inline constexpr int kFirmwareAddress = 1;  // the firmware download talks to address 1
inline constexpr int kModbusTries = 3;

// What identify() found.
struct ControllerIdentity {
  std::optional<int> device_type;  // nullopt: no answer, or not a known type
  bool answered = false;           // something answered, known or not
  bool port_unavailable = false;
  std::optional<int> revision;  // nullopt: not read, so no selection either
  std::optional<int> software_number;
  std::optional<int> model_selection;
  // Registers 1 and 2 as a setup file's default name joins them ("2130517").
  std::optional<std::string> serial_number;
};

class IdentityReader {
 public:
  explicit IdentityReader(RegisterClient& registers) : registers_(registers) {}

  // Device type, revision, software number and serial number, without
  // switching the controller into download mode.
  ControllerIdentity identify();
  // Device type at address 1: up to three reads; a reply that is not 6180 or
  // 6170, or an exception, calls `unrecognised` and counts as a failed try.
  RegisterResult<int> device_type(const std::function<void()>& unrecognised);
  // Three tries; nullopt when no usable reply came.
  std::optional<int> revision();
  // Three tries; nullopt when no usable reply came.
  std::optional<std::string> serial_number();

 private:
  RegisterClient& registers_;
};

}  // namespace r7
