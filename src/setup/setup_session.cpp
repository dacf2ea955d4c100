#include "setup/setup_session.h"

namespace r7 {

void SetupSession::clear_errors() {
  view_.clear_errors();
  refusals_ = 0;
  error_file_.clear_pending();
}

void SetupSession::log_refusal(const std::string& reply_text, int register_no, int value) {
  const std::string reg_text = std::to_string(register_no);
  const std::string value_text = std::to_string(value);
  if (refusals_ == 0) error_file_.write_line("Response From Control\tReg No\tValue\t");
  error_file_.write_line(reply_text + "\t" + reg_text + "\t" + value_text + "\tError");
  view_.add_error(reply_text + "     " + reg_text + "             " + value_text + "    Error");
  ++refusals_;
}

void SetupSession::log_refused_read(const std::string& reply_text, int register_no) {
  view_.add_error(reply_text + "     " + std::to_string(register_no) +
                  "             read    Error");
}

}  // namespace r7
