#include "support/scripted_port.h"

#include <algorithm>
#include <cmath>

#include "app/line_settings.h"
#include "base/run_error.h"
#include "serial/comms.h"

namespace r7::test {

ScriptedAnswer ScriptedAnswer::paced(std::string bytes, int baud, std::size_t request_size,
                                     double latency_ms) {
  const double c = char_time_ms(baud);
  return ScriptedAnswer{std::move(bytes), static_cast<double>(request_size) * c + latency_ms + c, c,
                        0};
}

void ScriptedLine::schedule(double at, char value) {
  auto pos = std::upper_bound(incoming_.begin(), incoming_.end(), at,
                              [](double t, const Byte& b) { return t < b.at; });
  incoming_.insert(pos, Byte{at, value});
}

void ScriptedLine::arrive(const std::string& bytes, double after_ms, double byte_ms) {
  const double start = now() + after_ms;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    schedule(start + static_cast<double>(i) * byte_ms, bytes[i]);
  }
}

void ScriptedLine::fail(PortOp op, int number, int times) {
  for (int i = 0; i < times; ++i)
    failures_.emplace(op, number);
}

void ScriptedLine::maybe_fail(PortOp op) {
  auto it = failures_.find(op);
  if (it == failures_.end()) return;
  const int number = it->second;
  failures_.erase(it);
  throw RunError(number, "scripted failure");
}

void ScriptedLine::on_write(const std::string& bytes) {
  writes.push_back(bytes);
  if (answers_.empty()) return;
  const ScriptedAnswer a = answers_.front();
  answers_.pop_front();
  const double written = now();
  for (std::size_t i = 0; i < a.bytes.size(); ++i) {
    double at = a.delay_ms + static_cast<double>(i) * a.byte_ms;
    if (a.chunk_ms > 0) at = std::ceil(at / a.chunk_ms) * a.chunk_ms;
    schedule(written + at, a.bytes[i]);
  }
}

std::size_t ScriptedLine::waiting() const {
  const double t = now();
  return static_cast<std::size_t>(
      std::count_if(incoming_.begin(), incoming_.end(), [t](const Byte& b) { return b.at <= t; }));
}

int ScriptedLine::take() {
  if (waiting() == 0) return -1;
  const char c = incoming_.front().value;
  incoming_.pop_front();
  return static_cast<unsigned char>(c);
}

void ScriptedLine::clear() {
  const double t = now();
  while (!incoming_.empty() && incoming_.front().at <= t)
    incoming_.pop_front();
}

bool ScriptedLine::wait(std::uint32_t ms) {
  longest_wait_ms = std::max(longest_wait_ms, ms);
  if (waiting() > 0) return true;
  const double t = now();
  if (!incoming_.empty() && incoming_.front().at <= t + ms) {
    clock_.advance(static_cast<std::uint32_t>(std::ceil(incoming_.front().at - t)));
    return true;
  }
  clock_.advance(ms);
  return false;
}

ScriptedPort::ScriptedPort(ScriptedLine& line, int id) : line_(line), id_(id) {
  line_.live_ports.insert(id_);
}

ScriptedPort::~ScriptedPort() {
  close();
  line_.live_ports.erase(id_);
}

void ScriptedPort::require_open() const {
  if (!open_) throw RunError(err::kDeviceUnavailable, "port not open");
}

void ScriptedPort::set_settings(const std::string& settings) {
  settings_ = settings;
  if (!open_) return;
  line_.maybe_fail(PortOp::Settings);
  line_.events.push_back("settings " + device_ + " " + settings);
}

void ScriptedPort::open() {
  if (open_) return;
  line_.maybe_fail(PortOp::Open);
  if (line_.missing(device_)) throw RunError(err::kDeviceUnavailable, "no such device");
  if (line_.holders.count(device_) != 0) throw RunError(err::kDeviceUnavailable, "device busy");
  line_.holders[device_] = id_;
  open_ = true;
  line_.events.push_back("open " + device_ + " " + settings_);
}

void ScriptedPort::close() {
  if (!open_) return;
  open_ = false;
  line_.holders.erase(device_);
  line_.events.push_back("close " + device_);
}

std::size_t ScriptedPort::bytes_waiting() {
  require_open();
  line_.maybe_fail(PortOp::BytesWaiting);
  return line_.waiting();
}

void ScriptedPort::clear_input() {
  require_open();
  line_.maybe_fail(PortOp::Clear);
  line_.clear();
  line_.events.push_back("clear " + device_);
}

void ScriptedPort::write(std::string_view bytes) {
  require_open();
  line_.maybe_fail(PortOp::Write);
  line_.events.push_back("write " + device_ + " " + hex_bytes(bytes));
  line_.on_write(std::string(bytes));
}

int ScriptedPort::read_byte() {
  require_open();
  line_.maybe_fail(PortOp::Read);
  return line_.take();
}

bool ScriptedPort::wait_for_input(std::uint32_t ms) {
  require_open();
  line_.maybe_fail(PortOp::Wait);
  return line_.wait(ms);
}

std::unique_ptr<SerialPort> ScriptedPortFactory::create_port() {
  return std::make_unique<ScriptedPort>(line_, created_++);
}

}  // namespace r7::test
