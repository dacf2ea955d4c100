// Messages for run-time error numbers and the "Flash.ERR" error log.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "errors/clock.h"
#include "errors/prompts.h"

namespace r7 {

// The message for a listed error number; nullopt for numbers outside the table.
// `file` fills the name part of error 53.
std::optional<std::string> error_message_text(int number, const std::string& file = {});

class ErrorLog {
 public:
  // `log_path` is "Flash.ERR" in the current directory unless a caller names another.
  ErrorLog(Prompts& prompts, Clock& clock, std::filesystem::path log_path = "Flash.ERR");

  // Appends "mm-dd-yyyy, hh:mm:ss, procedure, ERROR #, " + blank-signed number
  // + " " + CR LF. A log that cannot be written loses the line silently.
  void log_error(const std::string& procedure, int number);

  // Shows the message for `number` in an OK-only box without a title of its own.
  // Numbers outside the table show "ERROR NUMBER n CHECK VB MANUAL FOR
  // DESCRIPTION" and then throw ProgramEnd: the program cannot go on.
  void show_error_message(int number, const std::string& file = {});

  // The log line as written, without CR LF (for tests and traces).
  std::string format_line(const std::string& procedure, int number);

  const std::filesystem::path& log_path() const { return log_path_; }

 private:
  Prompts& prompts_;
  Clock& clock_;
  std::filesystem::path log_path_;
};

}  // namespace r7
