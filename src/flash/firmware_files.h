// The files a firmware download sends: the selection table that names them
// for each model and revision, and the choice of the firmware file.
#pragma once

#include <optional>
#include <string>

#include "app/program_dir.h"
#include "seams/flash_view.h"
#include "seams/prompts.h"

namespace r7 {

inline constexpr const char* kFirmwareFilter = "S Record (*.S19)|*.S19|All(*.*)|*.*";

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
// The selection for a device type and revision; nullopt for an unknown type.
std::optional<int> selection_for(int device_type, int revision);
// What the user is asked when only the bootloader answers: option i is
// selection i + 1, named by model, revision class, download application and
// firmware pattern.
Choice recovery_choice();

// The 12 hex digits of a firmware file's software-number field; nullopt when
// the file has none or cannot be read.
std::optional<std::string> file_software_field(const std::string& path);

// The download application and the firmware file of one download.
class FirmwareFiles {
 public:
  FirmwareFiles(Prompts& prompts, FlashView& view, const ProgramDir& program_dir)
      : prompts_(prompts), view_(view), program_dir_(program_dir) {}

  // Names the selection's download application and default firmware, then
  // lets the user confirm the firmware file; false when the dialog was
  // cancelled. Ends the program for a selection outside the table.
  bool choose(int model_selection);
  // The open-file dialog for the firmware file ("<< Browse"); the file chosen,
  // nullopt when cancelled (the file field then shows the selection's pattern).
  std::optional<std::string> browse(int model_selection);

  const std::string& download_app() const { return download_app_; }
  const std::string& firmware() const { return firmware_; }
  void set_firmware(const std::string& path) { firmware_ = path; }
  // Hex text of the model tag the firmware file must carry.
  const std::string& device_code() const { return device_code_; }
  const std::string& browse_dir() const { return browse_dir_; }

 private:
  Prompts& prompts_;
  FlashView& view_;
  const ProgramDir& program_dir_;
  std::string download_app_;
  std::string firmware_;
  std::string device_code_;
  std::string pattern_;
  std::string browse_dir_;
};

}  // namespace r7
