// Exit statuses of r7flash-cli, and the one table that turns a job's outcome
// into one.
#pragma once

#include "base/outcome.h"

namespace r7::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;         // usage error or not available
inline constexpr int kExitNoController = 2;  // controller did not answer or is not recognised
inline constexpr int kExitFile = 3;          // a file is missing, unreadable or invalid
inline constexpr int kExitCancelled = 4;     // cancelled, or a question answered No
inline constexpr int kExitFailed = 5;        // a transfer or a write failed
inline constexpr int kExitPort = 6;          // the serial port could not be opened
inline constexpr int kExitDiffers = 7;       // compare: the setup file and the controller differ

// `port_unavailable`: the last exchange found the serial port unusable, which
// is what a controller that "did not answer" or a failed step then means.
constexpr int exit_status(const Outcome& outcome, bool port_unavailable) {
  switch (outcome.ending) {
    case Ending::Completed:
      if (outcome.refused > 0) return kExitFailed;  // the controller refused writes
      return outcome.skipped > 0 ? kExitFile : kExitOk;
    case Ending::Declined:
    case Ending::Cancelled:
      return kExitCancelled;
    case Ending::NoController:
    case Ending::Unrecognised:
      return port_unavailable ? kExitPort : kExitNoController;
    case Ending::FileProblem:
    case Ending::ModelMismatch:
    case Ending::SoftwareMismatch:
      return kExitFile;
    case Ending::Failed:
      return port_unavailable ? kExitPort : kExitFailed;
    case Ending::Differs:
      return kExitDiffers;
    case Ending::NotPossible:
      return kExitUsage;
  }
  return kExitFailed;
}

// How bad an exit status is, for the worst of several stations (higher is
// worse): stopped by a signal, a transfer or a write failed, the port, no
// controller, a file, a usage error, the controller differs, cancelled, done.
constexpr int exit_severity(int status) {
  switch (status) {
    case kExitOk:
      return 0;
    case kExitCancelled:
      return 1;
    case kExitDiffers:
      return 2;
    case kExitUsage:
      return 3;
    case kExitFile:
      return 4;
    case kExitNoController:
      return 5;
    case kExitPort:
      return 6;
    case kExitFailed:
      return 7;
    default:
      return 8;  // 128 + N after a signal
  }
}

constexpr int worst_exit_status(int a, int b) {
  return exit_severity(b) > exit_severity(a) ? b : a;
}

}  // namespace r7::cli
