// The serial line between the simulated controller and its masters: the ports
// attached to it, the bytes the controller hears, and its replies queued per
// port with the time they arrive, shaped by the LineModel and the Faults.
//
// Bytes written by a port reach the controller at once (or after their line
// time with LineModel::pace). While the controller is silent what arrives is
// lost. Input that does not make sense to the controller is skipped until the
// line has been quiet for kResyncGapMs. A reply goes to the port of the last
// request, at that request's baud rate, after LineModel::turnaround_ms and
// Faults::late_ms; each reply draws its drop, crc and garbage faults, and every
// Faults::hangup_after-th reply drops the line a moment after its last byte.
// Times are in microseconds of "line time", the clock's tick count made
// monotonic.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "seams/clock.h"
#include "sim/config.h"

namespace r7::sim {

inline constexpr std::uint32_t kResyncGapMs = 20;
inline constexpr std::uint64_t kUsPerMs = 1000;

class SimulatedLine {
 public:
  // `model` and `faults` are read at every use, so changes take effect at once.
  SimulatedLine(Clock& clock, const LineModel& model, const Faults& faults, std::uint32_t seed);

  Clock& clock() { return clock_; }
  std::uint64_t now_ms();
  std::uint64_t now_us() { return now_ms() * kUsPerMs; }

  // ---- the ports' side ----
  int attach_port();
  void detach_port(int port);
  // Bytes a master wrote through `port`, whose line is set to `settings`: the
  // line time at which the controller has heard them all, or nullopt when it
  // was silent or is skipping input (the bytes are lost).
  std::optional<std::uint64_t> receive(int port, std::string_view bytes, std::string_view settings);
  std::size_t due_count(int port);
  // The next byte that has arrived for `port`, or -1.
  int pop_due(int port);
  std::string take_due(int port);
  // Discards what has arrived; bytes still on their way stay.
  void clear_due(int port);
  // Discards everything for `port`, also bytes on their way (a closed port).
  void drop_all(int port);
  // The same for every port (the controller lost its power).
  void drop_all_ports();
  // Line time (ms) when the next byte for `port` arrives, if one is on its way.
  std::optional<std::uint64_t> next_due_ms(int port);
  // Whether the line dropped (Faults::hangup_after) after `since_us` and by now.
  bool hung_up_since(std::uint64_t since_us);
  // Line drops up to now, and the line time (ms) of drop number `index` (0 for
  // the first) once it is due.
  std::size_t hangups_until_now();
  std::optional<std::uint64_t> hangup_ms(std::size_t index) const;

  // ---- the controller's side ----
  // What the controller has heard and not yet taken as a frame; frames are
  // taken from the front.
  std::string& input() { return rx_; }
  // The baud rate of the port the input came from.
  int input_baud() const { return rx_baud_; }
  // Ignores the rest of the input, and what follows until the line is quiet.
  void skip_rest();
  bool skipping() const { return skipping_; }
  // Forgets the input and listens again at once.
  void reset_input();
  // The controller does not listen until line time `us`.
  void silence_until(std::uint64_t us) { silent_until_us_ = us; }
  std::uint64_t silent_until_us() const { return silent_until_us_; }
  // Sends `bytes` to the port of the last request, starting no earlier than
  // line time `at` (the end of the request).
  void send(std::string bytes, std::uint64_t at);
  // Replies sent (or sent and lost to a fault).
  std::uint64_t exchanges() const { return exchanges_; }

 private:
  using Queue = std::multimap<std::uint64_t, char>;

  std::uint64_t due_time(const Queue& queue, std::uint64_t sent) const;
  void add_garbage(Queue& queue, std::uint64_t after);
  void echo_back(int port, std::string_view bytes, std::uint64_t start, int baud);
  double uniform();

  Clock& clock_;
  const LineModel& model_;
  const Faults& faults_;
  std::uint32_t last_tick_;
  std::uint64_t line_ms_ = 0;

  std::string rx_;
  std::uint64_t last_rx_us_ = 0;
  bool skipping_ = false;
  int rx_port_ = -1;
  int rx_baud_ = 9600;
  std::uint64_t silent_until_us_ = 0;

  std::map<int, Queue> outputs_;
  int next_port_ = 1;
  std::uint64_t tx_free_us_ = 0;

  std::mt19937 rng_;
  std::uint64_t exchanges_ = 0;
  std::vector<std::uint64_t> hangups_us_;
};

}  // namespace r7::sim
