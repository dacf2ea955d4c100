// The SerialPort of the simulated controller: every port object a
// SimulatedPortFactory makes is wired to the same Controller, whatever device
// name it is given. The settings string tells the controller the baud rate.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "seams/serial_port.h"
#include "sim/controller.h"

namespace r7::sim {

class SimulatedPort final : public SerialPort {
 public:
  explicit SimulatedPort(Controller& controller);
  ~SimulatedPort() override;
  SimulatedPort(const SimulatedPort&) = delete;
  SimulatedPort& operator=(const SimulatedPort&) = delete;

  void set_device(const std::string& device_name) override { device_ = device_name; }
  void set_settings(const std::string& settings) override { settings_ = settings; }
  void open() override;
  void close() override;
  bool is_open() const override { return open_; }
  // These four throw RunError 57 once the line has dropped (Faults::hangup_after)
  // until the port is closed and opened again; write also when it is not open.
  std::size_t bytes_waiting() override;
  void clear_input() override;
  void write(std::string_view bytes) override;
  int read_byte() override;
  // Moves the clock on to the next byte's arrival when that is within `ms`
  // (Clock::sleep_ms: a FakeClock jumps, the SystemClock really sleeps),
  // otherwise by `ms`.
  bool wait_for_input(std::uint32_t ms) override;

  const std::string& device() const { return device_; }
  const std::string& settings() const { return settings_; }

 private:
  void check_line();

  Controller& controller_;
  int id_;
  std::string device_;
  std::string settings_ = "9600,N,8,1";
  bool open_ = false;
  std::uint64_t opened_at_us_ = 0;
};

class SimulatedPortFactory final : public PortFactory {
 public:
  explicit SimulatedPortFactory(Controller& controller) : controller_(controller) {}
  std::unique_ptr<SerialPort> create_port() override {
    return std::make_unique<SimulatedPort>(controller_);
  }

 private:
  Controller& controller_;
};

}  // namespace r7::sim
