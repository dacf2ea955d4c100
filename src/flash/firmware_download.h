// The firmware download of the main window: the Start procedure (identify the
// controller over Modbus, choose the files, check the software number, switch
// it into download mode) and the bootloader download that follows, plus the
// two engineering functions (online probe, erase).
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "app/program_dir.h"
#include "errors/clock.h"
#include "errors/prompts.h"
#include "flash/bootloader.h"
#include "flash/flash_view.h"
#include "modbus/modbus.h"
#include "serial/comms.h"

namespace r7 {

inline constexpr const char* kFirmwareFilter = "S Record (*.S19)|*.S19|All(*.*)|*.*";
inline constexpr float kModbusTimeoutMs = 250.0F;

// One row of the selection table (model_selection 1..4).
struct FirmwareSelection {
  int device_type;
  bool newer_revision;       // revision 2000 or more
  const char* download_app;  // in the program directory
  const char* default_firmware;
  const char* browse_pattern;
  const char* device_code;  // hex text of the model tag in the firmware file
  int download_mode_value;  // written to register 1950
};

// The row for `model_selection` 1..4, nullptr otherwise.
const FirmwareSelection* firmware_selection(int model_selection);

class FirmwareDownload {
 public:
  // How the last Start ended (for the command line's exit status).
  enum class Outcome {
    None,
    Completed,
    NoResponse,        // no reply to the device-type read
    Unrecognised,      // replies, but not a known device type
    Cancelled,         // browse dialog cancelled, or the pre-flight question answered No
    FileMissing,       // download application or firmware file missing
    SoftwareMismatch,  // the software number does not fit, or no usable reply
    ModeFailed,        // the download-mode write was not echoed
    TransferFailed,    // a bootloader step failed
  };

  // What `identify` found; device_type 0 when the controller did not answer
  // or is not a known type.
  struct Identity {
    int device_type = 0;
    bool answered = false;
    int revision = 0;
    int software_number = 0;
    bool software_read = false;
    int model_selection = 0;
  };

  FirmwareDownload(Comms& comms, Modbus& modbus, Bootloader& bootloader, Prompts& prompts,
                   FlashView& view, Clock& clock, const ProgramDir& program_dir);

  void cmd_Start_Click();
  void cmd_TransferFile_Click();
  bool get_file_model_and_software_number();
  std::string read_file_software_number(const std::string& path);
  void cmd_BrowseFile_Click();
  void cmd_IsDeviceOnline_Click();
  // `sectors`: the seven check boxes "Sector 0".."Sector 6".
  void cmd_EraseSectors_Click(const std::array<bool, 7>& sectors);

  // Reads device type, revision and software number without touching the
  // window or switching the controller into download mode.
  Identity identify();

  Outcome outcome() const { return outcome_; }
  int device_type() const { return device_type_; }
  int revision() const { return revision_; }

  // Window fields.
  int model_selection = 0;
  std::string transfer_record_path;
  std::string firmware_name;
  std::string firmware_path;
  std::string device_code;
  std::string file_pattern;
  std::string browse_dir;
  std::vector<float> command_data{1.0F, kEndMarker};

 private:
  enum class Step { Failed, Done };

  // A Modbus exchange on the Modbus slot with its decoded text.
  std::string modbus_exchange(const std::string& request);
  std::string read_request(int register_no);
  bool write_download_mode(int value);
  bool preflight_ok();
  void start_end();
  void add_history(const std::string& command, const std::string& response);

  Comms& comms_;
  Modbus& modbus_;
  Bootloader& boot_;
  Prompts& prompts_;
  FlashView& view_;
  Clock& clock_;
  const ProgramDir& program_dir_;
  Outcome outcome_ = Outcome::None;
  int device_type_ = 0;
  int revision_ = 0;
  int success_ = 0;  // result of the last bootloader step
};

}  // namespace r7
