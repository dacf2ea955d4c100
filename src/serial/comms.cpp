#include "serial/comms.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "app/line_settings.h"
#include "base/run_error.h"
#include "os/os.h"
#include "serial/deadline.h"
#include "serial/link_rules.h"
#include "serial/network_device.h"

namespace r7 {

using namespace link_rules;

ReplyLength expect_bytes(std::size_t n) {
  return ReplyLength([n](std::string_view) { return n; });
}

Comms::Comms(const PortNames& port_names, PortFactory& factory, Clock& clock, LinkReport& report)
    : port_names_(port_names), factory_(factory), clock_(clock), report_(report) {}

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
    report_.line_given_up(failing_exchanges_);
  }
  return true;
}

void Comms::close_all() {
  echo_.clear();
  unavailable_told_.clear();
  undefined_told_.clear();
  late_replies_seen_ = false;
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

void Comms::init_comms(const ProtocolSlots& read) {
  close_all();
  slots_.clear();
  char_gap_ms_.fill(0);
  for (const SlotProblem problem : read.problems)
    report_.slot_problem(problem);
  for (const SlotDefinition& d : read.definitions) {
    if (slots_.size() == kMaxSlots) break;
    const std::size_t n = slots_.size();
    slots_.push_back(PortSlot{d.port_number, d.settings, factory_.create_port(), {}});
    if (!d.defined()) continue;
    // Settings strings that init_comms is given always have a baud part.
    char_gap_ms_[n] = char_gap_for_baud(settings_baud(d.settings).value_or(kFallbackBaud));
  }
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
    report_.error_trapped(procedure, e.number());
    if (e.number() == err::kDeviceUnavailable) unavailable_reason_ = e.what();
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
      report_.error_trapped(procedure, number);
      port_failed_ = true;
      if (number == err::kDeviceUnavailable) {
        unavailable_reason_ = e.what();
        return Step::Unavailable;
      }
      if (number == err::kDeviceIo || number == err::kDeviceIoAlt) {
        if (attempt == kStepAttempts) break;
        if (!reopen(procedure, use)) return Step::Unavailable;
      } else {
        report_.error_not_handled(number);
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
    if (undefined_told_.insert(slot).second) {
      report_.slot_not_initialized(slot, slot_defined(0)
                                             ? "port " + std::to_string(port_number(0)) + " (" +
                                                   device_name(0) + "), " + port_settings(0)
                                             : std::string());
    }
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
  // Said once a job for each port, with the cause the system shows.
  const auto warn_unavailable = [&] {
    if (!unavailable_told_.insert(use.port_number).second) return;
    // A network address's own message names host, port and what went wrong.
    report_.port_unavailable(use.port_number, is_network_device_name(use.device)
                                                  ? unavailable_reason_
                                                  : os::serial_device_problem(use.device));
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

Exchange Comms::transmit(int slot, std::string_view message, float timeout_ms,
                         const ReplyLength& expected) {
  const auto stop_when_asked = [this] {
    if (stop_flag_ == nullptr || std::uncaught_exceptions() != 0) return;
    if (const int signal = stop_flag_->load(); signal != 0) throw JobStopped(signal);
  };
  stop_when_asked();
  if (given_up()) {
    port_available_ = false;
    return Exchange{{}, ExchangeResult::PortUnavailable};
  }
  port_failed_ = false;
  Exchange done = exchange(slot, message, timeout_ms, expected);
  // A signal that came while the reply was awaited may have cut the wait short:
  // a missing reply then is the stop's, not the controller's.
  if (done.result != ExchangeResult::Reply) stop_when_asked();
  last_result_ = done.result;
  count_exchange(port_failed_);
  port_available_ = done.result != ExchangeResult::PortUnavailable;
  return done;
}

Exchange Comms::exchange(int slot, std::string_view message, float timeout_ms,
                         const ReplyLength& expected) {
  const Exchange unavailable{{}, ExchangeResult::PortUnavailable};
  const std::uint32_t started = clock_.tick_ms();
  PortSlot* chosen_slot = choose_port(slot);
  if (chosen_slot == nullptr) return unavailable;
  PortSlot& use = *chosen_slot;
  SerialPort& port = *use.port;
  if (!port.is_open()) return unavailable;

  // Bytes waiting now are no part of the reply (a late answer to an earlier
  // request among them).
  if (run_step(kTransmit, use, [&] { port.clear_input(); }) == Step::Unavailable ||
      !port.is_open()) {
    return unavailable;
  }
  // A write that fails for good is skipped; the reception then finds nothing.
  run_step(kTransmit, use, [&] { port.write(message); });
  if (!port.is_open()) return unavailable;
  const std::uint32_t written = clock_.tick_ms();
  if (trace_ != nullptr) trace_->record(slot, use.device, true, message, written - started);

  const double gap = static_cast<double>(char_gap_ms(slot));
  Exchange done;
  done.result = ExchangeResult::NoReply;
  done.reply = echo_state(use.device) == EchoState::Absent
                   ? receive(use, gap, timeout_ms, message.size(), expected, done.result)
                   : receive_after_echo(slot, use, gap, timeout_ms, message, expected, done.result);
  if (trace_ != nullptr) {
    trace_->record(slot, use.device, false, done.reply, clock_.tick_ms() - written);
  }
  if (done.result == ExchangeResult::NoReply && !done.reply.empty()) {
    done.result = ExchangeResult::Reply;
  }
  return done;
}

SlotSettingsOverride::SlotSettingsOverride(Comms& comms, int slot, const std::string& settings)
    : comms_(comms), slot_(slot), saved_(comms.port_settings(slot)) {
  comms_.set_port_settings(slot_, settings);
}

SlotSettingsOverride::~SlotSettingsOverride() {
  comms_.set_port_settings(slot_, saved_);
}

}  // namespace r7
