// What the serial link has to tell the user and the error log. The link only
// moves bytes and reports what happened through this; the program decides how
// it is shown.
#pragma once

#include "app/protocol_slots.h"
#include "base/error_log.h"
#include "seams/prompts.h"

namespace r7 {

// The second line of a "no response" message when the controller's replies
// came, but after the time-out; "" otherwise.
std::string late_reply_advice(bool late_replies_seen);

class LinkReport {
 public:
  virtual ~LinkReport() = default;
  // A problem met reading the protocol slots from the settings file.
  virtual void slot_problem(SlotProblem problem) = 0;
  // An exchange was asked of `requested`, a slot that is not defined; slot 0
  // stands in when `stand_in` names its device and settings ("" when slot 0
  // is not defined either). Told once a job for each slot.
  virtual void slot_not_initialized(int requested, const std::string& stand_in) = 0;
  // The port of `port_number` cannot be opened, or was lost and cannot be
  // opened again; `cause` says why when the system shows it ("" otherwise).
  virtual void port_unavailable(int port_number, const std::string& cause) = 0;
  // A run-time error trapped in `procedure` ("open_port", "transmit").
  virtual void error_trapped(const char* procedure, int number) = 0;
  // A trapped error that the link does not act on by itself (not 57, 68, 69):
  // the user is told its message. May throw ProgramEnd (show_error_message).
  virtual void error_not_handled(int number) = 0;
  // The port failed in `failing_exchanges` exchanges close together: the job
  // is given up. Told once until the ports are closed.
  virtual void line_given_up(int failing_exchanges) = 0;
};

// The link's messages in boxes, trapped errors in the error log.
class PromptedLinkReport final : public LinkReport {
 public:
  PromptedLinkReport(Prompts& prompts, ErrorLog& log) : prompts_(prompts), log_(log) {}

  void slot_problem(SlotProblem problem) override;
  void slot_not_initialized(int requested, const std::string& stand_in) override;
  void port_unavailable(int port_number, const std::string& cause) override;
  void error_trapped(const char* procedure, int number) override;
  void error_not_handled(int number) override;
  void line_given_up(int failing_exchanges) override;

 private:
  Prompts& prompts_;
  ErrorLog& log_;
};

}  // namespace r7
