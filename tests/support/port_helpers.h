// Helpers for tests that drive a SerialPort directly.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/run_error.h"
#include "seams/serial_port.h"

namespace r7::test {

// Clears the input, writes `message` and collects the reply: empty when nothing
// came within `timeout_ms`, otherwise ended by 5 ms of silence (all waits in
// SerialPort::wait_for_input: on the simulated port a FakeClock moves).
inline std::string exchange_on(SerialPort& port, std::string_view message,
                               std::uint32_t timeout_ms = 250) {
  port.clear_input();
  port.write(message);
  std::string reply;
  for (bool more = port.wait_for_input(timeout_ms); more; more = port.wait_for_input(5)) {
    while (port.bytes_waiting() > 0)
      reply += static_cast<char>(port.read_byte());
  }
  return reply;
}

// The number of the RunError that `f` throws, 0 when it throws none.
inline int run_error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const RunError& e) {
    return e.number();
  }
  return 0;
}

// Ports that work as `inner`'s until the line is unplugged (after a number of
// writes): then every operation fails with 57 and opening with 68, as a USB
// adapter pulled out.
class UnpluggablePortFactory final : public PortFactory {
 public:
  explicit UnpluggablePortFactory(PortFactory& inner) : inner_(inner) {}
  // Unplugged once `writes` more writes went through any of its ports (0: now).
  void unplug_after(int writes) { writes_left_ = writes; }
  std::unique_ptr<SerialPort> create_port() override {
    return std::make_unique<Port>(inner_.create_port(), writes_left_);
  }

 private:
  class Port final : public SerialPort {
   public:
    Port(std::unique_ptr<SerialPort> port, std::atomic<int>& writes_left)
        : port_(std::move(port)), writes_left_(writes_left) {}
    void set_device(const std::string& d) override { port_->set_device(d); }
    void set_settings(const std::string& s) override { port_->set_settings(s); }
    void open() override {
      if (writes_left_ == 0) throw RunError(err::kDeviceUnavailable, "There is no device sim.");
      port_->open();
    }
    void close() override { port_->close(); }
    bool is_open() const override { return port_->is_open(); }
    std::size_t bytes_waiting() override { return check(), port_->bytes_waiting(); }
    void clear_input() override { check(), port_->clear_input(); }
    void write(std::string_view bytes) override {
      check();
      if (writes_left_ > 0) --writes_left_;
      port_->write(bytes);
    }
    int read_byte() override { return check(), port_->read_byte(); }
    bool wait_for_input(std::uint32_t ms) override { return check(), port_->wait_for_input(ms); }

   private:
    void check() const {
      if (writes_left_ == 0) throw RunError(err::kDeviceIo, "The device went away.");
    }
    std::unique_ptr<SerialPort> port_;
    std::atomic<int>& writes_left_;
  };

  PortFactory& inner_;
  std::atomic<int> writes_left_{-1};
};

}  // namespace r7::test
