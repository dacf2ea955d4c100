// The setup window's procedures: saving a controller's registers and profiles
// into a setup file ("Download") and restoring them ("Upload"), with the
// register access helpers they share.
//
// Every register exchange goes through ReadDataFromControl / WriteDataToControl
// on the Modbus slot (250 ms a try) at the address shown in the view. The
// window (Qt), the command line and the tests hold one SetupTransfer each and
// call the very same operations.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/program_dir.h"
#include "errors/clock.h"
#include "errors/error_log.h"
#include "errors/prompts.h"
#include "errors/run_error.h"
#include "modbus/modbus.h"
#include "serial/comms.h"
#include "setup/setup_file.h"
#include "setup/setup_view.h"

namespace r7 {

inline constexpr float kSetupTimeoutMs = 250.0F;
inline constexpr std::uint32_t kRestartPauseMs = 13000;  // between the two writes of register 25
inline constexpr int kMaxStepsPerProfile = 256;
inline constexpr int kMaxPlaceholderProfile = 40;
inline constexpr std::size_t kMaxProfileLines = 11530;
inline constexpr std::size_t kMaxDeferredLines = 1290;
inline constexpr int kDigitalInputSlots = 16;

class SetupTransfer {
 public:
  // How the last save or restore ended (the command line's exit status).
  enum class Outcome {
    None,
    Completed,
    Declined,        // the restore's first question answered No
    Cancelled,       // a dialog cancelled, a question answered No, a retry given up
    NoController,    // the controller did not answer (or gave a damaged model read)
    NoSequenceFile,  // no .cds (save) or .pds (profile walk) for the model
    BadFile,         // a malformed sequence file or setup file
    ModelMismatch,   // the setup file was saved from another model
    Failed,  // a run-time error: a file not written, a damaged reply, a placeholder not made
  };

  SetupTransfer(Comms& comms, Modbus& modbus, Prompts& prompts, SetupView& view, Clock& clock,
                const ProgramDir& program_dir);
  ~SetupTransfer();
  SetupTransfer(const SetupTransfer&) = delete;
  SetupTransfer& operator=(const SetupTransfer&) = delete;

  // Window operations.
  // The procedures' part of loading the window: the digital-input register
  // table, empty lists and counters, the progress bar hidden.
  void Form_Load();
  void cmdDownload_Click();  // save
  void cmdUpload_Click();    // restore
  void cmdClearListBox_Click();
  void cmdClearList2_Click();
  void ShowLogLine(const std::string& text);
  void DisableButtons();
  void EnableButtons();

  // Register access helpers. A request that cannot be framed (an address or
  // register out of range, a value that cannot be sent) is RunError 5, a
  // non-numeric address RunError 13: run-time errors of the calling operation.
  std::string ReadDataFromControl(float Register_No);
  bool WriteDataToControl(float Register_No, float DataValue, ErrorStream& ErrText);
  std::string CheckCommErrorRead(float RegisterNo, const std::string& ResponseValue);
  bool CheckCommErrorWrite(float RegisterNo, float Reg_Value, bool response);
  // RunError 13 when the line has no register number.
  float GetRegNumber(const std::string& TextLine);
  bool DefaultControl(const std::string& OldValue);

  // The new setup file with its header written, or nullptr (SetupFileCreated
  // false). A file that cannot be created is RunError for the save.
  std::unique_ptr<SetupFileWriter> CreateTextFile();
  // Appends the profiles of the model to the setup file; sets Cancelled on any cancel.
  void DownLoadProfiles(SetupFileWriter& TextFile, float ModelNumber);
  // The 26 writes of one placeholder profile named DELETE; the outcome of the last.
  bool CreateDeleteProfile(float ProfileNumber, ErrorStream& ErrorText);

  Outcome outcome() const { return outcome_; }
  // The run-time error that ended the last save, 0 when none.
  int error_number() const { return error_number_; }
  // Lines of the last restore that were reported and not written.
  int skipped_lines() const { return skipped_lines_; }
  // The profile numbers the last restore recorded as placeholders.
  const std::vector<int>& placeholder_profiles() const { return placeholders_; }

  // Window state.
  float HistoryCount = 0;
  float ErrorListCount = 0;
  std::string SetupFilePath;
  bool SetupFileCreated = false;
  bool HasProfiles = false;
  bool Cancelled = false;
  ErrorStream ErrorFile;
  std::array<std::string, 17> DigitalInputRegisters{};
  std::array<std::string, 17> DigitalInputLines{};

 private:
  enum class Ending { Carry, Cancel, Fail };

  void yield();
  int controller_address();
  std::string modbus_request(int command, float register_no, float value);
  std::string exchange(const std::string& request);
  // A read followed by its check: the value, or "ERROR" when given up.
  std::string read_checked(float register_no);
  // A write followed by its check: true when given up.
  bool write_given_up(float register_no, float value);
  Answer comm_error_box(const std::string& text);

  void run_save();
  void save_failed(const RunError& e);
  void walk_profiles(SetupFileWriter& file, const std::string& model);
  void run_restore();
  Ending ensure_placeholders(float current_profile);
  void remove_placeholders();
  void restore_ending(bool hide_progress);

  Comms& comms_;
  Modbus& modbus_;
  Prompts& prompts_;
  SetupView& view_;
  Clock& clock_;
  const ProgramDir& program_dir_;
  ErrorLog error_messages_;

  Outcome outcome_ = Outcome::None;
  int error_number_ = 0;
  int skipped_lines_ = 0;
  std::vector<int> placeholders_;
};

// The value texts a save leaves out ("-32000", "-32001", "-32002"), compared numerically.
bool is_skipped_value(double value);

}  // namespace r7
