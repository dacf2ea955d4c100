#include "serial/comms.h"

#include <algorithm>
#include <cmath>

#include "app/settings_file.h"
#include "errors/run_error.h"
#include "serial/deadline.h"
#include "serial/line_settings.h"

namespace r7 {

namespace {

constexpr const char* kOpenPort = "open_port";
constexpr const char* kTransmit = "transmit";
constexpr const char* kNoPortData = "NO PORT DATA";
constexpr int kMinPort = 1;
constexpr int kMaxPort = 4;

// A step that keeps failing is tried this often in all, then given up.
constexpr int kStepAttempts = 3;

// End-of-reply rules (see receive below).
constexpr double kSliceMs = 10.0;            // longest single wait on the port
constexpr double kBurstSilenceChars = 16.0;  // silence that ends an incomplete reply ...
constexpr double kBurstSilenceMinMs = 25.0;  // ... but never less than this
constexpr std::size_t kMaxReplyRoom = 260;   // longest reply the time-out makes room for

// Used when a settings string was replaced after start-up by one whose baud
// part cannot be read; the line is then at least as slow as this for timing.
constexpr int kFallbackBaud = 9600;

}  // namespace

const char* protocol_name(int slot) {
  switch (slot) {
    case kFullProtocolSlot:
      return "Full Protocol";
    case kModbusSlot:
      return "Modbus Protocol";
    case kXonSlot:
      return "Xon Protocol";
    default:
      return "";
  }
}

ReplyLength expect_bytes(std::size_t n) {
  return ReplyLength([n](std::string_view) { return n; });
}

Comms::Comms(std::filesystem::path settings_file, const PortNames& port_names, PortFactory& factory,
             Clock& clock, Prompts& prompts, ErrorLog& errors)
    : settings_file_(std::move(settings_file)),
      port_names_(port_names),
      factory_(factory),
      clock_(clock),
      prompts_(prompts),
      errors_(errors) {}

Comms::~Comms() {
  close_all();
}

void Comms::count_exchange(bool failed) {
  if (failed) {
    ++failing_exchanges_;
    clean_exchanges_ = 0;
  } else if (++clean_exchanges_ >= kCleanExchanges) {
    failing_exchanges_ = 0;
  }
}

bool Comms::given_up() {
  if (failing_exchanges_ < kMaxFailingExchanges) return false;
  if (!gave_up_) {
    gave_up_ = true;
    prompts_.message("The serial line keeps failing: the port was lost in " +
                         std::to_string(failing_exchanges_) +
                         " exchanges close together. Check the cable and the adapter; the job "
                         "is given up.",
                     "Serial Port", Icon::Critical);
  }
  return true;
}

void Comms::close_all() {
  failing_exchanges_ = 0;
  clean_exchanges_ = 0;
  gave_up_ = false;
  for (PortSlot& s : slots_) {
    if (s.port && s.port->is_open()) s.port->close();
  }
}

bool Comms::slot_defined(int slot) const {
  return slot >= 0 && slot <= highest_slot() && slots_[static_cast<std::size_t>(slot)].defined();
}

void Comms::init_comms() {
  close_all();
  slots_.clear();
  char_gap_ms_.fill(0);

  // Slots 0 to 3 only: a fifth slot has no inter-byte wait, so keys of slot 4
  // and above are never read.
  for (int n = 0; n < kMaxSlots; ++n) {
    const long port = read_profile_int(kCommsSection, comm_port_key(n), 0, settings_file_);
    if (port == 0) break;  // the first missing port key ends the list
    if (port < kMinPort || port > kMaxPort) {
      // The slot stays undefined; reading goes on with the next one.
      prompts_.message("Port number is not valid in sub init_comms");
      continue;
    }
    std::string settings =
        read_profile_string(kCommsSection, port_setting_key(n), kNoPortData, settings_file_);
    // The missing key's default "NO PORT DATA" has 12 characters and always
    // lands here; so does a baud part of 0 or letters, which has no wait.
    if (!settings_string_usable(settings)) {
      prompts_.message("Port settings are not valid in sub init_comms");
      settings = kDefaultSettings;
    }
    while (slots_.size() <= static_cast<std::size_t>(n)) {
      slots_.push_back(PortSlot{0, {}, factory_.create_port(), {}});
    }
    define_comms_control(n, static_cast<int>(port), settings);
    char_gap_ms_[static_cast<std::size_t>(n)] = char_gap_for_baud(*settings_baud(settings));
  }

  if (slots_.empty()) {  // no slot defined at all: slot 0 on port 2
    slots_.push_back(PortSlot{0, {}, factory_.create_port(), {}});
    define_comms_control(0, kDefaultPort, kDefaultSettings);
    char_gap_ms_[0] = char_gap_for_baud(*settings_baud(kDefaultSettings));
  }
}

void Comms::define_comms_control(int comms_control, int port_number, const std::string& settings) {
  if (port_number < kMinPort || port_number > kMaxPort) {
    prompts_.message("port_number% can only be (1 to 4) in sub define_comms_control");
    return;
  }
  if (comms_control < 0 || comms_control > highest_slot()) {
    prompts_.message("comms_control% can only be (0 to " + std::to_string(highest_slot()) +
                     ") in sub define_comms_control");
    return;
  }
  PortSlot& s = slots_[static_cast<std::size_t>(comms_control)];
  if (s.port_number != port_number && s.port->is_open()) s.port->close();
  s.port_number = port_number;
  if (s.settings != settings) set_port_settings(comms_control, settings);
}

int Comms::port_number(int slot) const {
  return slot_defined(slot) ? slots_[static_cast<std::size_t>(slot)].port_number : 0;
}

std::string Comms::port_settings(int slot) const {
  return slot_defined(slot) ? slots_[static_cast<std::size_t>(slot)].settings : std::string();
}

int Comms::char_gap_ms(int slot) const {
  return slot >= 0 && slot < kMaxSlots ? char_gap_ms_[static_cast<std::size_t>(slot)] : 0;
}

bool Comms::port_open(int slot) const {
  return slot_defined(slot) && slots_[static_cast<std::size_t>(slot)].port->is_open();
}

std::string Comms::device_name(int slot) const {
  return slot_defined(slot) ? port_names_.device_name(port_number(slot)) : std::string();
}

void Comms::set_port_settings(int slot, const std::string& settings) {
  if (slot < 0 || slot > highest_slot()) return;
  PortSlot& s = slots_[static_cast<std::size_t>(slot)];
  s.settings = settings;
  if (!s.port->is_open()) return;
  try {
    s.port->set_settings(settings);
  } catch (const RunError&) {
    // The line would run on the old settings; let the next exchange open the
    // port afresh, where a failure is reported and logged.
    s.port->close();
  }
}

void Comms::open_slot_port(PortSlot& s) {
  s.device = port_names_.device_name(s.port_number);
  s.port->set_device(s.device);
  s.port->set_settings(s.settings);
  s.port->open();
}

bool Comms::reopen(const char* procedure, PortSlot& use) {
  SerialPort& port = *use.port;
  port.close();
  try {
    open_slot_port(use);
  } catch (const RunError& e) {
    errors_.log_error(procedure, e.number());
  }
  return port.is_open();
}

Comms::Step Comms::run_step(const char* procedure, PortSlot& use,
                            const std::function<void()>& step) {
  for (int attempt = 1; attempt <= kStepAttempts; ++attempt) {
    try {
      step();
      return Step::Done;
    } catch (const RunError& e) {
      const int number = e.number();
      errors_.log_error(procedure, number);
      port_failed_ = true;
      if (number == err::kDeviceUnavailable) return Step::Unavailable;
      if (number == err::kDeviceIo || number == err::kDeviceIoAlt) {
        if (attempt == kStepAttempts) break;
        if (!reopen(procedure, use)) return Step::Unavailable;
      } else {
        errors_.show_error_message(number);
      }
    }
  }
  return Step::GaveUp;
}

int Comms::open_port(int& slot) {
  const PortSlot* chosen = choose_port(slot);
  return chosen == nullptr ? -1 : static_cast<int>(chosen - slots_.data());
}

PortSlot* Comms::choose_port(int& slot) {
  if (!slot_defined(slot)) {
    prompts_.message(std::string("This device/protocol has not been initialized. Check ") +
                     kSettingsFileName);
    slot = 0;
    if (!slot_defined(slot)) return nullptr;
  }
  const PortSlot& requested = slots_[static_cast<std::size_t>(slot)];
  // Slots are compared by the device behind their port numbers: with --port
  // or "PORT NAMES" two port numbers can name one device, and only one object
  // can hold it open.
  const std::string device = port_names_.device_name(requested.port_number);

  int chosen = slot;
  bool found = false;
  for (int i = 0; i <= highest_slot(); ++i) {
    if (i == slot) continue;
    PortSlot& other = slots_[static_cast<std::size_t>(i)];
    if (!other.defined() || !other.port->is_open() || other.device != device) continue;
    if (other.settings == requested.settings && !found) {
      chosen = i;
      found = true;
    } else {
      other.port->close();
    }
  }

  PortSlot& use = slots_[static_cast<std::size_t>(chosen)];
  const auto warn_unavailable = [&] {
    prompts_.message_box(MessageBox{
        "Cannot open comm port #" + std::to_string(use.port_number) + ", it is not available",
        "WARNING", Icon::None, Buttons::Ok, std::nullopt});
  };
  // The device may have changed behind the port number since it was opened.
  if (use.port->is_open() && use.device != device) use.port->close();
  if (!use.port->is_open()) {
    const Step opened = run_step(kOpenPort, use, [&] {
      if (!use.port->is_open()) open_slot_port(use);
    });
    if (opened == Step::Unavailable) warn_unavailable();
  }
  if (use.port->is_open()) {
    if (run_step(kOpenPort, use, [&] { use.port->clear_input(); }) == Step::Unavailable) {
      warn_unavailable();
    }
  }
  return &use;
}

std::string Comms::transmit(int slot, std::string_view message, float timeout_ms,
                            const ReplyLength& expected) {
  last_result_ = ExchangeResult::PortUnavailable;
  if (given_up()) return {};
  port_failed_ = false;
  const std::string reply = exchange(slot, message, timeout_ms, expected);
  count_exchange(port_failed_);
  return reply;
}

std::string Comms::exchange(int slot, std::string_view message, float timeout_ms,
                            const ReplyLength& expected) {
  const std::uint32_t started = clock_.tick_ms();
  PortSlot* chosen_slot = choose_port(slot);
  if (chosen_slot == nullptr) return {};
  PortSlot& use = *chosen_slot;
  SerialPort& port = *use.port;
  if (!port.is_open()) return {};

  // Bytes waiting now are no part of the reply (a late answer to an earlier
  // request among them).
  if (run_step(kTransmit, use, [&] { port.clear_input(); }) == Step::Unavailable ||
      !port.is_open()) {
    return {};
  }
  // A write that fails for good is skipped; the reception then finds nothing.
  run_step(kTransmit, use, [&] { port.write(message); });
  if (!port.is_open()) return {};
  const std::uint32_t written = clock_.tick_ms();
  last_result_ = ExchangeResult::NoReply;
  if (trace_ != nullptr) trace_->record(slot, use.device, true, message, written - started);

  const double gap = static_cast<double>(char_gap_ms(slot));
  std::string reply = receive(use, gap, timeout_ms, message.size(), expected);
  if (trace_ != nullptr) trace_->record(slot, use.device, false, reply, clock_.tick_ms() - written);
  if (last_result_ != ExchangeResult::PortUnavailable &&
      last_result_ != ExchangeResult::LineDropped) {
    last_result_ = reply.empty() ? ExchangeResult::NoReply : ExchangeResult::Reply;
  }
  return reply;
}

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
    errors_.log_error(kTransmit, e.number());
  }
  if (trace_ != nullptr && !dropped.empty()) {
    trace_->discarded(slot, use.device, dropped, clock_.tick_ms() - started);
  }
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
//   so 25 ms applies; 300 baud: 16 characters = 586.7 ms.
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
                           const ReplyLength& expected) {
  SerialPort& port = *use.port;
  const double char_ms = char_time_ms(settings_baud(use.settings).value_or(kFallbackBaud));
  const double burst_silence = std::max({gap, kBurstSilenceChars * char_ms, kBurstSilenceMinMs});

  std::string reply;
  Deadline deadline(clock_, timeout_ms + static_cast<double>(message_size) * char_ms);
  std::size_t room = 0;            // reply characters the time-out makes room for
  std::uint32_t last_byte = 0;     // tick of the last byte taken
  bool silent_since_byte = false;  // a wait since that byte found nothing
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
      if (!survive_failure(e, use, failures, reply)) break;
    }
  }
  return reply;
}

bool Comms::survive_failure(const RunError& e, PortSlot& use, int& failures, std::string& reply) {
  const int number = e.number();
  errors_.log_error(kTransmit, number);
  port_failed_ = true;
  if (number == err::kDeviceUnavailable) {
    reply.clear();
    last_result_ = ExchangeResult::PortUnavailable;
    return false;
  }
  const bool last_attempt = ++failures >= kStepAttempts;
  if (number != err::kDeviceIo && number != err::kDeviceIoAlt) {
    errors_.show_error_message(number);
    return !last_attempt;
  }
  if (last_attempt) return false;
  reply.clear();
  // The request went out on the line that dropped: its reply will not come on
  // the port opened again. The caller sends it again at once.
  last_result_ =
      reopen(kTransmit, use) ? ExchangeResult::LineDropped : ExchangeResult::PortUnavailable;
  return false;
}

}  // namespace r7
