#include "setup/register_access.h"

#include "base/run_error.h"
#include "modbus/registers.h"

namespace r7 {

namespace {

// Polls of 1300 while the controller returns to its defaults; each takes up to
// three 250 ms tries, so about 10 s in all.
constexpr int kDefaultsPolls = 13;
constexpr int kExceptionBase = -32000;

}  // namespace

std::string ValueRead::text() const {
  switch (kind) {
    case Kind::Value:
      return std::to_string(value);
    case Kind::Refused:
      return std::to_string(kExceptionBase - exception_code);
    case Kind::NoAnswer:
      return "ERROR";
  }
  return {};
}

ValueRead RegisterAccess::read_value(int register_no) {
  const auto r = client_.read_registers(address_, register_no, 1, kSetupReadTries,
                                        Repeat::WhenSilentOrDamaged);
  ValueRead read;
  if (r) {
    read.kind = ValueRead::Kind::Value;
    read.value = r->front();
  } else if (r.error().failure == RegisterFailure::Refused) {
    read.kind = ValueRead::Kind::Refused;
    read.exception_code = r.error().exception_code;
  }
  return read;
}

ValueRead RegisterAccess::ask_and_read_again(int register_no) {
  while (ask_comm_error() == Answer::Retry) {
    const ValueRead read = read_value(register_no);
    if (read.answered()) return read;
  }
  return ValueRead{};
}

ValueRead RegisterAccess::read_value_or_ask(int register_no) {
  const ValueRead read = read_value(register_no);
  return read.answered() ? read : ask_and_read_again(register_no);
}

RegisterAccess::Effect RegisterAccess::command_effect(int command) {
  const ValueRead type = read_value(reg::kStepType);
  if (!type.answered()) return Effect::Unknown;
  const int t = type.kind == ValueRead::Kind::Value ? type.value : -1;
  switch (command) {
    case reg::kProfileCreate:
      return t >= 0 ? Effect::Taken : Effect::NotTaken;
    case reg::kProfileEditA:  // insert a step
      return t != reg::kStepTypeEnd ? Effect::Taken : Effect::NotTaken;
    case reg::kProfileErase:
      return t < 0 ? Effect::Taken : Effect::NotTaken;
    case reg::kProfileEditB:  // delete the selected step
      return t == reg::kStepTypeEnd ? Effect::Taken : Effect::NotTaken;
    default:
      return Effect::NotTaken;
  }
}

WriteResult RegisterAccess::write_value(int register_no, int value) {
  if (value < -32768 || value > 32767) throw RunError(err::kIllegalFunctionCall, kBadDataValue);
  const bool once_only = register_no == reg::kProfileCommand;
  bool may_have_taken = once_only && unconfirmed_command_ == value;
  unconfirmed_command_.reset();
  for (int attempt = 0; attempt < kSetupWriteTries; ++attempt) {
    if (may_have_taken) {
      const Effect effect = command_effect(value);
      if (effect == Effect::Taken) return WriteResult::Acknowledged;
      if (effect == Effect::Unknown) continue;  // never send it blindly again
    }
    const auto r = client_.write_register(address_, register_no, static_cast<std::int16_t>(value));
    if (r) return WriteResult::Acknowledged;
    const RegisterError& e = r.error();
    if (e.failure == RegisterFailure::Refused) {
      if (e.exception_code == 2 || e.exception_code == 3) {
        session_.log_refusal(e.text(), register_no, value);
      }
      return WriteResult::Refused;
    }
    may_have_taken = once_only;
  }
  if (may_have_taken) unconfirmed_command_ = value;
  return WriteResult::NoAnswer;
}

bool RegisterAccess::ask_write_retry(int register_no, int value) {
  while (ask_comm_error() == Answer::Retry) {
    if (write_value(register_no, value) != WriteResult::NoAnswer) return false;
  }
  return true;
}

bool RegisterAccess::write_given_up(int register_no, int value) {
  if (write_value(register_no, value) != WriteResult::NoAnswer) return false;
  return ask_write_retry(register_no, value);
}

bool RegisterAccess::return_to_defaults(const ValueRead& old_value) {
  if (old_value.has_value() && old_value.value == 0) write_value(reg::kDefaultsFlag, 1);
  // The controller drops off the link while it returns to its defaults, so
  // the reply to this write is not looked at.
  (void)client_.write_register(address_, reg::kDefaultsCommand, reg::kDefaultsValue);
  // A controller that keeps answering did not go through its reset: no
  // polling then, and no success.
  if (read_value(reg::kDefaultsFlag).answered()) return false;
  for (int polls = 0; polls < kDefaultsPolls; ++polls) {
    const ValueRead flag = read_value(reg::kDefaultsFlag);
    if (flag.has_value() && flag.value == 0) return true;
  }
  return false;
}

Answer RegisterAccess::ask_comm_error(const std::string& text) {
  if (comms_.line_given_up()) return Answer::Cancel;  // its message has been shown
  return prompts_.message_box(MessageBox{text, "Communication Error", Icon::Exclamation,
                                         Buttons::RetryCancel, std::nullopt});
}

}  // namespace r7
