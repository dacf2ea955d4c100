#include "flash/firmware_download.h"

#include <cstdint>
#include <cstdio>

#include "errors/run_error.h"
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

constexpr int kModbusTries = 3;
constexpr int kPauseSlices = 10;
constexpr std::uint32_t kPauseSliceMs = 500;  // 10 x 500 ms: about 5 s for the bootloader to start
constexpr std::size_t kPreflightErrorsShown = 5;

// Characters `first`..`first + count - 1` (1-based) of `text`, shorter near its end.
std::string mid(const std::string& text, std::size_t first, std::size_t count) {
  return first - 1 < text.size() ? text.substr(first - 1, count) : std::string();
}

std::string hex_upper(int value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(value) & 0xFFFFU);
  return buf;
}

}  // namespace

const FirmwareSelection* firmware_selection(int model_selection) {
  if (model_selection < 1 || model_selection > 4) return nullptr;
  return &kSelections[static_cast<std::size_t>(model_selection - 1)];
}

FirmwareDownload::FirmwareDownload(Comms& comms, Modbus& modbus, Bootloader& bootloader,
                                   Prompts& prompts, FlashView& view, Clock& clock,
                                   const ProgramDir& program_dir)
    : comms_(comms),
      modbus_(modbus),
      boot_(bootloader),
      prompts_(prompts),
      view_(view),
      clock_(clock),
      program_dir_(program_dir) {}

std::string FirmwareDownload::modbus_exchange(const std::string& request) {
  const std::string reply =
      comms_.transmit(kModbusSlot, request, kModbusTimeoutMs, modbus_reply_length);
  return modbus_.decode_modbus_reply(0, reply);
}

std::string FirmwareDownload::read_request(int register_no) {
  command_data = {1.0F, kEndMarker};
  return modbus_.build_modbus_request(3, 1, register_no, command_data);
}

bool FirmwareDownload::write_download_mode(int value) {
  command_data = {static_cast<float>(value), kEndMarker};
  const std::string request = modbus_.build_modbus_request(6, 1, reg::kDownloadMode, command_data);
  for (int tries = 0; tries < kModbusTries; ++tries) {
    if (mid(modbus_exchange(request), 5, 4) == std::to_string(reg::kDownloadMode)) return true;
  }
  return false;
}

FirmwareDownload::Identity FirmwareDownload::identify() {
  Identity id;
  auto read = [this](int register_no) {
    const std::string request = read_request(register_no);
    for (int tries = 0; tries < kModbusTries; ++tries) {
      const std::string text = modbus_exchange(request);
      if (!text.empty() && modbus_.reply_values[1] > kWrongLength) return text;
    }
    return std::string();
  };
  const std::string type_text = read(reg::kDeviceType);
  id.answered = !type_text.empty();
  const std::string type = mid(type_text, 7, 4);
  if (type != "6180" && type != "6170") return id;
  id.device_type = std::stoi(type);
  if (!read(reg::kRevision).empty() && modbus_.reply_values[1] > kExceptionBase) {
    id.revision = static_cast<std::int16_t>(modbus_.reply_values[1]);
  }
  const bool newer = id.revision >= 2000;
  id.model_selection = id.device_type == 6180 ? (newer ? 2 : 1) : (newer ? 4 : 3);
  if (!read(reg::kSoftwareNumber).empty() && modbus_.reply_values[1] > kExceptionBase) {
    id.software_number = static_cast<std::int16_t>(modbus_.reply_values[1]);
    id.software_read = true;
  }
  return id;
}

void FirmwareDownload::cmd_Start_Click() {
  outcome_ = Outcome::None;
  prompts_.set_busy(true);
  view_.set_start_enabled(false);

  // Device type.
  view_.add_command("Check of device type");
  prompts_.process_events();
  model_selection = 0;
  device_type_ = 0;
  bool unrecognised_shown = false;
  {
    const std::string request = read_request(reg::kDeviceType);
    for (int tries = 0; tries < kModbusTries && device_type_ == 0; ++tries) {
      const std::string text = modbus_exchange(request);
      if (text.empty()) continue;
      const std::string type = mid(text, 7, 4);
      if (type == "6180" || type == "6170") {
        device_type_ = std::stoi(type);
      } else {
        prompts_.message("Controller is unrecognized !!");
        unrecognised_shown = true;
      }
    }
  }
  if (device_type_ == 0) {
    view_.add_response("Failed");
    if (!unrecognised_shown) {
      prompts_.message("No response from controller received.", "Communication Error",
                       Icon::Critical);
    }
    outcome_ = unrecognised_shown ? Outcome::Unrecognised : Outcome::NoResponse;
    return start_end();
  }

  // Revision: a read without a usable reply leaves a negative marker, which
  // counts as a revision below 2000.
  view_.add_response("Successful");
  view_.add_command("Get software revision");
  prompts_.process_events();
  modbus_exchange(read_request(reg::kRevision));
  revision_ = static_cast<std::int16_t>(modbus_.reply_values[1]);
  const bool newer = revision_ >= 2000;
  model_selection = device_type_ == 6180 ? (newer ? 2 : 1) : (newer ? 4 : 3);

  // Files.
  view_.add_response("Successful");
  if (!get_file_model_and_software_number()) {
    outcome_ = Outcome::Cancelled;
    return start_end();
  }
  if (!std::filesystem::exists(transfer_record_path)) {
    prompts_.message("The file " + transfer_record_path +
                         " needs to be located in the same directory as this application. It "
                         "currently is not.",
                     "Error", Icon::Critical);
    outcome_ = Outcome::FileMissing;
    return start_end();
  }
  if (!std::filesystem::exists(firmware_path)) {
    prompts_.message("The file " + firmware_path +
                         " needs to be in the same directory as this application. It currently "
                         "is not.",
                     "Error", Icon::Critical);
    outcome_ = Outcome::FileMissing;
    return start_end();
  }
  view_.set_file_text(firmware_path);
  if (!preflight_ok()) {
    outcome_ = Outcome::Cancelled;
    return start_end();
  }

  // Software number.
  view_.add_command("Get software number");
  prompts_.process_events();
  bool software_ok = false;
  {
    const std::string request = read_request(reg::kSoftwareNumber);
    for (int tries = 0; tries < kModbusTries && !software_ok; ++tries) {
      const std::string text = modbus_exchange(request);
      if (text.empty() || modbus_.reply_values[1] < 0) continue;
      const int v = static_cast<std::int16_t>(modbus_.reply_values[1]);
      const std::string h = pad_string(hex_upper(v), "0", 4, 0);
      const std::string field = read_file_software_number(firmware_path);
      if (mid(field, 1, 8) != device_code) continue;
      const std::string number = mid(field, 9, 4);
      software_ok = v < 10 ? number < "000A" : number == h;
    }
  }
  if (!software_ok) {
    view_.add_response("Failed");
    outcome_ = Outcome::SoftwareMismatch;
    return start_end();
  }

  // Download mode.
  view_.add_response("Successful");
  view_.add_command("Goto Download Mode");
  prompts_.process_events();
  if (!write_download_mode(reg::kDownloadModeArm)) {
    view_.add_response("Failed");
    outcome_ = Outcome::ModeFailed;
    return start_end();
  }
  if (boot_.download_completed() == 1) {
    // A bootloader answers already.
    view_.add_response("Successful");
    view_.scroll_histories_to_end();
    prompts_.process_events();
    view_.set_warning_visible(true);
    view_.set_quit_enabled(false);
  } else {
    if (!write_download_mode(firmware_selection(model_selection)->download_mode_value)) {
      view_.add_response("Failed");
      outcome_ = Outcome::ModeFailed;
      return start_end();
    }
    view_.add_response("Successful");
    view_.set_warning_visible(true);
    view_.set_quit_enabled(false);
    view_.add_command("Pausing");
    for (int i = 0; i < kPauseSlices; ++i) {
      prompts_.process_events();
      clock_.sleep_ms(kPauseSliceMs);
    }
    view_.add_response("Successful");
  }
  cmd_TransferFile_Click();
  start_end();
}

void FirmwareDownload::start_end() {
  prompts_.set_busy(false);
  view_.set_warning_visible(false);
  view_.set_quit_enabled(true);
  view_.set_start_enabled(true);
}

bool FirmwareDownload::preflight_ok() {
  SRecordReport report;
  try {
    report = check_srecord_lines(read_srecord_lines(firmware_path));
  } catch (const RunError&) {
    report.errors.push_back({0, "the file cannot be read"});
  }
  if (report.ok()) return true;
  std::string text = "The firmware file " + firmware_path + " has errors:";
  for (std::size_t i = 0; i < report.errors.size() && i < kPreflightErrorsShown; ++i) {
    const SRecordError& e = report.errors[i];
    text +=
        "\r" + (e.line > 0 ? "Line " + std::to_string(e.line) + ": " : std::string()) + e.message;
  }
  if (report.errors.size() > kPreflightErrorsShown) {
    text += "\r... and " + std::to_string(report.errors.size() - kPreflightErrorsShown) + " more.";
  }
  text += "\rDo you want to go on with the download?";
  return prompts_.message_box({text, "Firmware File Check", Icon::Exclamation, Buttons::YesNo,
                               Answer::No}) == Answer::Yes;
}

bool FirmwareDownload::get_file_model_and_software_number() {
  const FirmwareSelection* selection = firmware_selection(model_selection);
  if (selection == nullptr) {
    prompts_.message("Transfer record filename is unknown !!");
    prompts_.end_program(1);
    return false;
  }
  transfer_record_path = program_dir_.join(selection->download_app).string();
  firmware_name = selection->default_firmware;
  device_code = selection->device_code;
  firmware_path = program_dir_.join(firmware_name).string();
  cmd_BrowseFile_Click();
  if (firmware_path == file_pattern) {
    browse_dir.clear();
    return false;
  }
  return true;
}

void FirmwareDownload::cmd_BrowseFile_Click() {
  if (browse_dir.empty()) browse_dir = program_dir_.path().string();
  if (const FirmwareSelection* selection = firmware_selection(model_selection)) {
    file_pattern = selection->browse_pattern;
  }
  FileDialog dialog;
  dialog.initial_dir = browse_dir;
  dialog.file_name = file_pattern;
  dialog.default_ext = "S19";
  dialog.filter = kFirmwareFilter;
  dialog.must_exist = true;
  dialog.hide_read_only = true;
  if (auto chosen = prompts_.open_file(dialog)) {
    browse_dir = std::filesystem::path(*chosen).parent_path().string();
    firmware_path = *chosen;
  } else {
    firmware_path = file_pattern;
  }
  view_.set_file_text(firmware_path);
}

std::string FirmwareDownload::read_file_software_number(const std::string& path) {
  try {
    return software_number_field(read_srecord_lines(path));
  } catch (const RunError&) {
    return {};  // the file could not be read
  }
}

void FirmwareDownload::add_history(const std::string& command, const std::string& response) {
  view_.add_command(command);
  view_.add_response(response);
  view_.scroll_histories_to_end();
}

void FirmwareDownload::cmd_TransferFile_Click() {
  prompts_.set_busy(true);
  std::string saved_settings;
  bool switched = false;

  auto run_step = [this](const std::string& text, auto&& operation) {
    view_.add_command(text);
    prompts_.process_events();
    success_ = operation();
    if (success_ != 1) {
      view_.add_response("Failed");
      return false;
    }
    view_.add_response("Successful");
    view_.scroll_histories_to_end();
    return true;
  };

  bool ok = run_step("File Transfer of " + transfer_record_path,
                     [this] { return boot_.transfer_srecord_file(transfer_record_path); }) &&
            run_step("Download completed", [this] { return boot_.download_completed(); }) &&
            run_step("Execute download app",
                     [this] { return boot_.execute_download_app(kDownloadAppAddress); });
  if (ok) {
    // From here on the download application is addressed at 38400 baud.
    saved_settings = comms_.port_settings(kXonSlot);
    comms_.set_port_settings(kXonSlot, kBootloaderSettings);
    switched = true;
    ok = run_step("Erase Sectors (chip)", [this] { return boot_.erase_flash(); }) &&
         run_step("File Transferred " + firmware_path,
                  [this] { return boot_.transfer_srecord_file(firmware_path); }) &&
         run_step("Download completed ", [this] { return boot_.download_completed(); });
  }
  if (ok) {
    view_.set_warning_visible(false);
    prompts_.message("Please cycle Device Power.", "Download Completed");
    outcome_ = Outcome::Completed;
  } else {
    outcome_ = Outcome::TransferFailed;
  }
  view_.scroll_histories_to_end();
  if (switched) comms_.set_port_settings(kXonSlot, saved_settings);
  prompts_.set_busy(false);
}

void FirmwareDownload::cmd_IsDeviceOnline_Click() {
  const std::string reply = boot_.online_probe();
  std::string outcome;
  if (reply.empty()) {
    outcome = "No response from device";
    prompts_.message("No response from device.", "Is Device Online");
  } else if (reply[0] == '\x01') {
    outcome = "Device is online";
    view_.set_erase_enabled(true);
  } else {
    outcome = "Unknown error";
    prompts_.message("Unknown command error.", "Is Device Online");
  }
  add_history("Is Device Online", outcome);
}

void FirmwareDownload::cmd_EraseSectors_Click(const std::array<bool, 7>& sectors) {
  prompts_.set_busy(true);
  int mask = 0;
  for (std::size_t i = 0; i < sectors.size(); ++i) {
    if (sectors[i]) mask += 1 << i;
  }
  const std::string saved = comms_.port_settings(kXonSlot);
  comms_.set_port_settings(kXonSlot, kBootloaderSettings);
  std::string outcome;
  if (boot_.erase_flash() != 1) {
    outcome = "Erase Failed";
    prompts_.message("Sector Erase failed.", "Erase Sectors");
  } else {
    outcome = "Erase Successful";
  }
  prompts_.set_busy(false);
  comms_.set_port_settings(kXonSlot, saved);
  add_history("Erase Sectors  " + std::to_string(mask), outcome);
}

}  // namespace r7
