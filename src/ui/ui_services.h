// What the windows share: the program directory, the serial link and the
// seams the procedures are built on. Owned by the caller (main, or a test).
#pragma once

#include <optional>

#include "app/port_names.h"
#include "app/program_dir.h"
#include "seams/clock.h"
#include "seams/prompts.h"
#include "serial/comms.h"

namespace r7 {

struct UiServices {
  const ProgramDir& program_dir;
  const PortNames& port_names;
  Comms& comms;
  Clock& clock;
  Prompts& prompts;
  // With --simulate: the model of the simulated controller every port leads to.
  std::optional<int> simulated_model{};
};

}  // namespace r7
