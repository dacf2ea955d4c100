// What the setup window keeps between its saves and restores: the history and
// error lists, and the error file of the running job.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "base/outcome.h"
#include "modbus/registers.h"
#include "seams/setup_view.h"
#include "setup/setup_file.h"

namespace r7 {

class SetupSession {
 public:
  explicit SetupSession(SetupView& view) : view_(view) {}

  SetupView& view() { return view_; }

  // Appends a line to the history list.
  void show(const std::string& line) { view_.add_history(line); }
  // "Clear" beside the history list.
  void clear_history() { view_.clear_history(); }
  // "Clear" beside the error list (also the start of every save and restore):
  // the list, its count, and refusals kept for an error file not yet open.
  void clear_errors();

  // A write the controller refused (exception 2 or 3): a line in the error
  // list and in the error file, the file's heading line before the first one.
  void log_refusal(const std::string& reply_text, int register_no, int value);
  // A read the controller refused (the register is not in the file): a line
  // in the error list; writes alone go to the error file and the count.
  void log_refused_read(const std::string& reply_text, int register_no);
  // Refused writes listed since the error list was last cleared.
  int refusals() const { return refusals_; }
  // What a job did, for the window's summary: "Save to FILE: completed.
  // Refused: 4 reads (registers 118, 4036), 3 writes (register 4000)." with the
  // skipped lines of a restore, or "Nothing refused, nothing skipped."
  std::string summary(const std::string& job, const Outcome& outcome) const;

  // The running job's error file: created empty (RunError 75/76 when it
  // cannot be), closed at the job's end, or removed when nothing was refused.
  void create_error_file(const std::filesystem::path& file) { error_file_.create(file); }
  void close_error_file() { error_file_.close(); }
  void remove_error_file() { error_file_.remove(); }

  // Locks the window (and shows the busy pointer through the job's prompts).
  void lock(bool locked) { view_.set_window_enabled(!locked); }

 private:
  SetupView& view_;
  int refusals_ = 0;
  std::vector<int> refused_writes_;  // registers, since the error list was cleared
  std::vector<int> refused_reads_;
  ErrorStream error_file_;
};

}  // namespace r7
