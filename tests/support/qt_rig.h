// A Comms on the real Qt serial port adapter in a demo program directory
// (slots 0 to 2 on port 2), every port number leading to `device`, or to the
// link of an r7sim it starts; for the integration tests and the benchmarks,
// which link the adapter.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/program_dir.h"
#include "base/error_log.h"
#include "os/system_clock.h"
#include "platform/qt_serial_port.h"
#include "serial/comms.h"
#include "support/demo_program_dir.h"
#include "support/recording_prompts.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace r7::test {

struct QtRig {
  explicit QtRig(const std::optional<std::string>& device = std::nullopt)
      : names(program.settings_file(), device.value_or(link())) {
    write_demo_program_dir(dir.path());
    comms.init_comms(read_protocol_slots(program.settings_file()));
  }
  // Starts the r7sim at `exe` with `args` on the link; false when it did not start.
  bool start_sim(const std::string& exe, std::vector<std::string> args) {
    args.insert(args.end(), {"--link", link()});
    sim = std::make_unique<Process>(exe, args);
    return !sim->read_line(10000).empty();
  }
  std::string link() const { return (dir / "r7").string(); }
  std::string error_log() const { return read_file(dir / "Flash.ERR"); }

  TempDir dir;
  ProgramDir program{dir.path()};
  RecordingPrompts prompts;
  SystemClock clock;
  ErrorLog log{clock, dir / "Flash.ERR"};
  PromptedLinkReport report{prompts, log};
  PortNames names;
  platform::QtPortFactory factory;
  Comms comms{names, factory, clock, report};
  std::unique_ptr<Process> sim;
};

}  // namespace r7::test
