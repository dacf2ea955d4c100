// The restore ("Upload": file to controller): return the controller to its
// defaults, check the model, write every data line of the setup file, making
// placeholder profiles where the file skips profile numbers and erasing them
// at the end; then read the controller back as a save does and report where
// it differs from the file (the verify).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/program_dir.h"
#include "base/error_messages.h"
#include "base/outcome.h"
#include "seams/clock.h"
#include "seams/prompts.h"
#include "setup/register_access.h"
#include "setup/setup_compare.h"
#include "setup/setup_file.h"
#include "setup/setup_file_review.h"
#include "setup/setup_session.h"
#include "setup/setup_text.h"

namespace r7 {

inline constexpr std::uint32_t kRestartPauseMs = 13000;  // between the two writes of register 25
inline constexpr int kMaxPlaceholderProfile = 40;

// Lines of a setup file for registers the model's sequence files do not list.
enum class UnlistedLines {
  Ask,    // the file check asks whether to write them (default No)
  Skip,   // skipped, and the file check says so
  Write,  // written, and the file check says so
};

// How far a restore got: whether it began to change the controller (the
// return to its defaults), and the file's lines written of those it writes.
struct RestoreProgress {
  bool changed = false;
  int written = 0;
  int total = 0;
};

class RestoreSetup {
 public:
  RestoreSetup(Comms& comms, Prompts& prompts, SetupSession& session, Clock& clock,
               const ProgramDir& program_dir, int address);

  // Restores the setup file the open dialog names into the controller.
  Outcome restore_setup();
  // The 26 writes of one placeholder profile named DELETE, whatever the
  // earlier ones gave; true when the last one was answered.
  bool make_placeholder_profile(int profile);
  // The profile numbers the restore made placeholders for.
  const std::vector<int>& placeholder_profiles() const { return placeholders_; }
  // Whether the restore ends with the verify (it does unless switched off).
  void set_verify(bool on) { verify_ = on; }
  void set_unlisted_lines(UnlistedLines how) { unlisted_ = how; }
  const RestoreProgress& progress() const { return progress_; }
  // The setup file chosen (empty before the dialog).
  const std::string& file_path() const { return file_; }
  // Where the verify found the controller different from the file.
  const std::vector<SetupDifference>& verify_differences() const { return differences_; }

 private:
  struct Verified {
    Ending ending;
    std::string text;  // the closing box's line about it; empty without a verify
  };
  std::optional<Outcome> check_before_erasing(const ChosenSetupFile& chosen, bool& has_profiles);
  // The "Setup File Check" box, when it has something to say.
  void show_file_check(const SetupFileCheck& check);
  std::string skipped_lines_text(const SetupFileCheck& check) const;
  std::optional<Outcome> erase_old_settings();
  std::optional<Outcome> prepare(bool has_profiles);
  bool model_has_profiles(const std::string& model, bool& carry_on);
  Outcome write_data_lines(const TextLines& lines);
  // One data line; the ending when it ends the restore.
  std::optional<Outcome> write_data_line(const DataLine& d, int& current_profile);
  std::optional<Outcome> ensure_placeholders(int current_profile);
  void remove_placeholders();
  Verified verify(const TextLines& lines);
  std::string verify_notes() const;
  // Closes the error file and unlocks the window (and hides the progress bar).
  Outcome end(Ending ending, bool hide_progress);

  Prompts& prompts_;
  SetupSession& session_;
  Clock& clock_;
  const ProgramDir& program_dir_;
  RegisterAccess access_;
  std::string file_;  // the setup file chosen
  int model_ = 0;     // the controller's model (register 0)
  int skipped_ = 0;
  std::vector<int> placeholders_;
  bool verify_ = true;
  UnlistedLines unlisted_ = UnlistedLines::Ask;
  bool write_unlisted_ = false;
  SetupFileReview review_;
  RestoreProgress progress_;
  std::vector<SetupDifference> differences_;
};

}  // namespace r7
