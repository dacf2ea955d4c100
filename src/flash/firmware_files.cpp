#include "flash/firmware_files.h"

#include <array>
#include <filesystem>

#include "base/run_error.h"
#include "flash/srecord.h"
#include "modbus/registers.h"

namespace r7 {

namespace {

constexpr std::array<FirmwareSelection, 4> kSelections{{
    {6180, false, "\\Dnld_R7.s19", "731-0000.S19", "731*.S19", "52374142",
     reg::kDownloadModeLoader},
    {6180, true, "\\Mole_R7.s19", "8831-0000.S19", "8831*.S19", "52374142",
     reg::kDownloadModeNewLoader},
    {6170, false, "\\Dnld_R7.s19", "730-0000.S19", "730*.S19", "52374453",
     reg::kDownloadModeLoader},
    {6170, true, "\\Mole_R7.s19", "8830-0000.S19", "8830*.S19", "52374453",
     reg::kDownloadModeNewLoader},
}};

constexpr int kNewerRevision = 2000;

}  // namespace

const FirmwareSelection* firmware_selection(int model_selection) {
  if (model_selection < 1 || model_selection > 4) return nullptr;
  return &kSelections[static_cast<std::size_t>(model_selection - 1)];
}

std::optional<int> selection_for(int device_type, int revision) {
  const bool newer = revision >= kNewerRevision;
  if (device_type == 6180) return newer ? 2 : 1;
  if (device_type == 6170) return newer ? 4 : 3;
  return std::nullopt;
}

Choice recovery_choice() {
  Choice choice;
  choice.title = "Bootloader Download";
  choice.text =
      "The controller does not answer over Modbus, but its bootloader does:\ran earlier download "
      "did not complete.\rChoose the controller's model and software revision to download its "
      "firmware again.";
  for (const FirmwareSelection& s : kSelections) {
    choice.options.push_back(
        std::to_string(s.device_type) +
        (s.newer_revision ? ", revision 2000 or above: " : ", revision below 2000: ") +
        (s.download_app + 1) + ", " + s.browse_pattern);
  }
  return choice;
}

std::optional<std::string> file_software_field(const std::string& path) {
  try {
    return software_number_field(read_srecords(path));
  } catch (const RunError&) {
    return std::nullopt;  // the file could not be read
  }
}

bool FirmwareFiles::choose(int model_selection) {
  const FirmwareSelection* selection = firmware_selection(model_selection);
  if (selection == nullptr) {
    prompts_.message("Transfer record filename is unknown !!", "Unknown Controller",
                     Icon::Critical);
    throw ProgramEnd("Transfer record filename is unknown !!");
  }
  download_app_ = program_dir_.join(selection->download_app).string();
  device_code_ = selection->device_code;
  firmware_ = program_dir_.join(selection->default_firmware).string();
  if (!browse(model_selection)) {
    browse_dir_.clear();
    return false;
  }
  return true;
}

std::optional<std::string> FirmwareFiles::browse(int model_selection) {
  if (browse_dir_.empty()) browse_dir_ = program_dir_.path().string();
  if (const FirmwareSelection* selection = firmware_selection(model_selection)) {
    pattern_ = selection->browse_pattern;
  }
  FileDialog dialog;
  dialog.initial_dir = browse_dir_;
  dialog.file_name = pattern_;
  dialog.default_ext = "S19";
  dialog.filter = kFirmwareFilter;
  dialog.must_exist = true;
  dialog.hide_read_only = true;
  std::optional<std::string> chosen = prompts_.open_file(dialog);
  if (chosen) {
    browse_dir_ = std::filesystem::path(*chosen).parent_path().string();
    firmware_ = *chosen;
  } else {
    firmware_ = pattern_;  // what the file field shows
  }
  view_.set_file_text(firmware_);
  return chosen;
}

}  // namespace r7
