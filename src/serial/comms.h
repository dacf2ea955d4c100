// Protocol slots, their port objects and the timed exchange that every
// message to a controller goes through.
//
//   slot 0 "Full Protocol"    defined and editable, carries nothing
//   slot 1 "Modbus Protocol"  every Modbus register read and write
//   slot 2 "Xon Protocol"     every bootloader exchange
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "app/port_names.h"
#include "errors/clock.h"
#include "errors/error_log.h"
#include "errors/prompts.h"
#include "errors/run_error.h"
#include "serial/serial_port.h"

namespace r7 {

inline constexpr int kFullProtocolSlot = 0;
inline constexpr int kModbusSlot = 1;
inline constexpr int kXonSlot = 2;
inline constexpr int kMaxSlots = 4;
inline constexpr const char* kDefaultSettings = "9600,N,8,1";
inline constexpr const char* kBootloaderSettings = "38400,n,8,1";
inline constexpr int kDefaultPort = 2;

// "Full Protocol", "Modbus Protocol", "Xon Protocol"; "" for other slots.
const char* protocol_name(int slot);

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

// One protocol slot's port object. A slot left out by init_comms (its port
// number was not valid while later slots were) keeps port number 0.
struct PortSlot {
  int port_number = 0;   // 1..4, 0 when the slot is not defined
  std::string settings;  // "9600,N,8,1"
  std::unique_ptr<SerialPort> port;
  std::string device;  // the device the port was last opened on

  bool defined() const { return port_number != 0; }
};

// How the last transmit ended.
enum class ExchangeResult {
  Reply,            // bytes came back
  NoReply,          // the time-out ran out with nothing received
  PortUnavailable,  // the port could not be opened (or was lost): empty reply
  // The line dropped while the reply was awaited and the port was opened
  // again: no reply will come for that request (and no late one either).
  LineDropped,
};

// The port is given up for the rest of a job when it failed in this many
// exchanges with fewer than kCleanExchanges good exchanges between any two.
inline constexpr int kMaxFailingExchanges = 10;
inline constexpr int kCleanExchanges = 20;

// Receives one line per write and per completed reply (--trace FILE).
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  // `transmitted`: a write (elapsed since transmit was called) or a reply
  // (elapsed since the write; an empty reply is the time-out).
  virtual void record(int slot, const std::string& device, bool transmitted, std::string_view bytes,
                      std::uint32_t elapsed_ms) = 0;
  // Bytes that came after a reply was over and were thrown away (a late
  // reply to an earlier request); `elapsed_ms` is the time spent waiting.
  virtual void discarded(int /*slot*/, const std::string& /*device*/, std::string_view /*bytes*/,
                         std::uint32_t /*elapsed_ms*/) {}
};

// Appends trace lines to a file, opened and closed for each line:
//   2025-03-03 14:05:09 slot 1 /dev/ttyS1 TX 01 03 00 00 00 01 84 0A 0 ms
class FileTrace final : public TraceSink {
 public:
  FileTrace(std::filesystem::path file, Clock& clock);
  // What keeps `file` from taking trace lines (a directory, a file that cannot
  // be opened for appending; it is created when missing), or nullopt. A pipe
  // or a device is taken as it is: opening it here could wait.
  static std::optional<std::string> check(const std::filesystem::path& file);
  void record(int slot, const std::string& device, bool transmitted, std::string_view bytes,
              std::uint32_t elapsed_ms) override;
  // "... slot 1 /dev/ttyS1 DROP 01 03 ... 250 ms"
  void discarded(int slot, const std::string& device, std::string_view bytes,
                 std::uint32_t elapsed_ms) override;

  // The line as written, without the line end.
  std::string format_line(int slot, const std::string& device, bool transmitted,
                          std::string_view bytes, std::uint32_t elapsed_ms);

 private:
  std::string format(int slot, const std::string& device, const char* direction,
                     std::string_view bytes, std::uint32_t elapsed_ms);
  void append(const std::string& line);

  std::filesystem::path file_;
  Clock& clock_;
};

// Bytes as upper-case hex pairs separated by one blank ("01 03 02").
std::string hex_bytes(std::string_view bytes, bool blanks = true);
// "01 03 00 00 00 01 84 0A", "010300000001840a" -> the bytes; nullopt when the
// text is not whole pairs of hex digits (blanks, tabs and colons between them
// allowed) or has none.
std::optional<std::string> parse_hex_bytes(std::string_view text);

class Comms {
 public:
  Comms(std::filesystem::path settings_file, const PortNames& port_names, PortFactory& factory,
        Clock& clock, Prompts& prompts, ErrorLog& errors);
  ~Comms();
  Comms(const Comms&) = delete;
  Comms& operator=(const Comms&) = delete;

  // Rebuilds the slots from section "COMMS CONTROLS" of the settings file
  // (closing every open port). Slots 0 to 3 are read in turn up to the first
  // missing port key; a slot with an invalid port number is reported and left
  // out, and reading goes on with the next one.
  void init_comms();
  void define_comms_control(int comms_control, int port_number, const std::string& settings);
  // Chooses, opens and clears the port object for an exchange on `slot`;
  // an undefined slot is reported and replaced by slot 0 (also in `slot`).
  // Returns the slot whose port object carries the exchange, or -1 when there
  // is none (slot 0 is not defined either).
  int open_port(int& slot);
  // Closes every open port. A port belongs to the thread that opened it, so a
  // job run on a worker thread closes them before it ends. A port given up
  // after repeated failures is tried again afterwards.
  void close_all();

  // Writes `message` on `slot` and collects the reply within `timeout_ms`
  // (empty when nothing arrived). `expected` tells the reply's shape so that a
  // reply delivered in bursts is never cut; see comms.cpp for the end rules.
  // Blocks on the port; never processes GUI events.
  std::string transmit(int slot, std::string_view message, float timeout_ms,
                       const ReplyLength& expected = {});
  ExchangeResult last_result() const { return last_result_; }

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
  // Replaces a slot's settings string directly (the bootloader's 38400 switch);
  // an open port takes it at once.
  void set_port_settings(int slot, const std::string& settings);
  // The device behind the slot's port number ("" when it is not defined).
  std::string device_name(int slot) const;
  // The wait between received bytes that ends a reply of the expected length
  // (0 for an undefined slot).
  int char_gap_ms(int slot) const;
  // Whether the slot's own port object holds its port open.
  bool port_open(int slot) const;

  void set_trace(TraceSink* trace) { trace_ = trace; }
  const std::filesystem::path& settings_file() const { return settings_file_; }

 private:
  enum class Step { Done, Unavailable, GaveUp };

  // open_port's work: the port slot chosen (nullptr when none).
  PortSlot* choose_port(int& slot);
  // Sets device and settings and opens the slot's port (throws RunError).
  void open_slot_port(PortSlot& slot);
  // Runs one step of `procedure` with the error handling by number: 57/69
  // close and reopen the port and try again, 68 gives up on the port, other
  // numbers show their message and try again; three tries at most.
  Step run_step(const char* procedure, PortSlot& use, const std::function<void()>& step);
  // Closes and reopens the slot's port after error 57/69; false when the port
  // could not be opened again.
  bool reopen(const char* procedure, PortSlot& use);
  // transmit's work, counted by transmit toward giving the port up.
  std::string exchange(int slot, std::string_view message, float timeout_ms,
                       const ReplyLength& expected);
  std::string receive(PortSlot& use, double gap, float timeout_ms, std::size_t message_size,
                      const ReplyLength& expected);
  // receive's handling of a port failure; false when the reception must end.
  bool survive_failure(const RunError& e, PortSlot& use, int& failures, std::string& reply);

  std::filesystem::path settings_file_;
  const PortNames& port_names_;
  PortFactory& factory_;
  Clock& clock_;
  Prompts& prompts_;
  ErrorLog& errors_;
  // Counts the exchange just made toward giving the port up (see
  // kMaxFailingExchanges); `failed`: a port failure happened in it.
  void count_exchange(bool failed);
  // True (and says so once) when the port has been given up.
  bool given_up();

  TraceSink* trace_ = nullptr;
  ExchangeResult last_result_ = ExchangeResult::NoReply;
  bool port_failed_ = false;   // in the exchange under way
  int failing_exchanges_ = 0;  // close together (see kCleanExchanges)
  int clean_exchanges_ = 0;
  bool gave_up_ = false;
  std::vector<PortSlot> slots_;
  // The inter-byte wait of slots 0 to 3: 10000 / baud, at least 1 ms.
  std::array<int, kMaxSlots> char_gap_ms_{};
};

}  // namespace r7
