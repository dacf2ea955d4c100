// A Comms on a scripted line with a settings file in a temporary directory,
// the recording prompts, a fake clock and an error log beside the settings;
// as a test fixture or (CommsRig) on its own.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/port_names.h"
#include "base/error_log.h"
#include "serial/comms.h"
#include "sim/fake_clock.h"
#include "support/recording_prompts.h"
#include "support/scripted_port.h"
#include "support/temp_dir.h"

namespace r7::test {

struct CommsRig {
  TempDir dir;
  RecordingPrompts prompts;
  sim::FakeClock clock{5000};
  ScriptedLine line{clock};
  ScriptedPortFactory factory{line};
  ErrorLog log{clock, dir / "Flash.ERR"};
  PromptedLinkReport report{prompts, log};
  std::filesystem::path settings = dir / "VARNEL FLASH R7.INI";
  PortNames names{settings};
  Comms comms{names, factory, clock, report};

  void ini(const std::string& text) { write_file(settings, text); }
  std::string error_log() const { return read_file(dir / "Flash.ERR"); }
  // An error log line at the fixture's clock time.
  static std::string logged(const std::string& procedure, int number) {
    return "03-03-2025, 14:05:09, " + procedure + ", ERROR #,  " + std::to_string(number) + " \r\n";
  }
};
struct CommsFixture : ::testing::Test, CommsRig {};

}  // namespace r7::test
