#include "sim/simulated_port.h"

#include <algorithm>

#include "base/run_error.h"

namespace r7::sim {

SimulatedPort::SimulatedPort(Controller& controller)
    : controller_(controller), id_(controller.attach_port()) {}

SimulatedPort::~SimulatedPort() {
  controller_.detach_port(id_);
}

void SimulatedPort::open() {
  if (open_) return;
  controller_.drop_all(id_);
  open_ = true;
  opened_at_us_ = controller_.now_us();
}

void SimulatedPort::close() {
  open_ = false;
  controller_.drop_all(id_);
}

void SimulatedPort::check_line() {
  if (open_ && controller_.hung_up_since(opened_at_us_)) {
    throw RunError(err::kDeviceIo, "the simulated line hung up on " + device_);
  }
}

std::size_t SimulatedPort::bytes_waiting() {
  check_line();
  return open_ ? controller_.due_count(id_) : 0;
}

void SimulatedPort::clear_input() {
  if (open_) controller_.clear_due(id_);
}

void SimulatedPort::write(std::string_view bytes) {
  if (!open_) throw RunError(err::kDeviceIo, "port " + device_ + " is not open");
  check_line();
  controller_.receive(id_, bytes, settings_);
}

int SimulatedPort::read_byte() {
  check_line();
  return open_ ? controller_.pop_due(id_) : -1;
}

bool SimulatedPort::wait_for_input(std::uint32_t ms) {
  check_line();
  if (!open_) {
    controller_.clock().sleep_ms(ms);
    return false;
  }
  const std::uint64_t start = controller_.now_ms();
  // Each pass sleeps at least 1 ms of clock time, so the loop ends by `ms`.
  while (controller_.due_count(id_) == 0) {
    const std::uint64_t now = controller_.now_ms();
    const std::uint64_t elapsed = now - start;
    if (elapsed >= ms) return false;
    std::uint64_t wait = ms - elapsed;
    if (const auto next = controller_.next_due_ms(id_)) {
      wait = std::min(wait, std::max<std::uint64_t>(*next > now ? *next - now : 0, 1));
    }
    controller_.clock().sleep_ms(static_cast<std::uint32_t>(wait));
  }
  return true;
}

}  // namespace r7::sim
