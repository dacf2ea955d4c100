// The save ("Download": controller to file): the header, then the lines of
// the reading walk (setup_reading.h) into the new file.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/program_dir.h"
#include "base/error_messages.h"
#include "base/outcome.h"
#include "base/run_error.h"
#include "seams/clock.h"
#include "seams/prompts.h"
#include "setup/register_access.h"
#include "setup/sequence_files.h"
#include "setup/setup_file.h"
#include "setup/setup_reading.h"
#include "setup/setup_session.h"

namespace r7 {

class SaveSetup {
 public:
  SaveSetup(Comms& comms, Prompts& prompts, SetupSession& session, Clock& clock,
            const ProgramDir& program_dir, int address);

  // Saves the controller's setup into the file the save dialog names.
  Outcome save_setup();
  // The file the save wrote (or was writing when it ended).
  const std::string& file_path() const { return file_path_; }
  // Values the controller refused in the last save: reads (registers not in
  // the file) and writes.
  int refused_values() const { return refused_values_; }

 private:
  // The new setup file with its header written, after the serial number was
  // read and the user chose the name; nullptr when the save ends here.
  std::unique_ptr<SetupFileWriter> create_setup_file();
  Outcome finish(std::unique_ptr<SetupFileWriter>& file, bool cancelled,
                 const std::vector<int>& refused_reads);
  Outcome failed(const RunError& e);
  std::string refused_reads_text(const std::vector<int>& refused_reads) const;

  int refused_values_ = 0;
  Prompts& prompts_;
  SetupSession& session_;
  Clock& clock_;
  const ProgramDir& program_dir_;
  RegisterAccess access_;
  std::string file_path_;
  Outcome outcome_;
};

}  // namespace r7
