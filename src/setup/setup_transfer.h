// The setup window's procedures: saving a controller's registers and profiles
// into a setup file ("Download") and restoring them ("Upload"), with the
// register access helpers they share.
#pragma once

#include <array>
#include <string>

#include "app/program_dir.h"
#include "errors/clock.h"
#include "errors/prompts.h"
#include "modbus/modbus.h"
#include "serial/comms.h"
#include "setup/setup_view.h"

namespace r7 {

class SetupTransfer {
 public:
  SetupTransfer(Comms& comms, Modbus& modbus, Prompts& prompts, SetupView& view, Clock& clock,
                const ProgramDir& program_dir);
  ~SetupTransfer();

  // Window operations.
  void cmdDownload_Click();  // save
  void cmdUpload_Click();    // restore
  void cmdClearListBox_Click();
  void cmdClearList2_Click();
  void ShowLogLine(const std::string& text);
  void DisableButtons();
  void EnableButtons();

  // Window state.
  float HistoryCount = 0;
  float ErrorListCount = 0;
  std::string SetupFilePath;
  bool SetupFileCreated = false;
  bool HasProfiles = false;
  bool Cancelled = false;
  std::array<std::string, 17> DigitalInputRegisters{};
  std::array<std::string, 17> DigitalInputLines{};

 private:
  Comms& comms_;
  Modbus& modbus_;
  Prompts& prompts_;
  SetupView& view_;
  Clock& clock_;
  const ProgramDir& program_dir_;
};

}  // namespace r7
