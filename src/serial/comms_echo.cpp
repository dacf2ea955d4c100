// The echo of an RS-485 adapter that hears its own transmitter.
//
// On a line that echoes, what arrives after a write begins with the bytes
// written; they are taken off and the reply is read after them, its time-out
// counted from the end of the echo. Whether a device's line echoes is found
// out by itself:
//
// * The bytes depart from the request before its end: no echo (a Modbus read
//   reply "01 03 02 ..." departs from its request "01 03 00 ..." at the third
//   byte). So does the beginning of the request followed by silence (an
//   acknowledgement FF 30 of FF 30 00 2F): the PC's own transmitter never
//   stops half-way.
// * The whole request came back, and it cannot be the reply (its shape says
//   so): an echo.
// * The whole request came back and could itself be the reply (a Modbus
//   write is answered with a copy of itself): an echo only if a reply follows;
//   nothing is decided otherwise.
//
// Once a line is known to echo, an echo that departs or stops short is a
// damaged reply: thrown away, so that it is never taken for an answer.
#include "serial/comms.h"
#include "serial/echo.h"

namespace r7 {

EchoMatch match_echo(std::string_view sent, std::string_view received) {
  const std::size_t n = std::min(sent.size(), received.size());
  if (sent.substr(0, n) != received.substr(0, n)) return EchoMatch::Departs;
  return received.size() >= sent.size() ? EchoMatch::Whole : EchoMatch::Prefix;
}

namespace {

// Whether `bytes` are a whole reply of the expected shape.
bool whole_reply(std::string_view bytes, const ReplyLength& expected) {
  const std::size_t length = expected ? expected(bytes) : 0;
  return length > 0 && bytes.size() == length && (!expected.check || expected.check(bytes));
}

// The shape of the echo: the request's length. Bytes that depart from it end
// the echo at once; the reply is then read on from them. Until a byte comes
// the time-out is the reply's as on a direct line.
ReplyLength echo_shape(std::string_view sent) {
  const std::string copy(sent);
  const auto departs = [copy](std::string_view received) {
    return match_echo(copy, received) == EchoMatch::Departs;
  };
  return ReplyLength(
      [copy, departs](std::string_view received) -> std::size_t {
        if (received.empty()) return 0;  // the echo is on the wire with the request
        return departs(received) ? received.size() : copy.size();
      },
      [copy, departs](std::string_view received) { return received == copy || departs(received); });
}

}  // namespace

void Comms::set_echo_mode(EchoMode mode) {
  echo_mode_ = mode;
  echo_.clear();
}

EchoState Comms::echo_state(const std::string& device) const {
  if (echo_mode_ != EchoMode::Auto) {
    return echo_mode_ == EchoMode::On ? EchoState::Present : EchoState::Absent;
  }
  const auto it = echo_.find(device);
  return it == echo_.end() ? EchoState::Unknown : it->second;
}

void Comms::learn_echo(const std::string& device, EchoState state) {
  if (echo_mode_ == EchoMode::Auto) echo_[device] = state;
}

std::string Comms::receive_after_echo(int slot, PortSlot& use, double gap, float timeout_ms,
                                      std::string_view message, const ReplyLength& expected,
                                      ExchangeResult& result) {
  const EchoState known = echo_state(use.device);
  const std::uint32_t written = clock_.tick_ms();
  std::string came = receive(use, gap, timeout_ms, message.size(), echo_shape(message), result);
  // The port failed, or nothing came within the whole time-out.
  if (port_failed_ || came.empty()) return came;
  const std::uint32_t echo_ms = clock_.tick_ms() - written;
  const EchoMatch match = match_echo(message, came);
  const auto thrown_away = [&](std::string bytes) {
    if (trace_ != nullptr) trace_->discarded(slot, use.device, bytes, clock_.tick_ms() - written);
    return std::string();
  };

  if (match != EchoMatch::Whole) {
    if (known == EchoState::Present) {
      // A damaged or cut echo: whatever follows is no reply either.
      if (match == EchoMatch::Departs) came = receive(use, gap, timeout_ms, 0, {}, result, came);
      return came.empty() ? came : thrown_away(came);
    }
    if (!came.empty()) learn_echo(use.device, EchoState::Absent);
    return receive(use, gap, timeout_ms, 0, expected, result, came);
  }

  std::string reply =
      receive(use, gap, timeout_ms, 0, expected, result, came.substr(message.size()));
  // A copy of the request that could itself be the reply is an echo only
  // when a whole reply follows it.
  const bool echo = known == EchoState::Present || !whole_reply(message, expected) ||
                    whole_reply(reply, expected);
  if (!echo) return std::string(message) + reply;
  learn_echo(use.device, EchoState::Present);
  if (trace_ != nullptr) trace_->echoed(slot, use.device, message, echo_ms);
  return reply;
}

}  // namespace r7
