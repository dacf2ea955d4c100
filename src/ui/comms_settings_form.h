// The logic of the port settings dialog (frm_CommsSettings) without Qt: the
// texts of its fields, the change flags, the checks, the saves and the closing
// rules. The dialog binds its line edits to one of these.
//
//   frame 0 "Full Protocol", 1 "Modbus Protocol", 2 "Xon Protocol": port, baud,
//   parity, data bits, stop bits each; field 3 is the common port ("Comm Port:").
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "app/port_names.h"
#include "errors/prompts.h"
#include "serial/comms.h"
#include "serial/line_settings.h"

namespace r7 {

inline constexpr int kProtocolFrames = 3;
inline constexpr int kCommonPortField = 3;

inline constexpr const char* kBadPortMessage =
    " The Comm Port specified is not valid, data will not be saved";
inline constexpr const char* kBadBaudMessage =
    " The Baud Rate specified is not valid, data will not be saved";
inline constexpr const char* kBadParityMessage =
    " The Parity specified is not valid, data will not be saved";
inline constexpr const char* kBadDataBitsMessage =
    " The Data Bits specified is not valid, data will not be saved";
inline constexpr const char* kBadStopBitsMessage =
    " The Stop Bits specified is not valid, data will not be saved";

using CommsField = LineField;

struct ProtocolFrameTexts {
  std::string port;
  std::string baud;
  std::string parity;
  std::string data_bits;
  std::string stop_bits;
};

// The frame captions "Full Protocol", "Modbus Protocol", "Xon Protocol".
const char* protocol_frame_caption(int index);

class CommsSettingsForm {
 public:
  // Writes go to the settings file of `comms`.
  CommsSettingsForm(Comms& comms, Prompts& prompts);

  // Field texts of frame 0..2; the common port field is common_port().
  const std::string& text(int index, CommsField field) const;
  // A change of a field's text (by the user or by the program) marks
  // field_changed of its frame (txt_..._Change).
  void set_text(int index, CommsField field, const std::string& text);
  const std::string& common_port() const { return common_port_; }
  void set_common_port(const std::string& text);

  // Fills the fields from the protocol slots, read afresh (Form_Activate).
  void Form_Activate();
  // Copies the slots' port state into the fields and the Modbus slot's port
  // into the common port field, without rereading the settings file (the setup
  // window does this when it loads). A slot that is not defined leaves its
  // fields as they are.
  void copy_slots_to_fields();

  // Tests the five fields of frame `index`; each refused field shows its message.
  bool settings_valid(int index);
  void cmd_SaveChanges_Click(int index);
  // The closing steps (Form_Unload and cmd_OK_Click). False: the closing is
  // refused (invalid common port) and the focus belongs on the common port field.
  bool Form_Unload();
  bool cmd_OK_Click() { return Form_Unload(); }

  // Dialog state.
  std::array<bool, 4> field_changed{};
  std::array<bool, kProtocolFrames> frame_unfilled{};

 private:
  // Fills frame `index` from slot `index`; false when that failed.
  bool fill_frame(int index);
  // Sets the common port field from the Modbus slot; false when it is not defined.
  bool fill_common_port();
  std::string& field(int index, CommsField f);

  Comms& comms_;
  Prompts& prompts_;
  std::array<ProtocolFrameTexts, kProtocolFrames> frames_;
  std::string common_port_ = "2";
};

// A serial port found on this machine (QSerialPortInfo on Qt).
struct FoundPort {
  std::string name;             // "ttyUSB0", "COM7"
  std::string system_location;  // "/dev/ttyUSB0", or \\.\COM7 on Windows
  std::string description;      // "FT232R USB UART", may be empty
};

// One line naming the device behind each port number 1..4 and the ports found
// on this machine that no number points at, so a USB adapter can be located:
//   "Port 1: /dev/ttyS0 (not found); Port 2: /dev/ttyUSB0 (FT232R USB UART); ...;
//    also found: /dev/ttyACM0 (Modem)"
std::string port_devices_line(const PortNames& names, const std::vector<FoundPort>& found);

}  // namespace r7
