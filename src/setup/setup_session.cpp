#include "setup/setup_session.h"

#include <algorithm>

namespace r7 {

void SetupSession::clear_errors() {
  view_.clear_errors();
  refusals_ = 0;
  refused_writes_.clear();
  refused_reads_.clear();
  error_file_.clear_pending();
}

void SetupSession::log_refusal(const std::string& reply_text, int register_no, int value) {
  const std::string reg_text = std::to_string(register_no);
  const std::string value_text = std::to_string(value);
  if (refusals_ == 0) error_file_.write_line("Response From Control\tReg No\tValue\t");
  error_file_.write_line(reply_text + "\t" + reg_text + "\t" + value_text + "\tError");
  view_.add_error(reply_text + "     " + reg_text + "             " + value_text + "    Error");
  ++refusals_;
  refused_writes_.push_back(register_no);
}

void SetupSession::log_refused_read(const std::string& reply_text, int register_no) {
  refused_reads_.push_back(register_no);
  view_.add_error(reply_text + "     " + std::to_string(register_no) +
                  "             read    Error");
}

namespace {

// "4 reads (registers 118, 4036)": each register once, the first few.
std::string refused_text(const std::vector<int>& registers, const char* what) {
  std::vector<int> distinct;
  for (const int r : registers) {
    if (std::find(distinct.begin(), distinct.end(), r) == distinct.end()) distinct.push_back(r);
  }
  std::string text = std::to_string(registers.size()) + " " + what +
                     (registers.size() == 1 ? "" : "s") +
                     (distinct.size() == 1 ? " (register " : " (registers ");
  for (std::size_t i = 0; i < distinct.size() && i < kSetupLinesListed; ++i)
    text += (i == 0 ? "" : ", ") + std::to_string(distinct[i]);
  return text + (distinct.size() > kSetupLinesListed ? ", ...)" : ")");
}

}  // namespace

std::string SetupSession::summary(const std::string& job, const Outcome& outcome) const {
  std::string text = job + ": " + ending_name(outcome.ending);
  if (!outcome.step.empty()) text += " at \"" + outcome.step + "\"";
  text += ".";
  std::vector<std::string> refused;
  if (!refused_reads_.empty()) refused.push_back(refused_text(refused_reads_, "read"));
  if (!refused_writes_.empty()) refused.push_back(refused_text(refused_writes_, "write"));
  if (!refused.empty()) {
    text += " Refused: " + refused[0] + (refused.size() > 1 ? ", " + refused[1] : "") + ".";
  }
  if (outcome.skipped > 0) {
    text += " Skipped: " + std::to_string(outcome.skipped) +
            (outcome.skipped == 1 ? " line." : " lines.");
  }
  if (refused.empty() && outcome.skipped == 0) text += " Nothing refused, nothing skipped.";
  return text;
}

}  // namespace r7
