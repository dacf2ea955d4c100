// The main window's engineering functions: "Is device online" (the
// bootloader's probe) and "Erase Sectors" (the whole flash).
#pragma once

#include <array>
#include <string>

#include "base/outcome.h"
#include "flash/bootloader.h"
#include "seams/flash_view.h"
#include "seams/prompts.h"
#include "serial/comms.h"

namespace r7 {

// One step in both histories, scrolled to the end.
void add_history(FlashView& view, const std::string& command, const std::string& response);

// The bootloader's erase with the wait indicator up for its three tries.
bool erase_with_wait(Bootloader& boot, FlashView& view);

class EngineeringFunctions {
 public:
  EngineeringFunctions(Comms& comms, Bootloader& boot, Prompts& prompts, FlashView& view)
      : comms_(comms), boot_(boot), prompts_(prompts), view_(view) {}

  // "Is device online": the probe on the Xon slot, logged in the histories.
  OnlineState probe_online();
  // "Erase Sectors": the whole flash at 38400 baud; `sectors` (the seven check
  // boxes) are only logged, the command carries no sector selection.
  Outcome erase_flash_sectors(const std::array<bool, 7>& sectors);

 private:
  Comms& comms_;
  Bootloader& boot_;
  Prompts& prompts_;
  FlashView& view_;
};

}  // namespace r7
