// The firmware download: identify the controller over Modbus, choose the
// files, check the software number, switch the controller into download mode,
// then the bootloader download; plus the two engineering functions (online
// probe, erase). A controller that answers only its bootloader (a download
// broke off) is downloaded again with the selection the user names.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "app/program_dir.h"
#include "base/expected.h"
#include "base/outcome.h"
#include "flash/bootloader.h"
#include "modbus/register_client.h"
#include "seams/clock.h"
#include "seams/flash_view.h"
#include "seams/prompts.h"
#include "serial/comms.h"

namespace r7 {

inline constexpr const char* kFirmwareFilter = "S Record (*.S19)|*.S19|All(*.*)|*.*";
inline constexpr int kFirmwareAddress = 1;  // the firmware download talks to address 1

// One row of the selection table (selections 1..4).
struct FirmwareSelection {
  int device_type;
  bool newer_revision;       // revision 2000 or more
  const char* download_app;  // in the program directory
  const char* default_firmware;
  const char* browse_pattern;
  const char* device_code;  // hex text of the model tag in the firmware file
  int download_mode_value;  // written to register 1950
};

// The row for selection 1..4, nullptr otherwise.
const FirmwareSelection* firmware_selection(int model_selection);
// The selection for a device type and revision (0 for an unknown type).
int selection_for(int device_type, int revision);
// What the user is asked when only the bootloader answers: option i is
// selection i + 1, named by model, revision class, download application and
// firmware pattern.
Choice recovery_choice();

// What a download does with a firmware or download-application file whose
// check found errors: ask the user (the windows), refuse it (the command line),
// or take it (the command line's --force).
enum class FileErrors { Ask, Refuse, Accept };

// Saves the controller's setup before it is put into download mode: the file
// written, or why there is none.
using SetupBackup = std::function<Expected<std::string, std::string>()>;

class FirmwareDownload {
 public:
  // What identify() found; device_type 0 when the controller did not answer
  // or is not a known type.
  struct Identity {
    int device_type = 0;
    bool answered = false;
    bool port_unavailable = false;
    std::optional<int> revision;  // nullopt: not read, so no selection either
    std::optional<int> software_number;
    int model_selection = 0;
  };

  FirmwareDownload(Comms& comms, Prompts& prompts, FlashView& view, Clock& clock,
                   const ProgramDir& program_dir);

  // The whole download (the main window's Start).
  Outcome download_firmware();
  // The bootloader half on its own, with the files already chosen.
  Outcome bootloader_download();
  // Sets the file fields from the selection and lets the user confirm the
  // firmware file; false when the dialog was cancelled.
  bool choose_firmware_file();
  // The open-file dialog for the firmware file ("<< Browse").
  void browse_firmware_file();
  // The 12 hex digits of the file's software-number field, "123456789012"
  // when it has none, "" when the file cannot be read.
  std::string read_file_software_number(const std::string& path);
  // Reads device type, revision and software number without touching the
  // window or switching the controller into download mode.
  Identity identify();
  // "Is device online": the probe on the Xon slot, logged in the histories.
  OnlineState probe_online();
  // "Erase Sectors": the whole flash at 38400 baud; `sectors` (the seven check
  // boxes) are only logged, the command carries no sector selection.
  Outcome erase_flash_sectors(const std::array<bool, 7>& sectors);

  void set_file_errors(FileErrors policy) { file_errors_ = policy; }
  // Set: Start saves the setup before download mode (not when recovering a
  // controller that answers only its bootloader: it has no setup to read).
  void set_setup_backup(SetupBackup backup) { backup_ = std::move(backup); }
  int model_selection() const { return model_selection_; }
  const std::string& transfer_record_path() const { return transfer_record_path_; }
  const std::string& firmware_path() const { return firmware_path_; }
  void set_firmware_path(const std::string& path) { firmware_path_ = path; }
  const std::string& browse_dir() const { return browse_dir_; }

 private:
  // Device type at address 1: up to three reads; a reply that is not 6180 or
  // 6170 calls `unrecognised` and counts as a failed try.
  RegisterResult<int> read_device_type(const std::function<void()>& unrecognised);
  // Three tries; nullopt when no usable reply came.
  std::optional<int> read_revision();
  bool software_number_fits(int value);
  enum class ModeWrite { Echoed, Refused, NoReply };
  // Three writes at most, until one is echoed or refused.
  ModeWrite write_download_mode(int value);
  std::optional<Outcome> enter_download_mode_unconfirmed();
  void pause_for_bootloader();

  // Steps of download_firmware(); each returns the ending when it ends the job.
  std::optional<Outcome> identify_for_download();
  std::optional<Outcome> no_modbus_reply(const RegisterError& error);
  std::optional<Outcome> choose_recovery_selection();
  std::optional<Outcome> prepare_controller();
  std::optional<Outcome> confirm_files();
  std::optional<Outcome> check_software_number();
  std::optional<Outcome> back_up_setup();
  std::optional<Outcome> enter_download_mode();
  std::optional<Outcome> preflight(const std::string& path);
  bool erase_with_wait();
  void start_end();
  void add_history(const std::string& command, const std::string& response);

  Comms& comms_;
  RegisterClient registers_;
  Bootloader boot_;
  Prompts& prompts_;
  FlashView& view_;
  Clock& clock_;
  const ProgramDir& program_dir_;
  int device_type_ = 0;
  int model_selection_ = 0;
  bool recovering_ = false;  // the controller answers only its bootloader
  std::string transfer_record_path_;
  std::string firmware_path_;
  std::string device_code_;
  std::string file_pattern_;
  std::string browse_dir_;
  FileErrors file_errors_ = FileErrors::Ask;
  SetupBackup backup_;
};

}  // namespace r7
