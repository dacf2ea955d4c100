// The setup window's state, its small operations and the register access
// helpers shared by the save and the restore.
#include "setup/setup_transfer.h"

#include <cmath>

#include "modbus/registers.h"
#include "setup/setup_text.h"

namespace r7 {

namespace {

constexpr int kReadTries = 3;
constexpr int kWriteTries = 5;
constexpr int kDefaultsPolls = 13;

struct ProfileWrite {
  int register_no;
  float value;
  bool profile_number = false;  // the value is the profile number
};

// A placeholder profile: selected, created, one end step, named "DELETE    ",
// one ordinary step. The step setting 4008 is left alone.
constexpr std::array<ProfileWrite, 26> kPlaceholderWrites{{
    {reg::kProfileSelect, 0, true},
    {reg::kProfileCommand, reg::kProfileCreate},
    {reg::kStepSelect, 1},
    {reg::kEndStepLast, 2},
    {reg::kProfileCommand, reg::kProfileEditA},
    {reg::kProfileCommand, reg::kProfileEditB},
    {reg::kProfileNameBase + 0, 68},  // D
    {reg::kProfileNameBase + 1, 69},  // E
    {reg::kProfileNameBase + 2, 76},  // L
    {reg::kProfileNameBase + 3, 69},  // E
    {reg::kProfileNameBase + 4, 84},  // T
    {reg::kProfileNameBase + 5, 69},  // E
    {reg::kProfileNameBase + 6, 32},
    {reg::kProfileNameBase + 7, 32},
    {reg::kProfileNameBase + 8, 32},
    {reg::kProfileNameBase + 9, 32},
    {reg::kStepSelect, 1},
    {reg::kProfileCommand, reg::kProfileEditA},
    {reg::kStepType, 0},
    {reg::kStepSettingFirst + 0, 0},
    {reg::kStepSettingFirst + 1, 1},
    {reg::kStepSettingFirst + 2, 1},
    {reg::kStepSettingFirst + 3, 2000},
    {reg::kStepSettingFirst + 5, 1},
    {reg::kStepSettingFirst + 6, 0},
    {reg::kStepSettingFirst + 7, 0},
}};

}  // namespace

bool is_skipped_value(double value) {
  return value == -32000 || value == -32001 || value == -32002;
}

SetupTransfer::SetupTransfer(Comms& comms, Modbus& modbus, Prompts& prompts, SetupView& view,
                             Clock& clock, const ProgramDir& program_dir)
    : comms_(comms),
      modbus_(modbus),
      prompts_(prompts),
      view_(view),
      clock_(clock),
      program_dir_(program_dir),
      error_messages_(prompts, clock) {
  int k = 0;
  for (int r = reg::kDigitalInputFirstA; r <= reg::kDigitalInputLastA; ++r)
    DigitalInputRegisters[static_cast<std::size_t>(k++)] = std::to_string(r);
  for (int r = reg::kDigitalInputFirstB; r <= reg::kDigitalInputLastB; ++r)
    DigitalInputRegisters[static_cast<std::size_t>(k++)] = std::to_string(r);
}

SetupTransfer::~SetupTransfer() = default;

void SetupTransfer::Form_Load() {
  DigitalInputLines.fill(std::string());
  ErrorListCount = 0;
  SetupFilePath.clear();
  view_.set_progress_visible(false);
  HistoryCount = 0;
}

void SetupTransfer::cmdClearListBox_Click() {
  view_.clear_history();
  HistoryCount = 0;
}

void SetupTransfer::cmdClearList2_Click() {
  view_.clear_errors();
  ErrorListCount = 0;
  ErrorFile.clear_pending();
}

void SetupTransfer::ShowLogLine(const std::string& text) {
  view_.insert_history(static_cast<int>(HistoryCount), text);
  HistoryCount += 1;
}

void SetupTransfer::DisableButtons() {
  prompts_.set_busy(true);
  view_.set_window_enabled(false);
}

void SetupTransfer::EnableButtons() {
  prompts_.set_busy(false);
  view_.set_window_enabled(true);
}

void SetupTransfer::yield() {
  prompts_.process_events();
}

int SetupTransfer::controller_address() {
  const auto a = parse_number(view_.address_text());
  if (!a) throw RunError(err::kTypeMismatch, "address is not a number");
  return static_cast<int>(std::nearbyint(*a));
}

std::string SetupTransfer::modbus_request(int command, float register_no, float value) {
  // The end marker cannot be sent as a value: it would end the data list early.
  if (value == kEndMarker) throw RunError(5, "value cannot be sent");
  const std::string frame =
      modbus_.build_modbus_request(command, controller_address(), register_no, {value, kEndMarker});
  if (frame == kBadCommand || frame == kBadAddress || frame == kBadRegister ||
      frame == kBadDataValue) {
    throw RunError(5, frame);
  }
  return frame;
}

std::string SetupTransfer::exchange(const std::string& request) {
  const std::string reply =
      comms_.transmit(kModbusSlot, request, kSetupTimeoutMs, modbus_reply_length);
  return modbus_.decode_modbus_reply(0, reply);
}

std::string SetupTransfer::ReadDataFromControl(float Register_No) {
  const std::string request = modbus_request(3, Register_No, 1);
  std::string text;
  for (int attempt = 0; attempt < kReadTries && text.empty(); ++attempt) {
    text = exchange(request);
    if (text.empty()) yield();
  }
  if (text.empty()) return "ERROR";
  // Drop the address, function code and byte count with their blanks, then
  // take the first item: the value, or the exception code of a refusal.
  const std::size_t skip = view_.address_text().size() + 4;
  const std::string rest = trim_blanks(skip < text.size() ? text.substr(skip) : std::string());
  const std::size_t blank = rest.find(' ');
  return blank == std::string::npos ? std::string() : trim_blanks(rest.substr(0, blank));
}

bool SetupTransfer::WriteDataToControl(float Register_No, float DataValue, ErrorStream& ErrText) {
  const std::string request = modbus_request(6, Register_No, DataValue);
  for (int attempt = 0; attempt < kWriteTries; ++attempt) {
    const std::string text = exchange(request);
    if (text.find("-32003") != std::string::npos || text.find("-32002") != std::string::npos) {
      const std::string reg_text = number_text(Register_No);
      const std::string value_text = number_text(DataValue);
      if (ErrorListCount == 0) ErrText.write_line("Response From Control\tReg No\tValue\t");
      ErrText.write_line(text + "\t" + reg_text + "\t" + value_text + "\tError");
      view_.insert_error(static_cast<int>(ErrorListCount),
                         text + "     " + reg_text + "             " + value_text + "    Error");
      ErrorListCount += 1;
      yield();
    }
    if (!text.empty()) return true;
    yield();
  }
  return false;
}

Answer SetupTransfer::comm_error_box(const std::string& text) {
  return prompts_.message_box(MessageBox{text, {}, Icon::None, Buttons::RetryCancel, std::nullopt});
}

std::string SetupTransfer::CheckCommErrorRead(float RegisterNo, const std::string& ResponseValue) {
  if (ResponseValue != "ERROR") return ResponseValue;
  while (comm_error_box("Comm Error!") == Answer::Retry) {
    std::string value = ReadDataFromControl(RegisterNo);
    if (value != "ERROR") return value;
  }
  return "ERROR";
}

bool SetupTransfer::CheckCommErrorWrite(float RegisterNo, float Reg_Value, bool response) {
  if (response) return false;
  while (comm_error_box("Comm Error!") == Answer::Retry) {
    if (WriteDataToControl(RegisterNo, Reg_Value, ErrorFile)) return false;
  }
  return true;
}

std::string SetupTransfer::read_checked(float register_no) {
  std::string value = ReadDataFromControl(register_no);
  if (value == "ERROR") value = CheckCommErrorRead(register_no, value);
  return value;
}

bool SetupTransfer::write_given_up(float register_no, float value) {
  const bool answered = WriteDataToControl(register_no, value, ErrorFile);
  return CheckCommErrorWrite(register_no, value, answered);
}

float SetupTransfer::GetRegNumber(const std::string& TextLine) {
  return reg_number_or_throw(TextLine);
}

bool SetupTransfer::DefaultControl(const std::string& OldValue) {
  const auto old = parse_number(OldValue);
  if (old && *old == 0) WriteDataToControl(reg::kDefaultsFlag, 1, ErrorFile);
  // The controller drops off the link while it returns to its defaults, so
  // the reply to this write is not looked at.
  comms_.transmit(kModbusSlot,
                  modbus_request(6, reg::kDefaultsCommand, static_cast<float>(reg::kDefaultsValue)),
                  kSetupTimeoutMs, modbus_reply_length);
  std::string value = ReadDataFromControl(reg::kDefaultsFlag);
  bool success = false;
  for (int polls = 0; value == "ERROR" && !success && polls < kDefaultsPolls; ++polls) {
    value = ReadDataFromControl(reg::kDefaultsFlag);
    yield();
    if (value == "0") {
      success = true;
    } else {
      value = "ERROR";
    }
  }
  return success;
}

bool SetupTransfer::CreateDeleteProfile(float ProfileNumber, ErrorStream& ErrorText) {
  bool answered = false;
  for (const ProfileWrite& w : kPlaceholderWrites) {
    const float value = w.profile_number ? ProfileNumber : w.value;
    answered = WriteDataToControl(static_cast<float>(w.register_no), value, ErrorText);
  }
  return answered;
}

}  // namespace r7
