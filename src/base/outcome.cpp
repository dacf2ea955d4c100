#include "base/outcome.h"

namespace r7 {

const char* ending_name(Ending e) {
  switch (e) {
    case Ending::Completed:
      return "completed";
    case Ending::Declined:
      return "declined";
    case Ending::Cancelled:
      return "cancelled";
    case Ending::NoController:
      return "no controller";
    case Ending::Unrecognised:
      return "unrecognised";
    case Ending::FileProblem:
      return "file problem";
    case Ending::ModelMismatch:
      return "model mismatch";
    case Ending::SoftwareMismatch:
      return "software mismatch";
    case Ending::Failed:
      return "failed";
    case Ending::Differs:
      return "differs";
    case Ending::NotPossible:
      return "not possible";
  }
  return "";
}

}  // namespace r7
