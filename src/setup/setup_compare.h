// The compare of a setup file with a controller: the controller is read as a
// save reads it (setup_reading.h), and both sets of data lines are taken as
// what a restore would leave in a controller (registers, and profiles with
// their name and steps) and compared.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/program_dir.h"
#include "base/error_messages.h"
#include "base/outcome.h"
#include "seams/clock.h"
#include "seams/prompts.h"
#include "setup/register_access.h"
#include "setup/setup_session.h"
#include "setup/setup_text.h"

namespace r7 {

// A value only one side has.
inline constexpr const char* kAbsent = "(none)";

// One way in which a setup file and a controller differ: a row of the table.
struct SetupDifference {
  // "Model", "Register", "Profile 3", "Profile 3 name", "Profile 3 step 2",
  // "Profile 3 end step".
  std::string what;
  std::optional<int> register_no;
  std::string name;              // what the register is (the sequence files' words)
  std::string file_value;        // kAbsent when only the controller has it
  std::string controller_value;  // kAbsent when only the file has it

  bool operator==(const SetupDifference&) const = default;
};

// "Register 101 (Display decimal point): file 3, controller 4".
std::string difference_line(const SetupDifference& d);
// A heading and one line per difference, in aligned columns: What, Register,
// Name, File, Controller.
std::vector<std::string> difference_table(const std::vector<SetupDifference>& differences);

// Register descriptions by number, from the sequence files' register lines.
using RegisterNames = std::map<int, std::string>;

enum class CompareScope {
  Everything,     // compare: registers only one side has are differences
  FileRegisters,  // verify: registers the file does not list are not
};

// The differences between the data lines of a setup file and the lines a
// save of the controller gives. Lines that are not data are left out; a
// register listed twice counts with its last value, as after a restore.
std::vector<SetupDifference> compare_setup_lines(const std::vector<std::string>& file_lines,
                                                 const std::vector<std::string>& controller_lines,
                                                 const RegisterNames& names, CompareScope scope);

// The controller read as a save reads it and compared with a setup file, for
// the compare job and the restore's verify. Shows only what went wrong; the
// caller shows the rest and locks the window.
class SetupComparison {
 public:
  SetupComparison(RegisterAccess& access, Prompts& prompts, SetupSession& session,
                  const ProgramDir& program_dir);

  // `file`: the lines of a setup file that passed check_setup_file, of the
  // controller's model `model`. Completed when equal, Differs (with the
  // number) when not, else why the reading ended (Cancelled, FileProblem,
  // Failed).
  Outcome run(const TextLines& file, const std::string& model, CompareScope scope);
  const std::vector<SetupDifference>& differences() const { return differences_; }

 private:
  RegisterAccess& access_;
  Prompts& prompts_;
  SetupSession& session_;
  const ProgramDir& program_dir_;
  std::vector<SetupDifference> differences_;
};

// The compare job: a setup file chosen with the open dialog, checked, its
// model compared with the controller's (a different model is the one
// difference, and nothing more is read), then the whole setup.
class CompareSetup {
 public:
  CompareSetup(Comms& comms, Prompts& prompts, SetupSession& session, const ProgramDir& program_dir,
               int address);

  Outcome compare_setup();
  const std::vector<SetupDifference>& differences() const { return differences_; }
  // The file chosen, empty when the dialog was cancelled.
  const std::string& file_path() const { return file_; }

 private:
  Outcome end(Outcome outcome, const std::string& history_line);

  Prompts& prompts_;
  SetupSession& session_;
  const ProgramDir& program_dir_;
  RegisterAccess access_;
  std::string file_;
  std::vector<SetupDifference> differences_;
};

}  // namespace r7
