#include "modbus/register_client.h"

#include <array>

#include "base/run_error.h"

namespace r7 {

namespace {

// A line that keeps talking after a failed try is given up on after this.
constexpr double kMaxDrainMs = 1000;
constexpr double kAfterWrongReplyMs = 50;

RegisterError failure(RegisterFailure kind, std::string reply = {}, int code = 0) {
  return RegisterError{kind, code, std::move(reply)};
}

// A request that cannot be framed is a fault of the caller, not of the line.
std::string framed(Expected<std::string, std::string> request) {
  if (!request) throw RunError(err::kIllegalFunctionCall, request.error());
  return std::move(request.value());
}

}  // namespace

bool RegisterClient::repeated(const RegisterError& e, Repeat repeat) {
  // A port that could not be opened is tried again like a silent line: the
  // device may be back at the next open.
  const bool silent =
      e.failure == RegisterFailure::NoReply || e.failure == RegisterFailure::PortFailure;
  return silent || (repeat == Repeat::WhenSilentOrDamaged && e.failure == RegisterFailure::Damaged);
}

RegisterResult<std::vector<std::int16_t>> RegisterClient::exchange(const std::string& request,
                                                                   int expected_count) {
  ExchangeResult ended = ExchangeResult::NoReply;
  auto result = check_reply(request, expected_count, ended);
  // Modbus RTU carries no transaction number: a reply that comes after its
  // try gave up would be taken for the answer to the next request. Let it come
  // and go first; after a reply that did not fit, let what follows it go.
  if (!result && result.error().failure == RegisterFailure::NoReply &&
      ended != ExchangeResult::LineDropped) {
    comms_.drain(kModbusSlot, kModbusTimeoutMs, kMaxDrainMs);
  } else if (!result && result.error().failure == RegisterFailure::Damaged) {
    comms_.drain(kModbusSlot, kAfterWrongReplyMs, kMaxDrainMs);
  }
  return result;
}

RegisterResult<std::vector<std::int16_t>> RegisterClient::check_reply(const std::string& request,
                                                                      int expected_count,
                                                                      ExchangeResult& ended) {
  Exchange done = comms_.transmit(kModbusSlot, request, kModbusTimeoutMs,
                                  ReplyLength(modbus_reply_length, modbus_reply_complete));
  ended = done.result;
  last_reply_ = std::move(done.reply);
  const std::string& reply = last_reply_;
  if (reply.empty()) {
    return unexpected(failure(ended == ExchangeResult::PortUnavailable
                                  ? RegisterFailure::PortFailure
                                  : RegisterFailure::NoReply));
  }
  const DecodedReply d = decode_modbus_reply(reply);
  using Status = DecodedReply::Status;
  if (d.status == Status::WrongLength || d.status == Status::BadCrc) {
    return unexpected(failure(RegisterFailure::Damaged, reply));
  }
  const bool same_address = reply[0] == request[0];
  const auto function = static_cast<unsigned char>(reply[1]);
  const auto asked = static_cast<unsigned char>(request[1]);
  if (!same_address || (function & 0x7FU) != asked) {
    return unexpected(failure(RegisterFailure::Damaged, reply));
  }
  if (d.status == Status::Exception) {
    return unexpected(failure(RegisterFailure::Refused, reply, d.exception_code));
  }
  if (expected_count > 0 ? d.values.size() != static_cast<std::size_t>(expected_count)
                         : reply.compare(0, 6, request, 0, 6) != 0) {
    return unexpected(failure(RegisterFailure::Damaged, reply));
  }
  return d.values;
}

RegisterResult<std::vector<std::int16_t>> RegisterClient::read_registers(int address,
                                                                         int register_no, int count,
                                                                         int tries, Repeat repeat) {
  const std::array<long, 1> quantity{count};
  const std::string request =
      framed(build_modbus_request(kReadHoldingRegisters, address, register_no, quantity));
  RegisterResult<std::vector<std::int16_t>> result = unexpected(failure(RegisterFailure::NoReply));
  for (int attempt = 0; attempt < tries; ++attempt) {
    result = exchange(request, count);
    if (result || !repeated(result.error(), repeat)) break;
  }
  return result;
}

RegisterResult<void> RegisterClient::write_register(int address, int register_no,
                                                    std::int16_t value, int tries, Repeat repeat) {
  const std::array<long, 1> values{value};
  const std::string request =
      framed(build_modbus_request(kWriteSingleRegister, address, register_no, values));
  for (int attempt = 0;; ++attempt) {
    auto result = exchange(request, 0);
    if (result) return {};
    if (attempt + 1 >= tries || !repeated(result.error(), repeat)) {
      return unexpected(result.error());
    }
  }
}

}  // namespace r7
