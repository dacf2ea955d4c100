#include "sim/simulated_line.h"

#include <algorithm>
#include <cmath>

namespace r7::sim {

namespace {

constexpr std::uint64_t kGarbageDelayUs = 100000;
// 11 bits a character (start, 8 data, parity or second stop, stop):
// 9600 baud gives 1145.8 us a character.
constexpr double kBitsPerChar = 11.0;

double char_time_us(int baud) {
  return kBitsPerChar * 1e6 / (baud > 0 ? baud : 9600);
}

}  // namespace

SimulatedLine::SimulatedLine(Clock& clock, const LineModel& model, const Faults& faults,
                             std::uint32_t seed)
    : clock_(clock), model_(model), faults_(faults), last_tick_(clock.tick_ms()), rng_(seed) {}

std::uint64_t SimulatedLine::now_ms() {
  const std::uint32_t tick = clock_.tick_ms();
  line_ms_ += static_cast<std::uint32_t>(tick - last_tick_);  // modulo 2^32 across a wrap
  last_tick_ = tick;
  return line_ms_;
}

// ---- the ports' side ----

int SimulatedLine::attach_port() {
  const int id = next_port_++;
  outputs_[id];
  return id;
}

void SimulatedLine::detach_port(int port) {
  outputs_.erase(port);
}

std::optional<std::uint64_t> SimulatedLine::receive(int port, std::string_view bytes,
                                                    std::string_view settings) {
  if (bytes.empty()) return std::nullopt;
  const std::uint64_t start = now_us();
  const int baud = baud_of(settings);
  const std::uint64_t end =
      start + (model_.pace ? static_cast<std::uint64_t>(std::llround(
                                 char_time_us(baud) * static_cast<double>(bytes.size())))
                           : 0);
  if (model_.echo) echo_back(port, bytes, start, baud);
  if (start < silent_until_us_) {  // not listening: the bytes are lost
    last_rx_us_ = end;
    return std::nullopt;
  }
  if (start > last_rx_us_ + kResyncGapMs * kUsPerMs) reset_input();
  last_rx_us_ = end;
  if (skipping_) return std::nullopt;
  rx_.append(bytes);
  rx_port_ = port;
  rx_baud_ = baud;
  return end;
}

std::size_t SimulatedLine::due_count(int port) {
  auto it = outputs_.find(port);
  if (it == outputs_.end()) return 0;
  const std::uint64_t now = now_us();
  std::size_t n = 0;
  for (auto b = it->second.begin(); b != it->second.end() && b->first <= now; ++b)
    ++n;
  return n;
}

int SimulatedLine::pop_due(int port) {
  auto it = outputs_.find(port);
  if (it == outputs_.end() || it->second.empty()) return -1;
  auto first = it->second.begin();
  if (first->first > now_us()) return -1;
  const int b = static_cast<unsigned char>(first->second);
  it->second.erase(first);
  return b;
}

std::string SimulatedLine::take_due(int port) {
  std::string s;
  auto it = outputs_.find(port);
  if (it == outputs_.end()) return s;
  auto& queue = it->second;
  const auto end = queue.upper_bound(now_us());
  for (auto b = queue.begin(); b != end; ++b)
    s += b->second;
  queue.erase(queue.begin(), end);
  return s;
}

void SimulatedLine::clear_due(int port) {
  auto it = outputs_.find(port);
  if (it == outputs_.end()) return;
  it->second.erase(it->second.begin(), it->second.upper_bound(now_us()));
}

void SimulatedLine::drop_all(int port) {
  auto it = outputs_.find(port);
  if (it != outputs_.end()) it->second.clear();
}

void SimulatedLine::drop_all_ports() {
  for (auto& [id, queue] : outputs_)
    queue.clear();
}

std::optional<std::uint64_t> SimulatedLine::next_due_ms(int port) {
  auto it = outputs_.find(port);
  if (it == outputs_.end() || it->second.empty()) return std::nullopt;
  return (it->second.begin()->first + kUsPerMs - 1) / kUsPerMs;
}

bool SimulatedLine::hung_up_since(std::uint64_t since_us) {
  const std::uint64_t now = now_us();
  return std::any_of(hangups_us_.begin(), hangups_us_.end(),
                     [&](std::uint64_t h) { return h > since_us && h <= now; });
}

std::size_t SimulatedLine::hangups_until_now() {
  const std::uint64_t now = now_us();
  return static_cast<std::size_t>(std::count_if(hangups_us_.begin(), hangups_us_.end(),
                                                [&](std::uint64_t h) { return h <= now; }));
}

std::optional<std::uint64_t> SimulatedLine::hangup_ms(std::size_t index) const {
  if (index >= hangups_us_.size()) return std::nullopt;
  return (hangups_us_[index] + kUsPerMs - 1) / kUsPerMs;
}

// ---- the controller's side ----

void SimulatedLine::skip_rest() {
  rx_.clear();
  skipping_ = true;
}

void SimulatedLine::reset_input() {
  rx_.clear();
  skipping_ = false;
}

double SimulatedLine::uniform() {
  return static_cast<double>(rng_()) / 4294967296.0;
}

// When a byte sent at `sent` is handed over: with chunking at the next multiple
// of chunk_ms that has room left.
std::uint64_t SimulatedLine::due_time(const Queue& queue, std::uint64_t sent) const {
  if (model_.chunk_ms == 0 || model_.chunk_bytes <= 0) return sent;
  const std::uint64_t period = model_.chunk_ms * kUsPerMs;
  std::uint64_t due = (sent + period - 1) / period * period;
  while (queue.count(due) >= static_cast<std::size_t>(model_.chunk_bytes)) {
    due += period;
  }
  return due;
}

// The adapter's own receiver hears each byte as it leaves the transmitter.
void SimulatedLine::echo_back(int port, std::string_view bytes, std::uint64_t start, int baud) {
  auto queue = outputs_.find(port);
  if (queue == outputs_.end()) return;
  const double char_us = model_.pace ? char_time_us(baud) : 0.0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto sent =
        start + static_cast<std::uint64_t>(std::llround(char_us * static_cast<double>(i + 1)));
    queue->second.emplace(due_time(queue->second, sent), bytes[i]);
  }
}

void SimulatedLine::add_garbage(Queue& queue, std::uint64_t after) {
  const auto count = 1 + rng_() % 4;
  for (unsigned i = 0; i < count; ++i) {
    queue.emplace(after + kGarbageDelayUs, static_cast<char>(rng_() & 0xFFU));
  }
}

void SimulatedLine::send(std::string bytes, std::uint64_t at) {
  ++exchanges_;
  // Three draws for every reply, so that a seed gives the same run whatever
  // the probabilities.
  const bool lost = uniform() < faults_.drop;
  const bool corrupt = uniform() < faults_.crc;
  const bool noise = uniform() < faults_.garbage;

  std::uint64_t delivered = at;
  auto queue = outputs_.find(rx_port_);
  if (!lost && queue != outputs_.end()) {
    if (corrupt) bytes.back() = static_cast<char>(~static_cast<unsigned char>(bytes.back()));
    const double char_us = model_.pace ? char_time_us(rx_baud_) : 0.0;
    std::uint64_t start = at + (model_.turnaround_ms + faults_.late_ms) * kUsPerMs;
    if (model_.pace) start = std::max(start, tx_free_us_);
    std::uint64_t sent = start;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      sent = start + static_cast<std::uint64_t>(std::llround(char_us * static_cast<double>(i + 1)));
      const std::uint64_t due = due_time(queue->second, sent);
      queue->second.emplace(due, bytes[i]);
      delivered = std::max(delivered, due);
    }
    if (model_.pace) tx_free_us_ = sent;
    if (noise) add_garbage(queue->second, sent);
  }
  if (faults_.hangup_after > 0 &&
      exchanges_ % static_cast<std::uint64_t>(faults_.hangup_after) == 0) {
    hangups_us_.push_back(delivered + kUsPerMs);  // a moment after the last byte
  }
}

}  // namespace r7::sim
