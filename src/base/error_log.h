// The error log "Flash.ERR": one line per run-time error the serial link
// trapped. One log per program, in its program directory.
#pragma once

#include <filesystem>
#include <string>

#include "seams/clock.h"

namespace r7 {

inline constexpr const char* kErrorLogName = "Flash.ERR";

class ErrorLog {
 public:
  ErrorLog(Clock& clock, std::filesystem::path log_path);

  // Appends "mm-dd-yyyy, hh:mm:ss, procedure, ERROR #, " + blank-signed number
  // + " " + CR LF. A log that cannot be written loses the line silently.
  void log_error(const std::string& procedure, int number);

  // The log line as written, without CR LF (for tests and traces).
  std::string format_line(const std::string& procedure, int number);

  const std::filesystem::path& log_path() const { return log_path_; }

 private:
  Clock& clock_;
  std::filesystem::path log_path_;
};

}  // namespace r7
