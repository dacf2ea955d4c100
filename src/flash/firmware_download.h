// The firmware download: identify the controller over Modbus, choose the
// files, check the software number, switch the controller into download mode,
// then the bootloader download. A controller that answers only its bootloader
// (a download broke off) is downloaded again with the selection the user
// names. The engineering functions (online probe, erase) are reached through
// it, on the same bootloader.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "app/program_dir.h"
#include "app/service_log.h"
#include "base/expected.h"
#include "base/outcome.h"
#include "flash/bootloader.h"
#include "flash/controller_identity.h"
#include "flash/download_progress.h"
#include "flash/engineering.h"
#include "flash/firmware_files.h"
#include "modbus/register_client.h"
#include "seams/clock.h"
#include "seams/flash_view.h"
#include "seams/prompts.h"
#include "serial/comms.h"

namespace r7 {

// What a download does with a firmware or download-application file whose
// check found errors: ask the user (the windows), refuse it (the command line),
// or take it (the command line's --force).
enum class FileErrors { Ask, Refuse, Accept };

// Saves the controller's setup before it is put into download mode: the file
// written and the values refused in it, or why there is none.
using SetupBackup = std::function<Expected<WrittenFile, std::string>()>;

// A download that broke off once the controller ran its bootloader: what
// finishing it takes. The revision is unknown when the download was itself a
// recovery (the user named it).
struct BrokenOffDownload {
  int device_type = 0;
  std::optional<int> revision;
  std::string firmware;
};
// What is said of such a download before the advice.
inline constexpr const char* kBrokenOffText =
    "The download broke off: the controller may now answer only in its bootloader. ";
// How to finish such a download, in the words of the front end.
using RecoveryAdvice = std::function<std::string(const BrokenOffDownload&)>;

class FirmwareDownload {
 public:
  using Identity = ControllerIdentity;

  FirmwareDownload(Comms& comms, Prompts& prompts, FlashView& view, Clock& clock,
                   const ProgramDir& program_dir);

  // The whole download (the main window's Start).
  Outcome download_firmware();
  // The bootloader half on its own, with the files already chosen.
  Outcome bootloader_download();
  // The open-file dialog for the firmware file ("<< Browse").
  void browse_firmware_file() { files_.browse(model_selection_); }
  // Reads device type, revision and software number without touching the
  // window or switching the controller into download mode.
  Identity identify() { return identity_.identify(); }
  OnlineState probe_online() { return engineering_.probe_online(); }
  Outcome erase_flash_sectors(const std::array<bool, 7>& sectors) {
    return engineering_.erase_flash_sectors(sectors);
  }

  void set_file_errors(FileErrors policy) { file_errors_ = policy; }
  // Set: Start saves the setup before download mode (not when recovering a
  // controller that answers only its bootloader: it has no setup to read).
  void set_setup_backup(SetupBackup backup) { backup_ = std::move(backup); }
  // Said once when a download breaks off in the bootloader.
  void set_recovery_advice(RecoveryAdvice advice) { advice_ = std::move(advice); }
  int model_selection() const { return model_selection_; }
  // Whether the controller may have left its application in this download:
  // from the write that sends it into its bootloader on (or when only its
  // bootloader answered).
  bool bootloader_may_run() const { return bootloader_may_run_; }
  // The controller as this download identified it ("model 6180, serial number
  // 2130517, software number 2, software revision 1850"); "not identified" before.
  std::string identity_text() const;
  // What the last download found and did (also shown through the view).
  const DownloadSummary& summary() const { return summary_; }
  // What the service log keeps of this download: the controller as it was
  // read, the firmware file and the backup.
  void note_in(ServiceRecord& record) const;
  // What finishing the download needs, once the controller may run only its
  // bootloader and the selection is known; nullopt otherwise.
  std::optional<BrokenOffDownload> broken_off() const;
  const std::string& transfer_record_path() const { return files_.download_app(); }
  const std::string& firmware_path() const { return files_.firmware(); }
  void set_firmware_path(const std::string& path) { files_.set_firmware(path); }
  const std::string& browse_dir() const { return files_.browse_dir(); }

 private:
  void advise_recovery();
  // Ends a download before anything is sent when a line it uses cannot change
  // its baud rate.
  std::optional<Outcome> refuse_fixed_line();
  // Starts the download application; `erased` when the check that it runs erased the flash.
  bool start_download_app(bool& erased);
  bool software_number_fits(int value);
  enum class ModeWrite { Echoed, Refused, NoReply };
  // Three writes at most, until one is echoed or refused.
  ModeWrite write_download_mode(int value);
  std::optional<Outcome> enter_download_mode_unconfirmed();
  void pause_for_bootloader();
  // The controller in the summary, once it is known.
  void show_identity();
  // The whole download's bar starts, weighed by the two files.
  void begin_whole_download(bool backup, bool download_mode);

  // Steps of download_firmware(); each returns the ending when it ends the job.
  std::optional<Outcome> identify_for_download();
  std::optional<Outcome> no_modbus_reply(const RegisterError& error);
  std::optional<Outcome> choose_recovery_selection();
  std::optional<Outcome> prepare_controller();
  std::optional<Outcome> confirm_files();
  std::optional<Outcome> check_software_number();
  std::optional<Outcome> back_up_setup();
  std::optional<Outcome> enter_download_mode();
  void show_bootloader_running();
  std::optional<Outcome> preflight(const std::string& path);
  void start_end();

  Comms& comms_;
  WholeDownloadView whole_;  // the view every part of the download shows through
  RegisterClient registers_;
  Bootloader boot_;
  IdentityReader identity_;
  FirmwareFiles files_;
  EngineeringFunctions engineering_;
  Prompts& prompts_;
  FlashView& view_;
  Clock& clock_;
  int model_selection_ = 0;  // 1..4 once known
  bool recovering_ = false;  // the controller answers only its bootloader
  bool bootloader_may_run_ = false;
  FileErrors file_errors_ = FileErrors::Ask;
  SetupBackup backup_;
  RecoveryAdvice advice_;
  std::optional<int> revision_;  // as read for this download
  std::optional<int> software_;  // register 3, as read for this download
  std::optional<std::string> serial_;
  DownloadSummary summary_;
  std::uint32_t started_ms_ = 0;
};

}  // namespace r7
