// A serial line for unit tests: bytes arrive at scripted times on a FakeClock,
// writes can trigger scripted answers, and failures can be injected by
// operation. Every port object the factory makes shares the one line; a device
// can be held open by one port object at a time, as on the real platform.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "seams/serial_port.h"
#include "sim/fake_clock.h"

namespace r7::test {

// How the device answers one write.
struct ScriptedAnswer {
  std::string bytes;
  double delay_ms = 0;  // from the write to the end of the first byte
  double byte_ms = 0;   // from one byte to the next (0: all at once)
  double chunk_ms = 0;  // >0: bytes are handed over only at multiples of this after the write

  // A device that starts `latency_ms` after the request has left the line and
  // sends at line rate (11 bits a character).
  static ScriptedAnswer paced(std::string bytes, int baud, std::size_t request_size,
                              double latency_ms = 0);
};

enum class PortOp { Open, Clear, Write, Read, BytesWaiting, Wait, Settings };

class ScriptedLine {
 public:
  explicit ScriptedLine(sim::FakeClock& clock) : clock_(clock) {}

  // Bytes that arrive `after_ms` from now, `byte_ms` apart.
  void arrive(const std::string& bytes, double after_ms = 0, double byte_ms = 0);
  // The answer to the next write that has none yet.
  void answer_next_write(ScriptedAnswer answer) { answers_.push_back(std::move(answer)); }
  // The next `times` calls of `op` throw RunError(number).
  void fail(PortOp op, int number, int times = 1);
  // Opening `device` fails with 68 (missing) from now on.
  void remove_device(const std::string& device) { missing_.insert(device); }

  // What happened, in order: "open DEV SETTINGS", "close DEV", "clear DEV",
  // "write DEV HEX", "settings DEV SETTINGS".
  std::vector<std::string> events;
  std::vector<std::string> writes;
  // Longest single wait asked for.
  std::uint32_t longest_wait_ms = 0;

  // Who holds each device open (port object id), and which ids exist.
  std::map<std::string, int> holders;
  std::set<int> live_ports;

  double now() const { return static_cast<double>(clock_.total_ms()); }

  // For the port objects.
  void maybe_fail(PortOp op);
  void on_write(const std::string& bytes);
  std::size_t waiting() const;
  int take();
  void clear();
  bool wait(std::uint32_t ms);
  bool missing(const std::string& device) const { return missing_.count(device) != 0; }

 private:
  struct Byte {
    double at;
    char value;
  };
  sim::FakeClock& clock_;
  std::deque<Byte> incoming_;  // ordered by arrival time
  std::deque<ScriptedAnswer> answers_;
  std::multimap<PortOp, int> failures_;
  std::set<std::string> missing_;

  void schedule(double at, char value);
};

class ScriptedPort final : public SerialPort {
 public:
  ScriptedPort(ScriptedLine& line, int id);
  ~ScriptedPort() override;

  void set_device(const std::string& device_name) override { device_ = device_name; }
  void set_settings(const std::string& settings) override;
  void open() override;
  void close() override;
  bool is_open() const override { return open_; }
  std::size_t bytes_waiting() override;
  void clear_input() override;
  void write(std::string_view bytes) override;
  int read_byte() override;
  bool wait_for_input(std::uint32_t ms) override;

 private:
  void require_open() const;

  ScriptedLine& line_;
  int id_;
  std::string device_;
  std::string settings_;
  bool open_ = false;
};

class ScriptedPortFactory final : public PortFactory {
 public:
  explicit ScriptedPortFactory(ScriptedLine& line) : line_(line) {}
  std::unique_ptr<SerialPort> create_port() override;

 private:
  ScriptedLine& line_;
  int created_ = 0;
};

}  // namespace r7::test
