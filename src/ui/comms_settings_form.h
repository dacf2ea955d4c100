// The logic of the port settings dialog (frm_CommsSettings) without Qt: the
// texts of its fields, the change flags, the checks, the saves and the closing
// rules. The dialog binds its line edits to one of these.
//
//   frame 0 "Full Protocol", 1 "Modbus Protocol", 2 "Xon Protocol": port, baud,
//   parity, data bits, stop bits each; field 3 is the common port ("Comm Port:").
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/line_settings.h"
#include "app/port_names.h"
#include "seams/prompts.h"
#include "serial/comms.h"

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
  CommsSettingsForm(Comms& comms, Prompts& prompts, std::filesystem::path settings_file);

  // Field texts of frame 0..2; the common port field is common_port().
  const std::string& text(int index, CommsField field) const;
  const std::string& common_port() const { return common_port_; }
  // A user's edit of a field (txt_..._Change): marks its frame, or the common
  // port field, as changed. The program's own filling never marks.
  void set_text(int index, CommsField field, const std::string& text);
  void set_common_port(const std::string& text);

  // Whether the user changed frame 0..2 (or the common port field,
  // kCommonPortField) since it was last filled or saved.
  bool changed(int index) const;
  // Whether slot 0..2 is missing from the settings file (or unusable), so
  // that OK writes it from its frame: a first run creates the file this way.
  bool slot_missing(int index) const;

  // Fills the fields from the protocol slots, read afresh (Form_Activate).
  void Form_Activate();
  // Fills the fields from the slots without rereading the settings file (the
  // setup window does this when it loads).
  void copy_slots_to_fields();

  // Tests the five fields of frame `index`; each refused field shows its
  // message and then gets its saved text back.
  bool settings_valid(int index);
  // Writes frame `index` when it is valid, then rereads the slots.
  void cmd_SaveChanges_Click(int index);
  // OK: a user's edit of the common port goes into all three frames, which are
  // saved; otherwise only the slots missing from the settings file are written.
  // False: the common port was refused (its saved text is back) and the
  // dialog stays open.
  bool cmd_OK_Click();
  // Cancel, Escape and the close box: the unsaved edits are dropped and the
  // fields show the slots again; nothing is written.
  void cmd_Cancel_Click();

 private:
  // The texts that show slot `index` as it is saved; a slot that is not
  // defined shows the initial texts on the common port.
  ProtocolFrameTexts saved_texts(int index) const;
  // The common port as saved: the Modbus slot's port, or frame 1's initial
  // port when that slot is not defined.
  std::string saved_common_port() const;
  // Refills every field from the slots and clears the change marks.
  void fill_fields();
  // Rereads which slots the settings file lacks (after the slots were read).
  void update_missing();
  // Writes frame `index` when valid; false when a field was refused.
  bool save_frame(int index);
  std::string& field(int index, CommsField f);

  Comms& comms_;
  std::filesystem::path settings_file_;
  Prompts& prompts_;
  std::array<ProtocolFrameTexts, kProtocolFrames> frames_;
  std::string common_port_;
  std::array<bool, kProtocolFrames + 1> changed_{};
  std::array<bool, kProtocolFrames> missing_{};
};

// A serial port found on this machine (QSerialPortInfo on Qt).
struct FoundPort {
  std::string name;             // "ttyUSB0", "COM7"
  std::string system_location;  // "/dev/ttyUSB0", or \\.\COM7 on Windows
  std::string description;      // "FT232R USB UART", may be empty
};

// One line naming the device behind each port number 1..4 and the ports found
// on this machine that no number points at, so a USB adapter can be located:
//   "Port 1: /dev/ttyS0; Port 2: /dev/ttyUSB0 (FT232R USB UART); Port 3: /dev/ttyS9
//    (not found); ...; also found: /dev/ttyACM0 (Modem)"
// "(not found)" marks a device name that names no file (links are followed).
std::string port_devices_line(const PortNames& names, const std::vector<FoundPort>& found);

}  // namespace r7
