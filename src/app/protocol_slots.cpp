#include "app/protocol_slots.h"

#include "app/line_settings.h"
#include "app/settings_file.h"

namespace r7 {

namespace {

constexpr const char* kNoPortData = "NO PORT DATA";

}  // namespace

const char* protocol_name(int slot) {
  switch (slot) {
    case kFullProtocolSlot:
      return "Full Protocol";
    case kModbusSlot:
      return "Modbus Protocol";
    case kXonSlot:
      return "Xon Protocol";
    default:
      return "";
  }
}

ProtocolSlots read_protocol_slots(const std::filesystem::path& settings_file) {
  ProtocolSlots result;
  // Slots 0 to 3 only: a fifth slot has no inter-byte wait, so keys of slot 4
  // and above are never read.
  for (int n = 0; n < kMaxSlots; ++n) {
    const long port = read_profile_int(kCommsSection, comm_port_key(n), 0, settings_file);
    if (port == 0) break;  // the first missing port key ends the list
    if (port < kMinPort || port > kMaxPort) {
      result.problems.push_back(SlotProblem::PortNumber);
      continue;
    }
    std::string settings =
        read_profile_string(kCommsSection, port_setting_key(n), kNoPortData, settings_file);
    // The missing key's default "NO PORT DATA" has 12 characters and always
    // lands here; so does a baud part of 0 or letters, which has no wait.
    if (!settings_string_usable(settings)) {
      result.problems.push_back(SlotProblem::Settings);
      settings = kDefaultSettings;
    }
    result.definitions.resize(static_cast<std::size_t>(n) + 1);
    result.definitions.back() = SlotDefinition{static_cast<int>(port), settings};
  }
  if (result.definitions.empty())
    result.definitions.push_back(SlotDefinition{kDefaultPort, kDefaultSettings});
  return result;
}

}  // namespace r7
