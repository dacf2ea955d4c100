// The reading walk of a save, on its own so that a compare reads a controller
// exactly as a save does: the registers listed in the model's .cds file, then
// the profiles walked with its .pds file, then the digital-input lines and
// "25 0", as data lines into a sink. Nothing is written to the controller but
// the profile and step selections (4000, 4001).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/program_dir.h"
#include "base/error_messages.h"
#include "base/outcome.h"
#include "modbus/registers.h"
#include "seams/prompts.h"
#include "setup/register_access.h"
#include "setup/sequence_files.h"
#include "setup/setup_file.h"
#include "setup/setup_session.h"

namespace r7 {

inline constexpr int kMaxStepsPerProfile = 256;
inline constexpr std::size_t kMaxProfileLines = 11530;
inline constexpr std::size_t kMaxDeferredLines = 1290;

class SetupReading {
 public:
  enum class Walk { Done, Cancelled };
  // A save shows every register it reads in the history and files refused
  // selections in "<model>_Download_Error.TXT"; a check (compare, verify)
  // shows only what went wrong and leaves no file.
  enum class Purpose { Save, Check };

  SetupReading(RegisterAccess& access, Prompts& prompts, SetupSession& session,
               const ProgramDir& program_dir, Purpose purpose);

  // Reads the controller of model `model` into `sink`. Cancelled when the
  // user gave up a read or a selection, or a file problem ended it (see
  // outcome()). RunError from the .cds file or from the sink goes to the caller.
  Walk read(const DownloadSequence& cds, const std::string& model, SetupLineSink& sink);

  // How a cancelled walk ended when it was not the user who ended it (a file
  // problem, a run-time error); Completed otherwise.
  const Outcome& outcome() const { return outcome_; }
  // Registers whose reads the controller refused (not in the lines).
  const std::vector<int>& refused_reads() const { return refused_reads_; }

 private:
  Walk read_registers(const DownloadSequence& cds, SetupLineSink& sink);
  Walk read_profiles(SetupLineSink& sink, const std::string& model);
  Walk walk_profiles(SetupLineSink& sink, const ProfileSequence& pds, const std::string& model);
  Walk read_profile(SetupLineSink& sink, const ProfileSequence& pds, const std::string& model,
                    int profile);
  Walk read_profile_name(int profile);
  Walk read_step(SetupLineSink& sink, const ProfileSequence& pds, int profile, int step, int type);
  // A line of the history that only a save shows.
  void show_read(const std::string& line);
  // Kept for the closing box; a save lists it under Read/Write Errors.
  void note_refused_read(int register_no, const ValueRead& read);

  RegisterAccess& access_;
  Prompts& prompts_;
  SetupSession& session_;
  const ProgramDir& program_dir_;
  Purpose purpose_;
  Outcome outcome_;
  // Lines of the profile being walked and of all type-4 steps, written after
  // the profiles.
  std::vector<std::string> profile_lines_;
  std::vector<std::string> deferred_lines_;
  std::vector<int> refused_reads_;
  // The digital-input lines, written last; slots the walk does not fill stay
  // empty lines.
  std::array<std::string, reg::kDigitalInputs.size()> digital_lines_{};
};

// Whether a register line's text equals one of the digital-input registers.
bool is_digital_input(int register_no);

// Whether `file` is a .cds or .pds file: a RunError naming one is a file problem.
bool is_sequence_file(const std::string& file);

}  // namespace r7
