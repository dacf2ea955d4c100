// Collecting replies: the end rules, the echo of an RS-485 adapter, the drain
// after a failed try.
#include <algorithm>
#include <cmath>

#include "app/line_settings.h"
#include "base/run_error.h"
#include "serial/comms.h"
#include "serial/deadline.h"
#include "serial/link_rules.h"
#include "serial/network_device.h"

namespace r7 {

using namespace link_rules;

std::string Comms::drain(int slot, double quiet_ms, double max_ms) {
  if (!slot_defined(slot)) return {};
  PortSlot& use = slots_[static_cast<std::size_t>(slot)];
  if (!use.port->is_open()) return {};
  const std::uint32_t started = clock_.tick_ms();
  Deadline limit(clock_, max_ms);
  std::string dropped;
  double last = static_cast<double>(started);
  try {
    while (!limit.expired()) {
      const double quiet = ticks_between(last, clock_.tick_ms());
      if (quiet >= quiet_ms) break;
      const double wait = std::min({quiet_ms - quiet, limit.remaining(), kSliceMs});
      if (!use.port->wait_for_input(static_cast<std::uint32_t>(std::max(std::ceil(wait), 1.0)))) {
        continue;
      }
      for (int byte = use.port->read_byte(); byte >= 0; byte = use.port->read_byte())
        dropped += static_cast<char>(byte);
      last = static_cast<double>(clock_.tick_ms());
    }
  } catch (const RunError& e) {
    // The next exchange meets the port's trouble and handles it.
    report_.error_trapped(kTransmit, e.number());
  }
  if (trace_ != nullptr && !dropped.empty()) {
    trace_->discarded(slot, use.device, dropped, clock_.tick_ms() - started);
  }
  if (!dropped.empty() && last_result_ == ExchangeResult::NoReply) late_replies_seen_ = true;
  return dropped;
}

// Collecting the reply.
//
// The end of a reply is silence on the line, but how long a silence means
// "done" depends on what is known about the reply:
//
// * Its expected length has arrived and its own check (a Modbus CRC) passes:
//   done at once. Waiting a gap more would cost a tenth of the line's time in
//   a download of short frames.
// * Its expected length has arrived, nothing checks it: done after the slot's
//   char_gap_ms of silence (1 ms at 9600 baud). A reply longer than expected
//   (FF 30 00 for a two-byte acknowledgement) is still seen whole, since its
//   last bytes follow back to back.
// * Shorter than expected, or the shape is unknown: done only after
//   max(char_gap_ms, 16 character times, 25 ms) of silence. A USB adapter hands
//   bytes over in 16 ms chunks and a UART in bursts; the char gap alone would
//   cut such replies. 9600 baud, 11 bits a character: 16 characters = 18.3 ms,
//   so 25 ms applies; 300 baud: 16 characters = 586.7 ms. Through a serial
//   device server at least kNetworkBurstSilenceMs.
//
// The time-out counts from the write and is extended by the time the request
// and the expected reply take on the wire, so the caller's figure is left for
// the controller to answer. 300 baud, one-register read: 8 bytes out = 293 ms,
// 7 bytes back = 257 ms, so a 250 ms try allows 800 ms in all. While the
// reply's length is unknown, the bytes received so far are counted instead
// (at most 260 characters, so a line that never falls silent still ends).
//
// Waiting blocks on the port in slices of at most 10 ms; a slice ends as soon
// as a byte is there.
std::string Comms::receive(PortSlot& use, double gap, float timeout_ms, std::size_t message_size,
                           const ReplyLength& expected, ExchangeResult& result, std::string start) {
  SerialPort& port = *use.port;
  const double char_ms = char_time_ms(settings_baud(use.settings).value_or(kFallbackBaud));
  const double burst_silence =
      std::max({gap, kBurstSilenceChars * char_ms, kBurstSilenceMinMs,
                is_network_device_name(use.device) ? kNetworkBurstSilenceMs : 0.0});

  std::string reply = std::move(start);
  Deadline deadline(clock_, timeout_ms + static_cast<double>(message_size) * char_ms);
  std::size_t room = 0;                        // reply characters the time-out makes room for
  std::uint32_t last_byte = clock_.tick_ms();  // tick of the last byte taken
  bool silent_since_byte = false;              // a wait since that byte found nothing
  int failures = 0;

  for (;;) {
    try {
      for (std::size_t waiting = port.bytes_waiting(); waiting > 0; --waiting) {
        const int byte = port.read_byte();
        if (byte < 0) break;
        reply += static_cast<char>(byte);
        last_byte = clock_.tick_ms();
        silent_since_byte = false;
      }
      const std::size_t length = expected ? expected(reply) : 0;
      if (length > 0 && reply.size() == length && expected.check && expected.check(reply)) break;
      const std::size_t wanted = std::min(std::max(length, reply.size()), kMaxReplyRoom);
      if (wanted > room) {
        deadline.extend(static_cast<double>(wanted - room) * char_ms);
        room = wanted;
      }
      if (deadline.expired()) break;

      double wait = std::min(deadline.remaining(), kSliceMs);
      if (!reply.empty()) {
        const bool complete = length > 0 && reply.size() >= length;
        const double silence = complete ? gap : burst_silence;
        const double quiet = ticks_between(last_byte, clock_.tick_ms());
        if (quiet >= silence && silent_since_byte) break;
        wait = std::min(wait, std::max(silence - quiet, 1.0));
      }
      const auto slice = static_cast<std::uint32_t>(std::max(std::ceil(wait), 1.0));
      if (!port.wait_for_input(slice)) silent_since_byte = true;
    } catch (const RunError& e) {
      if (!survive_failure(e, use, failures, reply, result)) break;
    }
  }
  return reply;
}

bool Comms::survive_failure(const RunError& e, PortSlot& use, int& failures, std::string& reply,
                            ExchangeResult& result) {
  const int number = e.number();
  report_.error_trapped(kTransmit, number);
  port_failed_ = true;
  if (number == err::kDeviceUnavailable) {
    reply.clear();
    result = ExchangeResult::PortUnavailable;
    return false;
  }
  const bool last_attempt = ++failures >= kStepAttempts;
  if (number != err::kDeviceIo && number != err::kDeviceIoAlt) {
    report_.error_not_handled(number);
    return !last_attempt;
  }
  if (last_attempt) return false;
  reply.clear();
  // The request went out on the line that dropped: its reply will not come on
  // the port opened again. The caller sends it again at once.
  result = reopen(kTransmit, use) ? ExchangeResult::LineDropped : ExchangeResult::PortUnavailable;
  return false;
}

}  // namespace r7
