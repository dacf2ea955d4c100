// The protocol slots as section "COMMS CONTROLS" of the settings file
// defines them:
//
//   slot 0 "Full Protocol"    defined and editable, carries nothing
//   slot 1 "Modbus Protocol"  every Modbus register read and write
//   slot 2 "Xon Protocol"     every bootloader exchange
//
// Each slot n has the keys "DEVICE n COMM PORT " (port number 1 to 4) and
// "DEVICE n PORT SETTING " ("9600,N,8,1").
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace r7 {

inline constexpr int kFullProtocolSlot = 0;
inline constexpr int kModbusSlot = 1;
inline constexpr int kXonSlot = 2;
inline constexpr int kMaxSlots = 4;
inline constexpr const char* kDefaultSettings = "9600,N,8,1";
inline constexpr const char* kBootloaderSettings = "38400,n,8,1";
inline constexpr int kDefaultPort = 2;
inline constexpr int kMinPort = 1;
inline constexpr int kMaxPort = 4;

// "Full Protocol", "Modbus Protocol", "Xon Protocol"; "" for other slots.
const char* protocol_name(int slot);

struct SlotDefinition {
  int port_number = 0;   // 1..4; 0: the slot is not defined
  std::string settings;  // "9600,N,8,1"

  bool defined() const { return port_number != 0; }
};

enum class SlotProblem {
  PortNumber,  // a port number outside 1..4: the slot is left out
  Settings,    // a settings string that cannot be used: 9600,N,8,1 stands in
};

struct ProtocolSlots {
  // Index = slot number, up to the highest defined slot; slots in between
  // that were left out are not defined.
  std::vector<SlotDefinition> definitions;
  // What was wrong, in the order it was met.
  std::vector<SlotProblem> problems;
};

// Slots 0 to 3 are read in turn up to the first missing port key; a slot
// with an invalid port number is left out and reading goes on with the next
// one. A slot's missing or unusable settings string becomes 9600,N,8,1. When
// no slot is defined at all, slot 0 is, on port 2 at 9600,N,8,1.
ProtocolSlots read_protocol_slots(const std::filesystem::path& settings_file);

}  // namespace r7
