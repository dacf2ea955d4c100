// The save ("Download": controller to file): the registers listed in the
// model's .cds file, then the profiles walked with its .pds file, then the
// digital-input lines and "25 0".
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/program_dir.h"
#include "errors/clock.h"
#include "errors/error_log.h"
#include "errors/outcome.h"
#include "errors/prompts.h"
#include "errors/run_error.h"
#include "setup/register_access.h"
#include "setup/sequence_files.h"
#include "setup/setup_file.h"
#include "setup/setup_session.h"

namespace r7 {

inline constexpr int kMaxStepsPerProfile = 256;
inline constexpr std::size_t kMaxProfileLines = 11530;
inline constexpr std::size_t kMaxDeferredLines = 1290;

class SaveSetup {
 public:
  SaveSetup(Comms& comms, Prompts& prompts, SetupSession& session, Clock& clock,
            const ProgramDir& program_dir, int address);

  // Saves the controller's setup into the file the save dialog names.
  Outcome save_setup();
  // The file the save wrote (or was writing when it ended).
  const std::string& file_path() const { return file_path_; }

 private:
  enum class Walk { Done, Cancelled };

  // The new setup file with its header written, after the serial number was
  // read and the user chose the name; nullptr when the save ends here.
  std::unique_ptr<SetupFileWriter> create_setup_file();
  Walk save_registers(const DownloadSequence& cds, SetupFileWriter& file);
  // Appends the profiles of the model to the setup file.
  Walk save_profiles(SetupFileWriter& file, const std::string& model);
  Walk walk_profiles(SetupFileWriter& file, const ProfileSequence& pds, const std::string& model);
  Walk save_profile(SetupFileWriter& file, const ProfileSequence& pds, const std::string& model,
                    int profile);
  Walk save_profile_name(int profile);
  Walk save_step(SetupFileWriter& file, const ProfileSequence& pds, int profile, int step,
                 int type);
  Outcome finish(std::unique_ptr<SetupFileWriter>& file, bool cancelled);
  Outcome failed(const RunError& e);
  std::string refused_reads_text() const;
  // A register's value as the walk compares it: the value, or for a refusal
  // its code (-32000 - code, below 0).
  static int value_of(const ValueRead& read);

  Prompts& prompts_;
  SetupSession& session_;
  Clock& clock_;
  const ProgramDir& program_dir_;
  RegisterAccess access_;
  ErrorLog error_messages_;
  std::string file_path_;
  Outcome outcome_;
  // Lines of the profile being walked and of all type-4 steps, written after
  // the profiles.
  std::vector<std::string> profile_lines_;
  std::vector<std::string> deferred_lines_;
  std::vector<int> refused_reads_;  // registers whose reads the controller refused
};

// Whether a register line's text equals one of the digital-input registers.
bool is_digital_input(int register_no);

}  // namespace r7
