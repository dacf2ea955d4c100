// What a job reports when it ends: how it ended and what the user should
// look at. The command line turns it into an exit status; the windows have
// already shown it.
#pragma once

#include <string>
#include <utility>

namespace r7 {

enum class Ending {
  Completed,
  Declined,          // the first question answered No; nothing was done
  Cancelled,         // a dialog cancelled, a question answered No, a retry given up
  NoController,      // the controller did not answer
  Unrecognised,      // it answered, but is not a controller this tool knows
  FileProblem,       // a file missing, unreadable or invalid
  ModelMismatch,     // the setup file was saved from another model
  SoftwareMismatch,  // the firmware file's software number does not fit the controller
  Failed,            // a transfer step or a write failed, or a run-time error ended it
  Differs,           // a compare found the setup file and the controller different
  NotPossible,       // the line cannot carry the job (a download over raw TCP); nothing was sent
};

struct Outcome {
  Outcome() = default;
  explicit Outcome(Ending how, std::string failed_step = {})
      : ending(how), step(std::move(failed_step)) {}

  Ending ending = Ending::Completed;
  int refused = 0;       // writes the controller refused (listed under Read/Write Errors)
  int skipped = 0;       // lines of a setup file that were not written
  int differences = 0;   // between a setup file and the controller (compare, verify)
  std::string step;      // the step that failed, when one did
  int error_number = 0;  // the run-time error that ended the job, 0 when none

  bool completed() const { return ending == Ending::Completed; }
};

// A setup file a job wrote, and the values the controller refused in it.
struct WrittenFile {
  std::string path;
  int refused = 0;
};

// "completed", "failed", "no controller", ...: an ending in words.
const char* ending_name(Ending e);

}  // namespace r7
