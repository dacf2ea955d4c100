// Single-register reads and writes of the setup window, with the "Comm Error!"
// Retry/Cancel question when the controller does not answer, the logging of
// refused writes, and the return to the defaults.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "modbus/register_client.h"
#include "seams/prompts.h"
#include "serial/link_report.h"
#include "setup/setup_session.h"

namespace r7 {

inline constexpr int kSetupReadTries = 3;
inline constexpr int kSetupWriteTries = 5;

// A read of one register.
struct ValueRead {
  enum class Kind {
    Value,     // `value` holds it
    Refused,   // exception reply; `exception_code` says which
    NoAnswer,  // nothing usable came back (or the user gave up asking again)
  };
  Kind kind = Kind::NoAnswer;
  std::int16_t value = 0;
  int exception_code = 0;

  bool has_value() const { return kind == Kind::Value; }
  bool answered() const { return kind != Kind::NoAnswer; }
  // No value to save: a read refused with exception code 0, 1 or 2.
  bool nothing_to_save() const { return kind == Kind::Refused && exception_code <= 2; }
  // The value as a setup file writes it: the decimal value, or for a refusal
  // the code as the reply shows it ("-32003"); "ERROR" without an answer.
  std::string text() const;
};

// How a write ended.
enum class WriteResult { Acknowledged, Refused, NoAnswer };

class RegisterAccess {
 public:
  RegisterAccess(Comms& comms, Prompts& prompts, SetupSession& session, int address)
      : comms_(comms), client_(comms), prompts_(prompts), session_(session), address_(address) {}

  // The message that ends a job for want of an answer, with why when the
  // controller answered too late.
  std::string no_answer_text(const std::string& message) const {
    return message + late_reply_advice(comms_.late_replies_seen());
  }

  int address() const { return address_; }

  // One register, three requests at most while nothing (usable) comes back.
  ValueRead read_value(int register_no);
  // After a read that got no answer: asks "Comm Error!" (Retry/Cancel) and
  // reads again on Retry until one is answered; NoAnswer when the user gave up.
  ValueRead ask_and_read_again(int register_no);
  // read_value, then ask_and_read_again when nothing came back.
  ValueRead read_value_or_ask(int register_no);
  // One write, five requests at most while nothing (usable) comes back. A
  // refusal with exception 2 or 3 is logged in the error list and file.
  // Profile commands (4002) are not idempotent: before one is sent again after
  // a lost reply, register 4003 tells whether it took effect.
  WriteResult write_value(int register_no, int value);
  // A write that, when nothing comes back, asks "Comm Error!" and writes again
  // on Retry; true when the user gave up.
  bool write_given_up(int register_no, int value);
  // The question after a write that was not answered: true when given up.
  bool ask_write_retry(int register_no, int value);
  // Returns the controller to its defaults (1602 := 800) and waits until it
  // answers again with 1300 = 0; `old_value` is what 1300 read before.
  bool return_to_defaults(const ValueRead& old_value);

  // "Comm Error!" with Retry and Cancel (and the other texts the jobs use).
  Answer ask_comm_error(const std::string& text = "Comm Error!");

 private:
  enum class Effect { Taken, NotTaken, Unknown };
  // Whether profile command `command` (4002's value) took effect, judged by
  // the type of the selected step as the jobs use the commands: a create
  // leaves the new profile's end step selected, an insert a new step before
  // the end step, a delete the end step again, an erase no profile at all.
  Effect command_effect(int command);

  Comms& comms_;
  RegisterClient client_;
  Prompts& prompts_;
  SetupSession& session_;
  int address_;
  // A profile command that got no answer, until it is known to have taken effect.
  std::optional<int> unconfirmed_command_;
};

}  // namespace r7
