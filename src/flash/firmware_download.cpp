#include "flash/firmware_download.h"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "base/run_error.h"
#include "flash/file_transfer.h"
#include "flash/srecord_check.h"
#include "modbus/registers.h"
#include "serial/network_device.h"

namespace r7 {

namespace {

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

// The model tag a firmware file carries: the first 8 digits of its field.
std::string file_device_code(const std::string& path) {
  return mid(file_software_field(path).value_or(""), 1, 8);
}

}  // namespace

FirmwareDownload::FirmwareDownload(Comms& comms, Prompts& prompts, FlashView& view, Clock& clock,
                                   const ProgramDir& program_dir)
    : comms_(comms),
      whole_(view, clock),
      registers_(comms),
      boot_(comms, prompts, whole_),
      identity_(registers_),
      files_(prompts, whole_, program_dir),
      engineering_(comms, boot_, prompts, whole_),
      prompts_(prompts),
      view_(whole_),
      clock_(clock) {}

bool FirmwareDownload::software_number_fits(int value) {
  const std::optional<std::string> field = file_software_field(files_.firmware());
  if (!field || mid(*field, 1, 8) != files_.device_code()) return false;
  const std::string number = mid(*field, 9, 4);
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

// The download application is addressed at 38400 baud; a raw TCP connection
// to a serial device server keeps the server's settings.
std::optional<Outcome> FirmwareDownload::refuse_fixed_line() {
  for (const int slot : {kModbusSlot, kXonSlot}) {
    // An undefined slot's exchanges go to slot 0.
    const std::string device = comms_.device_name(comms_.slot_defined(slot) ? slot : 0);
    if (!line_settings_fixed(device)) continue;
    const auto address = parse_network_device(device);
    const std::string rfc2217 =
        "rfc2217://" + (address ? written_host(*address) : std::string("HOST")) + ":PORT";
    prompts_.message("A firmware download changes the line's baud rate, which " + device +
                         " (raw TCP, the line settings fixed at the server) cannot do. Connect "
                         "through the server's RFC 2217 port instead: " +
                         rfc2217 + ". Nothing was sent.",
                     "Firmware Download", Icon::Critical);
    return Outcome(Ending::NotPossible, "Check of the line");
  }
  return std::nullopt;
}

Outcome FirmwareDownload::download_firmware() {
  if (auto refused = refuse_fixed_line()) return *refused;
  prompts_.set_busy(true);
  view_.set_start_enabled(false);
  summary_ = DownloadSummary{};
  started_ms_ = clock_.tick_ms();
  std::optional<Outcome> end = identify_for_download();
  if (!end) end = confirm_files();
  if (!end) end = prepare_controller();
  const Outcome outcome = end ? *end : bootloader_download();
  whole_.end(outcome.completed());
  summary_.ended = true;
  summary_.outcome = std::string(ending_name(outcome.ending)) +
                     (outcome.step.empty() ? "" : " at \"" + outcome.step + "\"");
  summary_.took_ms = clock_.tick_ms() - started_ms_;
  view_.show_summary(summary_);
  start_end();
  return outcome;
}

std::optional<Outcome> FirmwareDownload::identify_for_download() {
  view_.add_command("Check of device type");
  model_selection_ = 0;
  recovering_ = false;
  bootloader_may_run_ = false;
  revision_.reset();
  software_.reset();
  serial_.reset();
  bool unrecognised_shown = false;
  const auto type = identity_.device_type([this, &unrecognised_shown] {
    prompts_.message("Controller is unrecognized !!", "Unknown Controller", Icon::Critical);
    unrecognised_shown = true;
  });
  if (!type) {
    view_.add_response("Failed");
    if (unrecognised_shown) return Outcome(Ending::Unrecognised, "Check of device type");
    return no_modbus_reply(type.error());
  }
  view_.add_response("Successful");
  view_.add_command("Get software revision");
  const std::optional<int> revision = identity_.revision();
  if (!revision) {
    view_.add_response("Failed");
    prompts_.message(
        "No response from controller received." + late_reply_advice(comms_.late_replies_seen()),
        "Communication Error", Icon::Critical);
    return Outcome(Ending::NoController, "Get software revision");
  }
  model_selection_ = selection_for(*type, *revision).value_or(0);
  revision_ = revision;
  view_.add_response("Successful");
  serial_ = identity_.serial_number();  // for the summary; the download goes on without it
  return std::nullopt;
}

// Nothing answered over Modbus. A controller whose download broke off still
// has its bootloader, which acknowledges a download-completed command. A port
// that cannot be opened is not asked, and the link has said why already.
std::optional<Outcome> FirmwareDownload::no_modbus_reply(const RegisterError& error) {
  if (error.failure == RegisterFailure::PortFailure) {
    return Outcome(Ending::NoController, "Check of device type");
  }
  if (boot_.resident()) {
    bootloader_may_run_ = true;
    add_history(view_, "Bootloader answers", "Successful");
    return choose_recovery_selection();
  }
  prompts_.message(
      "No response from controller received." + late_reply_advice(comms_.late_replies_seen()),
      "Communication Error", Icon::Critical);
  return Outcome(Ending::NoController, "Check of device type");
}

// Neither device type nor revision can be read from a bootloader: the user
// names the selection, or cancels before anything is written.
std::optional<Outcome> FirmwareDownload::choose_recovery_selection() {
  const std::optional<int> chosen = prompts_.choose(recovery_choice());
  const FirmwareSelection* selection = chosen ? firmware_selection(*chosen + 1) : nullptr;
  if (selection == nullptr) return Outcome(Ending::Cancelled, "Bootloader answers");
  model_selection_ = *chosen + 1;
  recovering_ = true;
  show_identity();
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
  if (file_device_code(files_.firmware()) != files_.device_code()) {
    add_history(view_, "Check of firmware model", "Failed");
    prompts_.message("The file " + files_.firmware() + " is not firmware for the model chosen.",
                     "Error", Icon::Critical);
    return Outcome(Ending::SoftwareMismatch, "Check of firmware model");
  }
  show_bootloader_running();
  return std::nullopt;
}

std::optional<Outcome> FirmwareDownload::confirm_files() {
  if (!files_.choose(model_selection_)) return Outcome(Ending::Cancelled);
  if (!std::filesystem::exists(files_.download_app())) {
    prompts_.message("The file " + files_.download_app() +
                         " needs to be located in the same directory as this application. It "
                         "currently is not.",
                     "Error", Icon::Critical);
    return Outcome(Ending::FileProblem);
  }
  if (!std::filesystem::exists(files_.firmware())) {
    prompts_.message("The file " + files_.firmware() +
                         " needs to be in the same directory as this application. It currently "
                         "is not.",
                     "Error", Icon::Critical);
    return Outcome(Ending::FileProblem);
  }
  view_.set_file_text(files_.firmware());
  summary_.firmware = files_.firmware();
  if (const auto field = file_software_field(files_.firmware())) {
    const std::string number = mid(*field, 9, 4);
    if (number.size() == 4 &&
        number.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos)
      summary_.firmware_software = std::stoi(number, nullptr, 16);
  }
  // The download application first: it is sent first, and a broken one leaves
  // a controller that only its bootloader answers.
  if (auto e = preflight(files_.download_app())) return e;
  if (auto e = preflight(files_.firmware())) return e;
  begin_whole_download(backup_ != nullptr && !recovering_, !recovering_);
  return std::nullopt;
}

void FirmwareDownload::begin_whole_download(bool backup, bool download_mode) {
  std::error_code ec1;
  std::error_code ec2;
  const std::uintmax_t app = std::filesystem::file_size(files_.download_app(), ec1);
  const std::uintmax_t firmware = std::filesystem::file_size(files_.firmware(), ec2);
  whole_.begin(backup, download_mode, ec1 ? 0 : app, ec2 ? 0 : firmware);
}

std::optional<Outcome> FirmwareDownload::check_software_number() {
  view_.add_command("Get software number");
  bool fits = false;
  for (int tries = 0; tries < kModbusTries && !fits; ++tries) {
    const auto r = registers_.read_registers(kFirmwareAddress, reg::kSoftwareNumber, 1);
    // A negative value fails the try like no value at all.
    if (r) software_ = r->front();
    fits = r && r->front() >= 0 && software_number_fits(r->front());
  }
  if (!fits) {
    view_.add_response("Failed");
    return Outcome(Ending::SoftwareMismatch, "Get software number");
  }
  view_.add_response("Successful");
  show_identity();
  return std::nullopt;
}

void FirmwareDownload::show_identity() {
  summary_.controller = identity_text();
  view_.show_summary(summary_);
}

// The setup is saved while the controller still runs its firmware. Without
// the backup the download goes on only when the user says so.
std::optional<Outcome> FirmwareDownload::back_up_setup() {
  if (!backup_) return std::nullopt;
  whole_.enter(WholeDownloadView::Step::Backup);
  view_.begin_wait("Saving the controller's setup", 0);
  const Expected<WrittenFile, std::string> saved = backup_();
  view_.end_wait();
  if (saved) {
    summary_.backup = saved->path;
    summary_.backup_refused = saved->refused;
    add_history(view_, "Save setup to " + std::filesystem::path(saved->path).filename().string(),
                saved->refused == 0
                    ? std::string("Successful")
                    : "Successful, " + std::to_string(saved->refused) +
                          (saved->refused == 1 ? " value" : " values") + " refused");
    return std::nullopt;
  }
  add_history(view_, "Save setup", "Failed");
  // A line given up has said why; the download could not go on over it either.
  if (comms_.line_given_up()) return Outcome(Ending::Failed, "Save setup");
  const bool go_on = prompts_.ask_yes(
      "The controller's setup could not be saved before the "
      "download:\r" +
          saved.error() + "\rDo you want to go on with the download without it?",
      "Setup Backup", Answer::No, Icon::Exclamation);
  if (!go_on) return Outcome(Ending::Failed, "Save setup");
  return std::nullopt;
}

std::optional<Outcome> FirmwareDownload::enter_download_mode() {
  whole_.enter(WholeDownloadView::Step::DownloadMode);
  view_.add_command("Goto Download Mode");
  if (write_download_mode(reg::kDownloadModeArm) != ModeWrite::Echoed) {
    view_.add_response("Failed");
    return Outcome(Ending::Failed, "Goto Download Mode");
  }
  if (boot_.download_completed()) {  // a bootloader answers already
    bootloader_may_run_ = true;
    view_.add_response("Successful");
    view_.scroll_histories_to_end();
    view_.set_warning_visible(true);
    view_.set_quit_enabled(false);
    return std::nullopt;
  }
  bootloader_may_run_ = true;  // from the first byte of this write on
  const ModeWrite mode =
      write_download_mode(firmware_selection(model_selection_)->download_mode_value);
  if (mode == ModeWrite::Refused) {
    view_.add_response("Failed");
    return Outcome(Ending::Failed, "Goto Download Mode");
  }
  if (mode == ModeWrite::NoReply) return enter_download_mode_unconfirmed();
  view_.add_response("Successful");
  show_bootloader_running();
  view_.add_command("Pausing");
  pause_for_bootloader();
  view_.add_response("Successful");
  return std::nullopt;
}

// The write that restarts the controller into its bootloader got no reply:
// the controller may well have taken it and gone (writing it again would not
// be answered either). Give the bootloader its time, then ask it.
std::optional<Outcome> FirmwareDownload::enter_download_mode_unconfirmed() {
  show_bootloader_running();
  pause_for_bootloader();
  if (!boot_.download_completed()) {
    view_.add_response("Failed");
    return Outcome(Ending::Failed, "Goto Download Mode");
  }
  view_.add_response("Successful");
  view_.scroll_histories_to_end();
  return std::nullopt;
}

// From here on the controller runs only its bootloader: the red warning, and
// no quitting until the download is over.
void FirmwareDownload::show_bootloader_running() {
  view_.set_warning_visible(true);
  view_.set_quit_enabled(false);
}

void FirmwareDownload::pause_for_bootloader() {
  whole_.enter(WholeDownloadView::Step::Pause);
  view_.begin_wait("Waiting for the bootloader to start", kPauseSlices * kPauseSliceMs);
  for (int i = 0; i < kPauseSlices; ++i) {
    clock_.sleep_ms(kPauseSliceMs);
    whole_.within(static_cast<double>(i + 1) / kPauseSlices);
  }
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

// Execute is no command to send twice: the download application it starts
// refuses it, so a lost acknowledgement would fail the download. After a try
// without one, the erase that comes next tells which program listens: only
// the download application acknowledges it (`erased` then).
bool FirmwareDownload::start_download_app(bool& erased) {
  for (int tries = 0; tries < kCommandTries; ++tries) {
    if (boot_.execute_download_app(kDownloadAppAddress, 1)) return true;
    const SlotSettingsOverride download_app_rate(comms_, kXonSlot, kBootloaderSettings);
    erased = erase_with_wait(boot_, view_);
    if (erased) return true;
  }
  return false;
}

Outcome FirmwareDownload::bootloader_download() {
  if (auto refused = refuse_fixed_line()) return *refused;
  bootloader_may_run_ = true;
  prompts_.set_busy(true);
  if (!whole_.active()) begin_whole_download(false, false);  // Transfer File on its own
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
  using Step = WholeDownloadView::Step;
  whole_.enter(Step::DownloadApp);
  step("File Transfer of " + files_.download_app(),
       [this] { return transfer_srecord_file(boot_, prompts_, files_.download_app()); });
  whole_.enter(Step::StartApp);
  step("Download completed", [this] { return boot_.download_completed(); });
  bool erased = false;
  step("Execute download app", [this, &erased] { return start_download_app(erased); });
  if (!failed) {
    // From here on the download application is addressed at 38400 baud.
    const SlotSettingsOverride download_app_rate(comms_, kXonSlot, kBootloaderSettings);
    whole_.enter(Step::Erase);
    step("Erase Sectors (chip)",
         [this, erased] { return erased || erase_with_wait(boot_, view_); });
    whole_.enter(Step::Firmware);
    step("File Transferred " + files_.firmware(),
         [this] { return transfer_srecord_file(boot_, prompts_, files_.firmware()); });
    step("Download completed ", [this] { return boot_.download_completed(); });
    if (!failed) {
      view_.set_warning_visible(false);
      view_.set_progress_max(1);  // the whole download is done
      view_.set_progress_value(1);
      whole_.end(true);
      prompts_.message("Please cycle Device Power.", "Download Completed", Icon::Information);
    }
    view_.scroll_histories_to_end();
  } else {
    view_.scroll_histories_to_end();
  }
  whole_.end(!failed);
  if (failed) advise_recovery();
  prompts_.set_busy(false);
  return failed ? *failed : Outcome{};
}

std::string FirmwareDownload::identity_text() const {
  const FirmwareSelection* selection = firmware_selection(model_selection_);
  if (selection == nullptr) return "not identified";
  std::string text = "model " + std::to_string(selection->device_type);
  if (!revision_) return text + " (only its bootloader answered)";
  if (serial_) text += ", serial number " + *serial_;
  if (software_) text += ", software number " + std::to_string(*software_);
  return text + ", software revision " + std::to_string(*revision_);
}

std::optional<BrokenOffDownload> FirmwareDownload::broken_off() const {
  const FirmwareSelection* selection = firmware_selection(model_selection_);
  if (!bootloader_may_run_ || selection == nullptr) return std::nullopt;
  return BrokenOffDownload{selection->device_type, revision_, files_.firmware()};
}

// After the failure's own message: the controller has left its application.
void FirmwareDownload::advise_recovery() {
  const FirmwareSelection* selection = firmware_selection(model_selection_);
  if (!advice_ || selection == nullptr) return;
  const BrokenOffDownload broken{selection->device_type, revision_, files_.firmware()};
  // The port's own message came first; what to do names the line as well.
  const std::string line_lost =
      comms_.port_available()
          ? ""
          : " The serial port was lost: reconnect the cable or the adapter first.";
  prompts_.message(std::string(kBrokenOffText) + advice_(broken) + line_lost, "Download Broken Off",
                   Icon::Exclamation);
}

void FirmwareDownload::note_in(ServiceRecord& record) const {
  if (const FirmwareSelection* s = firmware_selection(model_selection_)) {
    record.model = s->device_type;
  }
  record.revision = revision_;
  record.software_number = software_;
  record.serial_number = serial_;
  if (!files_.firmware().empty()) record.file = describe_file(files_.firmware());
  if (!summary_.backup.empty()) record.backup = summary_.backup;
}

}  // namespace r7
