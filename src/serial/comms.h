// The serial link: the protocol slots' port objects and the timed exchange
// that every message to a controller goes through. It moves bytes; what
// happens on the way is told to a LinkReport.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "app/port_names.h"
#include "app/protocol_slots.h"
#include "base/run_error.h"
#include "seams/clock.h"
#include "seams/serial_port.h"
#include "serial/echo.h"
#include "serial/link_report.h"
#include "serial/trace.h"

namespace r7 {

// The expected shape of a reply.
struct ReplyLength {
  ReplyLength() = default;
  // Any function of the bytes so far giving the total length is a shape.
  template <class Total,
            class = std::enable_if_t<std::is_invocable_r_v<std::size_t, Total, std::string_view>>>
  ReplyLength(Total total, std::function<bool(std::string_view)> whole = {})  // NOLINT
      : length(std::move(total)), check(std::move(whole)) {}

  explicit operator bool() const { return static_cast<bool>(length); }
  std::size_t operator()(std::string_view received) const { return length(received); }

  // Given the bytes received so far, the total length the reply will have, or
  // 0 while that cannot be told yet. Empty: the shape is unknown.
  std::function<std::size_t(std::string_view)> length;
  // A reply of that length that passes this check (its CRC) is complete at
  // once, without waiting for the line to fall silent after it.
  std::function<bool(std::string_view)> check;
};

// A reply of exactly `n` bytes (a bootloader acknowledgement is 2).
ReplyLength expect_bytes(std::size_t n);

// One protocol slot's port object. A slot left out of the settings file (its
// port number was not valid while later slots were) keeps port number 0.
struct PortSlot {
  int port_number = 0;   // 1..4, 0 when the slot is not defined
  std::string settings;  // "9600,N,8,1"
  std::unique_ptr<SerialPort> port;
  std::string device;  // the device the port was last opened on

  bool defined() const { return port_number != 0; }
};

// How a transmit ended.
enum class ExchangeResult {
  Reply,            // bytes came back
  NoReply,          // the time-out ran out with nothing received
  PortUnavailable,  // the port could not be opened (or was lost): empty reply
  // The line dropped while the reply was awaited and the port was opened
  // again: no reply will come for that request (and no late one either).
  LineDropped,
};

// What a transmit got back: the reply (empty when none) and how it ended.
struct Exchange {
  std::string reply;
  ExchangeResult result = ExchangeResult::NoReply;

  bool operator==(const Exchange&) const = default;
};

// The port is given up for the rest of a job when it failed in this many
// exchanges with fewer than kCleanExchanges good exchanges between any two.
inline constexpr int kMaxFailingExchanges = 10;
inline constexpr int kCleanExchanges = 20;

class Comms {
 public:
  Comms(const PortNames& port_names, PortFactory& factory, Clock& clock, LinkReport& report);
  ~Comms();
  Comms(const Comms&) = delete;
  Comms& operator=(const Comms&) = delete;

  // Rebuilds the slots from their definitions (closing every open port); the
  // problems met reading them are reported here.
  void init_comms(const ProtocolSlots& read);
  // Chooses, opens and clears the port object for an exchange on `slot`;
  // an undefined slot is reported and replaced by slot 0 (also in `slot`).
  // Returns the slot whose port object carries the exchange, or -1 when there
  // is none (slot 0 is not defined either).
  int open_port(int& slot);
  // Closes every open port. A port belongs to the thread that opened it, so a
  // job run on a worker thread closes them before it ends. A port given up
  // after repeated failures is tried again afterwards.
  void close_all();

  // Writes `message` on `slot` and collects the reply within `timeout_ms`.
  // `expected` tells the reply's shape so that a reply delivered in bursts is
  // never cut; see comms.cpp for the end rules. Blocks on the port; never
  // processes GUI events.
  Exchange transmit(int slot, std::string_view message, float timeout_ms,
                    const ReplyLength& expected = {});
  // Whether the port could be used in the last exchange: a job that ended
  // without an answer then blames the port, not the controller.
  bool port_available() const { return port_available_; }
  // Whether the port was given up in this job (the link said so once): asking
  // the user to retry, or to go on, changes nothing until the ports are closed.
  bool line_given_up() const { return gave_up_; }

  // Waits until the slot's line has been quiet for `quiet_ms`, at most
  // `max_ms` in all, throwing away what arrives meanwhile: a reply that came
  // too late for its request must not be taken for the next request's. Called
  // after a try that got no reply or a reply that did not fit. Returns the
  // bytes thrown away.
  std::string drain(int slot, double quiet_ms, double max_ms);

  // Highest defined slot (-1 when none).
  int highest_slot() const { return static_cast<int>(slots_.size()) - 1; }
  bool slot_defined(int slot) const;
  // Port number and settings string of a slot (0 and "" when it is not defined).
  int port_number(int slot) const;
  std::string port_settings(int slot) const;
  // Replaces a slot's settings string directly; an open port takes it at
  // once. (SlotSettingsOverride does it for a while.)
  void set_port_settings(int slot, const std::string& settings);
  // The device behind the slot's port number ("" when it is not defined).
  std::string device_name(int slot) const;
  // The wait between received bytes that ends a reply of the expected length
  // (0 for an undefined slot).
  int char_gap_ms(int slot) const;
  // Whether the slot's own port object holds its port open.
  bool port_open(int slot) const;

  void set_trace(TraceSink* trace) { trace_ = trace; }
  // Once `*flag` holds a signal number, transmit throws JobStopped before it
  // sends anything (not while an exception unwinds).
  void set_stop_flag(const std::atomic<int>* flag) { stop_flag_ = flag; }
  // Whether bytes came in this job after an exchange had timed out without a
  // reply (found when the line was drained): the controller answers, too late.
  bool late_replies_seen() const { return late_replies_seen_; }
  // Whether replies on a device's line follow an echo of the request (see
  // comms_echo.cpp); Auto finds it out per device and forgets it when the
  // ports are closed (close_all).
  void set_echo_mode(EchoMode mode);
  EchoState echo_state(const std::string& device) const;

 private:
  enum class Step { Done, Unavailable, GaveUp };

  // open_port's work: the port slot chosen (nullptr when none).
  PortSlot* choose_port(int& slot);
  // Sets device and settings and opens the slot's port (throws RunError).
  void open_slot_port(PortSlot& slot);
  // Runs one step of `procedure` with the error handling by number: 57/69
  // close and reopen the port and try again, 68 gives up on the port, other
  // numbers are reported and tried again; three tries at most.
  Step run_step(const char* procedure, PortSlot& use, const std::function<void()>& step);
  // Closes and reopens the slot's port after error 57/69; false when the port
  // could not be opened again.
  bool reopen(const char* procedure, PortSlot& use);
  // transmit's work, counted by transmit toward giving the port up.
  Exchange exchange(int slot, std::string_view message, float timeout_ms,
                    const ReplyLength& expected);
  // `start`: bytes of the reply that came already.
  std::string receive(PortSlot& use, double gap, float timeout_ms, std::size_t message_size,
                      const ReplyLength& expected, ExchangeResult& result, std::string start = {});
  // receive on a line that echoes or may echo: the echo taken off.
  std::string receive_after_echo(int slot, PortSlot& use, double gap, float timeout_ms,
                                 std::string_view message, const ReplyLength& expected,
                                 ExchangeResult& result);
  void learn_echo(const std::string& device, EchoState state);
  // receive's handling of a port failure; false when the reception must end.
  bool survive_failure(const RunError& e, PortSlot& use, int& failures, std::string& reply,
                       ExchangeResult& result);
  // Counts the exchange just made toward giving the port up (see
  // kMaxFailingExchanges); `failed`: a port failure happened in it.
  void count_exchange(bool failed);
  // True (and says so once) when the port has been given up.
  bool given_up();

  const PortNames& port_names_;
  PortFactory& factory_;
  Clock& clock_;
  LinkReport& report_;

  TraceSink* trace_ = nullptr;
  const std::atomic<int>* stop_flag_ = nullptr;
  ExchangeResult last_result_ = ExchangeResult::Reply;
  bool late_replies_seen_ = false;
  EchoMode echo_mode_ = EchoMode::Auto;
  std::map<std::string, EchoState> echo_;  // by device, while its ports are open
  std::set<int> unavailable_told_;         // port numbers said to be unavailable in this job
  std::set<int> undefined_told_;           // undefined slots asked for in this job
  std::string unavailable_reason_;         // the message of the last port found unusable
  bool port_available_ = true;             // in the last exchange
  bool port_failed_ = false;               // in the exchange under way
  int failing_exchanges_ = 0;              // close together (see kCleanExchanges)
  int clean_exchanges_ = 0;
  bool gave_up_ = false;
  std::vector<PortSlot> slots_;
  // The inter-byte wait of slots 0 to 3: 10000 / baud, at least 1 ms.
  std::array<int, kMaxSlots> char_gap_ms_{};
};

// Gives a slot other line settings for as long as it lives (the download
// application's 38400 baud) and puts the old ones back on every way out.
class SlotSettingsOverride {
 public:
  SlotSettingsOverride(Comms& comms, int slot, const std::string& settings);
  ~SlotSettingsOverride();
  SlotSettingsOverride(const SlotSettingsOverride&) = delete;
  SlotSettingsOverride& operator=(const SlotSettingsOverride&) = delete;

 private:
  Comms& comms_;
  int slot_;
  std::string saved_;
};

}  // namespace r7
