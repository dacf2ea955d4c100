#include "flash/firmware_download.h"

#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

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

constexpr int kModbusTries = 3;
constexpr int kNewerRevision = 2000;
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

bool known_device_type(int value) {
  return value == 6180 || value == 6170;
}

// No usable reply: nothing came back, or what came back was damaged or did
// not answer the request.
bool silent(const RegisterError& e) {
  return e.failure != RegisterFailure::Refused;
}

}  // namespace

const FirmwareSelection* firmware_selection(int model_selection) {
  if (model_selection < 1 || model_selection > 4) return nullptr;
  return &kSelections[static_cast<std::size_t>(model_selection - 1)];
}

int selection_for(int device_type, int revision) {
  const bool newer = revision >= kNewerRevision;
  if (device_type == 6180) return newer ? 2 : 1;
  if (device_type == 6170) return newer ? 4 : 3;
  return 0;
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

FirmwareDownload::FirmwareDownload(Comms& comms, Prompts& prompts, FlashView& view, Clock& clock,
                                   const ProgramDir& program_dir)
    : comms_(comms),
      registers_(comms),
      boot_(comms, prompts, view),
      prompts_(prompts),
      view_(view),
      clock_(clock),
      program_dir_(program_dir) {}

// A reply with another device type or an exception is an answer from a device
// this tool does not know; no usable reply is a silent try.
RegisterResult<int> FirmwareDownload::read_device_type(const std::function<void()>& unrecognised) {
  RegisterError last;
  for (int tries = 0; tries < kModbusTries; ++tries) {
    const auto r = registers_.read_registers(kFirmwareAddress, reg::kDeviceType, 1);
    if (r && known_device_type(r->front())) return r->front();
    if (r) {
      last = RegisterError{RegisterFailure::Refused, 0, registers_.last_reply()};
    } else {
      last = r.error();
    }
    if (!silent(last)) unrecognised();
  }
  return unexpected(last);
}

std::optional<int> FirmwareDownload::read_revision() {
  // A revision that cannot be read must not be taken for one below 2000: the
  // selection would name the older loader and firmware for a newer controller.
  const auto r = registers_.read_registers(kFirmwareAddress, reg::kRevision, 1, kModbusTries,
                                           Repeat::WhenSilentOrDamaged);
  if (r) return r->front();
  return std::nullopt;
}

bool FirmwareDownload::software_number_fits(int value) {
  const std::string field = read_file_software_number(firmware_path_);
  if (mid(field, 1, 8) != device_code_) return false;
  const std::string number = mid(field, 9, 4);
  // Software numbers below 10 accept any field from 0000 to 0009.
  if (value < 10) return number < "000A";
  return number == pad_string(hex_upper(value), "0", 4, 0);
}

FirmwareDownload::ModeWrite FirmwareDownload::write_download_mode(int value) {
  for (int tries = 0; tries < kModbusTries; ++tries) {
    const auto r = registers_.write_register(kFirmwareAddress, reg::kDownloadMode,
                                             static_cast<std::int16_t>(value));
    if (r) return ModeWrite::Echoed;
    if (r.error().failure == RegisterFailure::Refused) return ModeWrite::Refused;
  }
  return ModeWrite::NoReply;
}

FirmwareDownload::Identity FirmwareDownload::identify() {
  Identity id;
  bool unrecognised = false;
  const auto type = read_device_type([&unrecognised] { unrecognised = true; });
  id.answered = type.has_value() || unrecognised;
  id.port_unavailable = !type && type.error().failure == RegisterFailure::PortFailure;
  if (!type) return id;
  id.device_type = *type;
  id.revision = read_revision();
  if (id.revision) id.model_selection = selection_for(id.device_type, *id.revision);
  const auto software = registers_.read_registers(kFirmwareAddress, reg::kSoftwareNumber, 1,
                                                  kModbusTries, Repeat::WhenSilentOrDamaged);
  if (software) id.software_number = software->front();
  return id;
}

Outcome FirmwareDownload::download_firmware() {
  prompts_.set_busy(true);
  view_.set_start_enabled(false);
  std::optional<Outcome> end = identify_for_download();
  if (!end) end = confirm_files();
  if (!end) end = prepare_controller();
  const Outcome outcome = end ? *end : bootloader_download();
  start_end();
  return outcome;
}

std::optional<Outcome> FirmwareDownload::identify_for_download() {
  view_.add_command("Check of device type");
  model_selection_ = 0;
  device_type_ = 0;
  recovering_ = false;
  bool unrecognised_shown = false;
  const auto type = read_device_type([this, &unrecognised_shown] {
    prompts_.message("Controller is unrecognized !!");
    unrecognised_shown = true;
  });
  if (!type) {
    view_.add_response("Failed");
    if (unrecognised_shown) return Outcome(Ending::Unrecognised, "Check of device type");
    return no_modbus_reply(type.error());
  }
  device_type_ = *type;
  view_.add_response("Successful");
  view_.add_command("Get software revision");
  const std::optional<int> revision = read_revision();
  if (!revision) {
    view_.add_response("Failed");
    prompts_.message("No response from controller received.", "Communication Error",
                     Icon::Critical);
    return Outcome(Ending::NoController, "Get software revision");
  }
  model_selection_ = selection_for(device_type_, *revision);
  view_.add_response("Successful");
  return std::nullopt;
}

// Nothing answered over Modbus. A controller whose download broke off still
// has its bootloader, which acknowledges a download-completed command; a
// port that cannot be opened is not asked.
std::optional<Outcome> FirmwareDownload::no_modbus_reply(const RegisterError& error) {
  if (error.failure != RegisterFailure::PortFailure && boot_.resident()) {
    add_history("Bootloader answers", "Successful");
    return choose_recovery_selection();
  }
  prompts_.message("No response from controller received.", "Communication Error", Icon::Critical);
  return Outcome(Ending::NoController, "Check of device type");
}

// Neither device type nor revision can be read from a bootloader: the user
// names the selection, or cancels before anything is written.
std::optional<Outcome> FirmwareDownload::choose_recovery_selection() {
  const std::optional<int> chosen = prompts_.choose(recovery_choice());
  const FirmwareSelection* selection = chosen ? firmware_selection(*chosen + 1) : nullptr;
  if (selection == nullptr) return Outcome(Ending::Cancelled, "Bootloader answers");
  model_selection_ = *chosen + 1;
  device_type_ = selection->device_type;
  recovering_ = true;
  return std::nullopt;
}

// A running controller is checked and switched into its bootloader; one that
// runs only its bootloader is there already and has no software number to read.
std::optional<Outcome> FirmwareDownload::prepare_controller() {
  if (!recovering_) {
    if (auto end = check_software_number()) return end;
    if (auto end = back_up_setup()) return end;
    return enter_download_mode();
  }
  // No software number to compare; the file must at least be for the model chosen.
  if (mid(read_file_software_number(firmware_path_), 1, 8) != device_code_) {
    add_history("Check of firmware model", "Failed");
    prompts_.message("The file " + firmware_path_ + " is not firmware for the model chosen.",
                     "Error", Icon::Critical);
    return Outcome(Ending::SoftwareMismatch, "Check of firmware model");
  }
  view_.set_warning_visible(true);
  view_.set_quit_enabled(false);
  return std::nullopt;
}

std::optional<Outcome> FirmwareDownload::confirm_files() {
  if (!choose_firmware_file()) return Outcome(Ending::Cancelled);
  if (!std::filesystem::exists(transfer_record_path_)) {
    prompts_.message("The file " + transfer_record_path_ +
                         " needs to be located in the same directory as this application. It "
                         "currently is not.",
                     "Error", Icon::Critical);
    return Outcome(Ending::FileProblem);
  }
  if (!std::filesystem::exists(firmware_path_)) {
    prompts_.message("The file " + firmware_path_ +
                         " needs to be in the same directory as this application. It currently "
                         "is not.",
                     "Error", Icon::Critical);
    return Outcome(Ending::FileProblem);
  }
  view_.set_file_text(firmware_path_);
  // The download application first: it is sent first, and a broken one leaves
  // a controller that only its bootloader answers.
  if (auto e = preflight(transfer_record_path_)) return e;
  return preflight(firmware_path_);
}

std::optional<Outcome> FirmwareDownload::check_software_number() {
  view_.add_command("Get software number");
  bool fits = false;
  for (int tries = 0; tries < kModbusTries && !fits; ++tries) {
    const auto r = registers_.read_registers(kFirmwareAddress, reg::kSoftwareNumber, 1);
    // A negative value fails the try like no value at all.
    fits = r && r->front() >= 0 && software_number_fits(r->front());
  }
  if (!fits) {
    view_.add_response("Failed");
    return Outcome(Ending::SoftwareMismatch, "Get software number");
  }
  view_.add_response("Successful");
  return std::nullopt;
}

// The setup is saved while the controller still runs its firmware. Without
// the backup the download goes on only when the user says so.
std::optional<Outcome> FirmwareDownload::back_up_setup() {
  if (!backup_) return std::nullopt;
  view_.begin_wait("Saving the controller's setup", 0);
  const Expected<std::string, std::string> saved = backup_();
  view_.end_wait();
  if (saved) {
    add_history("Save setup to " + std::filesystem::path(*saved).filename().string(), "Successful");
    return std::nullopt;
  }
  add_history("Save setup", "Failed");
  const bool go_on = prompts_.ask_yes(
      "The controller's setup could not be saved before the "
      "download:\r" +
          saved.error() + "\rDo you want to go on with the download without it?",
      Answer::No);
  if (!go_on) return Outcome(Ending::Failed, "Save setup");
  return std::nullopt;
}

std::optional<Outcome> FirmwareDownload::enter_download_mode() {
  view_.add_command("Goto Download Mode");
  if (write_download_mode(reg::kDownloadModeArm) != ModeWrite::Echoed) {
    view_.add_response("Failed");
    return Outcome(Ending::Failed, "Goto Download Mode");
  }
  if (boot_.download_completed()) {  // a bootloader answers already
    view_.add_response("Successful");
    view_.scroll_histories_to_end();
    view_.set_warning_visible(true);
    view_.set_quit_enabled(false);
    return std::nullopt;
  }
  const ModeWrite mode =
      write_download_mode(firmware_selection(model_selection_)->download_mode_value);
  if (mode == ModeWrite::Refused) {
    view_.add_response("Failed");
    return Outcome(Ending::Failed, "Goto Download Mode");
  }
  if (mode == ModeWrite::NoReply) return enter_download_mode_unconfirmed();
  view_.add_response("Successful");
  view_.set_warning_visible(true);
  view_.set_quit_enabled(false);
  view_.add_command("Pausing");
  pause_for_bootloader();
  view_.add_response("Successful");
  return std::nullopt;
}

// The write that restarts the controller into its bootloader got no reply:
// the controller may well have taken it and gone (writing it again would not
// be answered either). Give the bootloader its time, then ask it.
std::optional<Outcome> FirmwareDownload::enter_download_mode_unconfirmed() {
  view_.set_warning_visible(true);
  view_.set_quit_enabled(false);
  pause_for_bootloader();
  if (!boot_.download_completed()) {
    view_.add_response("Failed");
    return Outcome(Ending::Failed, "Goto Download Mode");
  }
  view_.add_response("Successful");
  view_.scroll_histories_to_end();
  return std::nullopt;
}

void FirmwareDownload::pause_for_bootloader() {
  view_.begin_wait("Waiting for the bootloader to start", kPauseSlices * kPauseSliceMs);
  for (int i = 0; i < kPauseSlices; ++i)
    clock_.sleep_ms(kPauseSliceMs);
  view_.end_wait();
}

void FirmwareDownload::start_end() {
  prompts_.set_busy(false);
  view_.set_warning_visible(false);
  view_.set_quit_enabled(true);
  view_.set_start_enabled(true);
}

// The whole-file check before anything is written to the controller. A file
// with errors is refused, offered to the user, or taken, as the caller chose;
// notes alone (header, count and start records) never stop it.
std::optional<Outcome> FirmwareDownload::preflight(const std::string& path) {
  SRecordReport report;
  try {
    report = check_srecord_file(path);
  } catch (const RunError& e) {
    report.errors.push_back({0, e.what()});
  }
  if (report.ok() || file_errors_ == FileErrors::Accept) return std::nullopt;
  std::string text = "The firmware file " + path + " has errors:";
  for (std::size_t i = 0; i < report.errors.size() && i < kPreflightErrorsShown; ++i) {
    const SRecordError& e = report.errors[i];
    text +=
        "\r" + (e.line > 0 ? "Line " + std::to_string(e.line) + ": " : std::string()) + e.message;
  }
  if (report.error_count() > kPreflightErrorsShown) {
    text += "\r... and " + std::to_string(report.error_count() - kPreflightErrorsShown) + " more.";
  }
  if (file_errors_ == FileErrors::Refuse) {
    prompts_.message(text + "\rThe download is not started.", "Firmware File Check",
                     Icon::Exclamation);
    return Outcome(Ending::FileProblem, "Firmware File Check");
  }
  text += "\rDo you want to go on with the download?";
  if (prompts_.message_box({text, "Firmware File Check", Icon::Exclamation, Buttons::YesNo,
                            Answer::No}) == Answer::Yes) {
    return std::nullopt;
  }
  return Outcome(Ending::Cancelled, "Firmware File Check");
}

bool FirmwareDownload::choose_firmware_file() {
  const FirmwareSelection* selection = firmware_selection(model_selection_);
  if (selection == nullptr) {
    prompts_.message("Transfer record filename is unknown !!");
    throw ProgramEnd("Transfer record filename is unknown !!");
  }
  transfer_record_path_ = program_dir_.join(selection->download_app).string();
  device_code_ = selection->device_code;
  firmware_path_ = program_dir_.join(selection->default_firmware).string();
  browse_firmware_file();
  if (firmware_path_ == file_pattern_) {  // the dialog was cancelled
    browse_dir_.clear();
    return false;
  }
  return true;
}

void FirmwareDownload::browse_firmware_file() {
  if (browse_dir_.empty()) browse_dir_ = program_dir_.path().string();
  if (const FirmwareSelection* selection = firmware_selection(model_selection_)) {
    file_pattern_ = selection->browse_pattern;
  }
  FileDialog dialog;
  dialog.initial_dir = browse_dir_;
  dialog.file_name = file_pattern_;
  dialog.default_ext = "S19";
  dialog.filter = kFirmwareFilter;
  dialog.must_exist = true;
  dialog.hide_read_only = true;
  if (auto chosen = prompts_.open_file(dialog)) {
    browse_dir_ = std::filesystem::path(*chosen).parent_path().string();
    firmware_path_ = *chosen;
  } else {
    firmware_path_ = file_pattern_;
  }
  view_.set_file_text(firmware_path_);
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

Outcome FirmwareDownload::bootloader_download() {
  prompts_.set_busy(true);
  std::optional<Outcome> failed;
  const auto step = [this, &failed](const std::string& text, auto&& operation) {
    if (failed) return;
    view_.add_command(text);
    if (!operation()) {
      view_.add_response("Failed");
      failed = Outcome(Ending::Failed, text);
      return;
    }
    view_.add_response("Successful");
    view_.scroll_histories_to_end();
  };
  step("File Transfer of " + transfer_record_path_,
       [this] { return boot_.transfer_srecord_file(transfer_record_path_); });
  step("Download completed", [this] { return boot_.download_completed(); });
  step("Execute download app", [this] { return boot_.execute_download_app(kDownloadAppAddress); });
  if (!failed) {
    // From here on the download application is addressed at 38400 baud.
    const SlotSettingsOverride download_app_rate(comms_, kXonSlot, kBootloaderSettings);
    step("Erase Sectors (chip)", [this] { return erase_with_wait(); });
    step("File Transferred " + firmware_path_,
         [this] { return boot_.transfer_srecord_file(firmware_path_); });
    step("Download completed ", [this] { return boot_.download_completed(); });
    if (!failed) {
      view_.set_warning_visible(false);
      view_.set_progress_max(1);  // the whole download is done
      view_.set_progress_value(1);
      prompts_.message("Please cycle Device Power.", "Download Completed");
    }
    view_.scroll_histories_to_end();
  } else {
    view_.scroll_histories_to_end();
  }
  prompts_.set_busy(false);
  return failed ? *failed : Outcome{};
}

bool FirmwareDownload::erase_with_wait() {
  view_.begin_wait("Erasing the flash",
                   kCommandTries * static_cast<std::uint32_t>(kEraseTimeoutMs));
  const bool erased = boot_.erase_flash();
  view_.end_wait();
  return erased;
}

OnlineState FirmwareDownload::probe_online() {
  const OnlineState state = online_state(boot_.online_probe());
  if (state == OnlineState::NoResponse) {
    prompts_.message("No response from device.", "Is Device Online");
    add_history("Is Device Online", "No response from device");
    return OnlineState::NoResponse;
  }
  if (state == OnlineState::Online) {
    view_.set_erase_enabled(true);
    add_history("Is Device Online", "Device is online");
    return OnlineState::Online;
  }
  prompts_.message("Unknown command error.", "Is Device Online");
  add_history("Is Device Online", "Unknown error");
  return OnlineState::UnknownReply;
}

Outcome FirmwareDownload::erase_flash_sectors(const std::array<bool, 7>& sectors) {
  int mask = 0;
  for (std::size_t i = 0; i < sectors.size(); ++i) {
    if (sectors[i]) mask += 1 << i;
  }
  if (prompts_.message_box({"Erase Sectors erases the whole flash of the controller: the erase "
                            "command carries no sectors, the selection only goes into the "
                            "history. Do you want to erase the flash?",
                            "Erase Sectors", Icon::Exclamation, Buttons::YesNo, Answer::No}) !=
      Answer::Yes) {
    return Outcome(Ending::Declined);
  }
  prompts_.set_busy(true);
  view_.add_command("Erase Sectors  " + std::to_string(mask));
  bool erased = false;
  {
    const SlotSettingsOverride download_app_rate(comms_, kXonSlot, kBootloaderSettings);
    erased = erase_with_wait();
    if (!erased) prompts_.message("Sector Erase failed.", "Erase Sectors");
    prompts_.set_busy(false);
  }
  view_.add_response(erased ? "Erase Successful" : "Erase Failed");
  view_.scroll_histories_to_end();
  return erased ? Outcome{} : Outcome(Ending::Failed, "Erase Sectors");
}

}  // namespace r7
