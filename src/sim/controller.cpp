#include "sim/controller.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "modbus/modbus.h"
#include "modbus/registers.h"

namespace r7::sim {

namespace {

constexpr int kIllegalFunction = 1;
constexpr int kIllegalAddress = 2;
constexpr int kIllegalValue = 3;
constexpr int kMaxReadCount = 125;
constexpr std::uint64_t kGarbageDelayUs = 100000;
constexpr std::uint64_t kUsPerMs = 1000;
// 11 bits a character (start, 8 data, parity or second stop, stop):
// 9600 baud gives 1145.8 us a character.
constexpr double kBitsPerChar = 11.0;

constexpr int kEraseCommand = 0x10;
constexpr int kS1Record = 0x20;
constexpr int kS2Record = 0x21;
constexpr int kCompletedCommand = 0x30;
constexpr int kExecuteCommand = 0x31;
constexpr char kExecuteAddress[] = {0x00, 0x08, 0x00, 0x04};
constexpr char kHex[] = "0123456789ABCDEF";

unsigned u8(char c) {
  return static_cast<unsigned char>(c);
}

int word_at(std::string_view s, std::size_t i) {
  return static_cast<int>(u8(s[i]) * 256 + u8(s[i + 1]));
}

void put_word(std::string& s, int v) {
  const auto w = static_cast<unsigned>(v) & 0xFFFFU;
  s += static_cast<char>(w >> 8);
  s += static_cast<char>(w & 0xFFU);
}

bool crc_ok(std::string_view frame) {
  if (frame.size() < 4) return false;
  const std::uint16_t crc = modbus_crc16(frame.substr(0, frame.size() - 2));
  return u8(frame[frame.size() - 2]) == (crc & 0xFFU) && u8(frame.back()) == (crc >> 8);
}

unsigned checksum(std::string_view s) {
  unsigned sum = 0;
  for (char c : s)
    sum += u8(c);
  return sum & 0xFFU;
}

double char_time_us(int baud) {
  return kBitsPerChar * 1e6 / (baud > 0 ? baud : 9600);
}

}  // namespace

Controller::Controller(ControllerConfig config, Clock& clock)
    : config_(std::move(config)),
      clock_(clock),
      last_tick_(clock.tick_ms()),
      profiles_(max_profiles(config_.model)),
      software_(config_.software),
      rng_(config_.seed) {
  if (!is_known_model(config_.model)) {
    throw std::invalid_argument("unknown model " + std::to_string(config_.model));
  }
  for (const ParameterRegister& r : parameter_registers(config_.model)) {
    if (!r.held) continue;
    definitions_[r.number] = r;
    registers_[r.number] = config_.demo_setup ? r.demo_value : r.default_value;
  }
  if (config_.demo_setup) {
    profiles_.set_profiles(demo_profiles(config_.model));
    configured_ = 1;
  } else {
    profiles_.set_profiles(default_profiles());
  }
}

// ---- the line ----

std::uint64_t Controller::now_ms() {
  const std::uint32_t tick = clock_.tick_ms();
  line_ms_ += static_cast<std::uint32_t>(tick - last_tick_);  // modulo 2^32 across a wrap
  last_tick_ = tick;
  return line_ms_;
}

int Controller::attach_port() {
  const int id = next_port_++;
  outputs_[id];
  return id;
}

void Controller::detach_port(int port) {
  outputs_.erase(port);
}

void Controller::receive(int port, std::string_view bytes, std::string_view settings) {
  if (bytes.empty()) return;
  const std::uint64_t start = now_us();
  const int baud = baud_of(settings);
  const std::uint64_t end =
      start + (config_.line.pace ? static_cast<std::uint64_t>(std::llround(
                                       char_time_us(baud) * static_cast<double>(bytes.size())))
                                 : 0);
  if (start < silent_until_us_) {  // not listening: the bytes are lost
    last_rx_us_ = end;
    return;
  }
  if (start > last_rx_us_ + kResyncGapMs * kUsPerMs) {
    rx_.clear();
    skipping_ = false;
  }
  last_rx_us_ = end;
  if (skipping_) return;
  rx_.append(bytes);
  rx_port_ = port;
  rx_baud_ = baud;
  process(end);
}

std::size_t Controller::due_count(int port) {
  auto it = outputs_.find(port);
  if (it == outputs_.end()) return 0;
  const std::uint64_t now = now_us();
  std::size_t n = 0;
  for (auto b = it->second.begin(); b != it->second.end() && b->first <= now; ++b)
    ++n;
  return n;
}

int Controller::pop_due(int port) {
  auto it = outputs_.find(port);
  if (it == outputs_.end() || it->second.empty()) return -1;
  auto first = it->second.begin();
  if (first->first > now_us()) return -1;
  const int b = static_cast<int>(u8(first->second));
  it->second.erase(first);
  return b;
}

std::string Controller::take_due(int port) {
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

void Controller::clear_due(int port) {
  auto it = outputs_.find(port);
  if (it == outputs_.end()) return;
  it->second.erase(it->second.begin(), it->second.upper_bound(now_us()));
}

void Controller::drop_all(int port) {
  auto it = outputs_.find(port);
  if (it != outputs_.end()) it->second.clear();
}

std::optional<std::uint64_t> Controller::next_due_ms(int port) {
  auto it = outputs_.find(port);
  if (it == outputs_.end() || it->second.empty()) return std::nullopt;
  return (it->second.begin()->first + kUsPerMs - 1) / kUsPerMs;
}

bool Controller::hung_up_since(std::uint64_t since_us) {
  const std::uint64_t now = now_us();
  return std::any_of(hangups_us_.begin(), hangups_us_.end(),
                     [&](std::uint64_t h) { return h > since_us && h <= now; });
}

std::size_t Controller::hangups_until_now() {
  const std::uint64_t now = now_us();
  return static_cast<std::size_t>(std::count_if(hangups_us_.begin(), hangups_us_.end(),
                                                [&](std::uint64_t h) { return h <= now; }));
}

std::optional<std::uint64_t> Controller::hangup_ms(std::size_t index) const {
  if (index >= hangups_us_.size()) return std::nullopt;
  return (hangups_us_[index] + kUsPerMs - 1) / kUsPerMs;
}

// ---- receiving frames ----

void Controller::process(std::uint64_t at) {
  // Every step consumes bytes or stops, so the loop ends with the buffer.
  while (!rx_.empty() && !skipping_ && at >= silent_until_us_) {
    const bool consumed = mode_ == Mode::Application ? step_modbus(at) : step_loader(at);
    if (!consumed) break;
  }
  if (at < silent_until_us_) rx_.clear();
}

void Controller::skip_rest() {
  rx_.clear();
  skipping_ = true;
}

bool Controller::step_modbus(std::uint64_t at) {
  if ((config_.modbus_baud != 0 && rx_baud_ != config_.modbus_baud) ||
      static_cast<int>(u8(rx_[0])) != config_.address) {
    skip_rest();  // not for this controller, or noise at a foreign rate
    return false;
  }
  if (rx_.size() < 2) return false;
  const unsigned fc = u8(rx_[1]);
  std::size_t need = 0;
  if (fc == 3 || fc == 4 || fc == 6) {
    need = 8;
  } else if (fc == 16) {
    if (rx_.size() < 7) return false;
    need = 9 + u8(rx_[6]);
  } else {
    // A function of unknown length ends where its CRC matches.
    if (!crc_ok(rx_)) return false;
    need = rx_.size();
  }
  if (rx_.size() < need) return false;
  const std::string frame = rx_.substr(0, need);
  rx_.erase(0, need);
  if (crc_ok(frame)) handle_modbus(frame, at);
  return true;
}

bool Controller::step_loader(std::uint64_t at) {
  const bool app = mode_ == Mode::DownloadApp;
  if (app && firmware_ == FirmwareState::Complete &&
      static_cast<int>(u8(rx_[0])) == config_.address) {
    // A Modbus request after a completed download: the power has been cycled.
    if (rx_.size() < 8) return false;
    const unsigned fc = u8(rx_[1]);
    if ((fc == 3 || fc == 6) && crc_ok(std::string_view(rx_).substr(0, 8))) {
      restart(at, 0, true);
      return true;
    }
    skip_rest();
    return false;
  }
  if (app && rx_baud_ != kDownloadAppBaud) {
    skip_rest();
    return false;
  }
  const unsigned first = u8(rx_[0]);
  if (first == 0x00) {  // the online probe is a lone zero byte
    if (rx_.size() > 1) {
      skip_rest();
      return false;
    }
    rx_.clear();
    reply(std::string(1, '\x01'), at);
    return true;
  }
  if (first != 0xFF) {
    skip_rest();
    return false;
  }
  if (rx_.size() < 3) return false;
  const std::size_t need = 4 + u8(rx_[2]);
  if (rx_.size() < need) return false;
  const std::string frame = rx_.substr(0, need);
  rx_.erase(0, need);
  const int cmd = static_cast<int>(u8(frame[1]));
  if (checksum(std::string_view(frame).substr(0, need - 1)) != u8(frame.back())) {
    reply({'\xFF', static_cast<char>(cmd | 0x80)}, at);
  } else {
    handle_loader(cmd, frame.substr(3, need - 4), at);
  }
  return true;
}

void Controller::handle_modbus(const std::string& frame, std::uint64_t at) {
  const unsigned fc = u8(frame[1]);
  const auto exception = [&](int code) {
    std::string e{frame[0], static_cast<char>(fc | 0x80), static_cast<char>(code)};
    reply(with_modbus_crc(e), at);
  };
  if (fc == 3) {
    const int first = word_at(frame, 2);
    const int count = word_at(frame, 4);
    if (count < 1 || count > kMaxReadCount) return exception(kIllegalValue);
    std::string r{frame[0], static_cast<char>(fc), static_cast<char>(count * 2)};
    for (int i = 0; i < count; ++i) {
      const auto v = read_register(first + i);
      if (!v) return exception(kIllegalAddress);
      put_word(r, *v);
    }
    reply(with_modbus_crc(r), at);
  } else if (fc == 6) {
    const int reg = word_at(frame, 2);
    const auto value = static_cast<std::int16_t>(word_at(frame, 4));
    if (auto refused = config_.faults.refuse.find(reg); refused != config_.faults.refuse.end()) {
      return exception(refused->second);
    }
    if (config_.faults.forget.count(reg) != 0) return reply(frame, at);  // echoed, not stored
    const WriteOutcome outcome = write_effects(reg, value);
    if (outcome.exception != 0) return exception(outcome.exception);
    reply(frame, at);  // the echo
    if (outcome.silence_ms > 0) {
      silent_until_us_ = at + outcome.silence_ms * kUsPerMs;
    }
  } else {
    exception(kIllegalFunction);
  }
}

void Controller::handle_loader(int cmd, const std::string& data, std::uint64_t at) {
  const std::string ack{'\xFF', static_cast<char>(cmd)};
  const std::string refused{'\xFF', static_cast<char>(cmd | 0x80)};
  const auto record = [&](MemoryImage& image) {
    const std::size_t address_bytes = cmd == kS1Record ? 2 : 3;
    if (data.size() < address_bytes) return false;
    std::uint32_t address = 0;
    for (std::size_t i = 0; i < address_bytes; ++i)
      address = address * 256 + u8(data[i]);
    return image.write(address, std::string_view(data).substr(address_bytes));
  };

  if (mode_ == Mode::Bootloader) {
    switch (cmd) {
      case kS1Record:
      case kS2Record:
        if (!record(ram_)) return reply(refused, at);
        app_complete_ = false;
        return reply(ack, at);
      case kCompletedCommand:
        app_complete_ = !ram_.empty();
        return reply(ack, at);
      case kExecuteCommand:
        if (!app_complete_ || data != std::string_view(kExecuteAddress, 4)) {
          return reply(refused, at);
        }
        reply(ack, at);
        mode_ = Mode::DownloadApp;
        return;
      default:
        return reply(refused, at);
    }
  }

  switch (cmd) {  // the download application
    case kEraseCommand:
      if (!data.empty()) return reply(refused, at);
      flash_.clear();
      firmware_ = FirmwareState::Erased;
      ++changes_;
      silent_until_us_ = at + config_.timing.erase_ms * kUsPerMs;
      return reply(ack, silent_until_us_);
    case kS1Record:
    case kS2Record:
      if (firmware_ == FirmwareState::Factory || !record(flash_)) return reply(refused, at);
      firmware_ = FirmwareState::Erased;
      ++changes_;
      return reply(ack, at);
    case kCompletedCommand:
      if (firmware_ == FirmwareState::Erased && !flash_.empty()) {
        firmware_ = FirmwareState::Complete;
        ++changes_;
      }
      return reply(ack, at);
    default:
      return reply(refused, at);
  }
}

// ---- replies on the line ----

double Controller::uniform() {
  return static_cast<double>(rng_()) / 4294967296.0;
}

void Controller::reply(std::string bytes, std::uint64_t at) {
  ++exchanges_;
  const Faults& faults = config_.faults;
  const LineModel& line = config_.line;
  // Three draws for every reply, so that a seed gives the same run whatever
  // the probabilities.
  const bool lost = uniform() < faults.drop;
  const bool corrupt = uniform() < faults.crc;
  const bool noise = uniform() < faults.garbage;

  std::uint64_t delivered = at;
  auto queue = outputs_.find(rx_port_);
  if (!lost && queue != outputs_.end()) {
    if (corrupt) bytes.back() = static_cast<char>(~u8(bytes.back()));
    const double char_us = line.pace ? char_time_us(rx_baud_) : 0.0;
    std::uint64_t start = at + (line.turnaround_ms + faults.late_ms) * kUsPerMs;
    if (line.pace) start = std::max(start, tx_free_us_);
    std::uint64_t sent = start;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      sent = start + static_cast<std::uint64_t>(std::llround(char_us * static_cast<double>(i + 1)));
      std::uint64_t due = sent;
      if (line.chunk_ms > 0 && line.chunk_bytes > 0) {
        const std::uint64_t period = line.chunk_ms * kUsPerMs;
        due = (due + period - 1) / period * period;
        while (queue->second.count(due) >= static_cast<std::size_t>(line.chunk_bytes)) {
          due += period;
        }
      }
      queue->second.emplace(due, bytes[i]);
      delivered = std::max(delivered, due);
    }
    if (line.pace) tx_free_us_ = sent;
    if (noise) {
      const auto count = 1 + rng_() % 4;
      for (unsigned i = 0; i < count; ++i) {
        queue->second.emplace(sent + kGarbageDelayUs, static_cast<char>(rng_() & 0xFFU));
      }
    }
  }
  if (faults.hangup_after > 0 &&
      exchanges_ % static_cast<std::uint64_t>(faults.hangup_after) == 0) {
    hangups_us_.push_back(delivered + kUsPerMs);  // a moment after the last byte
  }
}

// ---- registers ----

std::optional<std::int16_t> Controller::read_register(int reg) const {
  switch (reg) {
    case reg::kDeviceType:
      return static_cast<std::int16_t>(config_.model);
    case reg::kSerialHigh:
      return static_cast<std::int16_t>(config_.serial_a);
    case reg::kSerialLow:
      return static_cast<std::int16_t>(config_.serial_b);
    case reg::kSoftwareNumber:
      return static_cast<std::int16_t>(software_);
    case reg::kRevision:
      return static_cast<std::int16_t>(config_.revision);
    case reg::kRestart:
    case reg::kDefaultsCommand:
    case reg::kDownloadMode:
      return 0;
    case reg::kDefaultsFlag:
      return configured_;
    default:
      break;
  }
  if (auto it = registers_.find(reg); it != registers_.end()) return it->second;
  if (ProfileStore::holds(reg)) return profiles_.read(reg);
  return std::nullopt;
}

Controller::WriteOutcome Controller::write_effects(int reg, std::int16_t value) {
  switch (reg) {
    case reg::kDeviceType:
    case reg::kSerialHigh:
    case reg::kSerialLow:
    case reg::kSoftwareNumber:
    case reg::kRevision:
      return {kIllegalAddress, 0};
    case reg::kRestart: {  // stores the setup; silent while it writes
      const std::uint32_t silence = unstored_ ? config_.timing.store_ms : 0;
      unstored_ = false;
      return {0, silence};
    }
    case reg::kDefaultsFlag:
      if (value != 0 && value != 1) return {kIllegalValue, 0};
      configured_ = value;
      unstored_ = true;
      ++changes_;
      return {};
    case reg::kDefaultsCommand:
      if (value != reg::kDefaultsValue) return {kIllegalValue, 0};
      restore_defaults();
      return {0, config_.timing.defaults_ms};
    case reg::kDownloadMode:
      if (value == reg::kDownloadModeArm) return {};
      if (value != reg::kDownloadModeLoader && value != reg::kDownloadModeNewLoader) {
        return {kIllegalValue, 0};
      }
      mode_ = Mode::Bootloader;
      ram_.clear();
      app_complete_ = false;
      return {0, config_.timing.bootloader_ms};
    default:
      break;
  }
  if (auto def = definitions_.find(reg); def != definitions_.end()) {
    if (value < def->second.min || value > def->second.max) return {kIllegalValue, 0};
    registers_[reg] = value;
    configured_ = 1;
    unstored_ = true;
    ++changes_;
    return {};
  }
  if (ProfileStore::holds(reg)) {
    const int code = profiles_.write(reg, value);
    if (code == 0 && reg != reg::kProfileSelect && reg != reg::kStepSelect) {
      configured_ = 1;
      unstored_ = true;
      ++changes_;
    }
    return {code, 0};
  }
  return {kIllegalAddress, 0};
}

int Controller::write_register(int reg, std::int16_t value) {
  const WriteOutcome outcome = write_effects(reg, value);
  if (outcome.silence_ms > 0) {
    silent_until_us_ = now_us() + outcome.silence_ms * kUsPerMs;
    rx_.clear();
  }
  return outcome.exception;
}

void Controller::set_register(int reg, std::int16_t value) {
  if (reg == reg::kDefaultsFlag) {
    configured_ = value;
  } else if (auto it = registers_.find(reg); it != registers_.end()) {
    it->second = value;
  } else {
    throw std::out_of_range("no setup register " + std::to_string(reg));
  }
  ++changes_;
}

void Controller::set_profiles(Profiles profiles) {
  profiles_.set_profiles(std::move(profiles));
  ++changes_;
}

void Controller::restore_defaults() {
  for (auto& [reg, value] : registers_)
    value = definitions_.at(reg).default_value;
  profiles_.set_profiles(default_profiles());
  profiles_.select(1, 1);
  configured_ = 0;
  unstored_ = true;
  ++changes_;
}

// ---- power ----

void Controller::power_cycle() {
  for (auto& [id, queue] : outputs_)
    queue.clear();  // what was on its way is lost
  restart(now_us(), config_.timing.power_up_ms, false);
}

void Controller::break_off_download() {
  flash_.clear();
  ram_.clear();
  app_complete_ = false;
  firmware_ = FirmwareState::Erased;
  mode_ = Mode::Bootloader;
  ++changes_;
}

void Controller::restart(std::uint64_t at, std::uint32_t silence_ms, bool keep_input) {
  ram_.clear();
  app_complete_ = false;
  if (!keep_input) {
    rx_.clear();
    skipping_ = false;
  }
  mode_ = Mode::Application;
  if (firmware_ == FirmwareState::Erased) {
    mode_ = Mode::Bootloader;  // no valid firmware
  } else if (firmware_ == FirmwareState::Complete) {
    const auto field = software_field();
    if (field) {
      software_ = std::stoi(field->substr(8), nullptr, 16);
    } else {
      mode_ = Mode::Bootloader;
    }
  }
  profiles_.select(1, 1);
  silent_until_us_ = at + silence_ms * kUsPerMs;
  ++changes_;
}

std::optional<std::string> Controller::software_field() const {
  if (!flash_.written(kSoftwareFieldAddress, 6)) return std::nullopt;
  std::string s;
  for (char c : flash_.read(kSoftwareFieldAddress, 6)) {
    s += kHex[u8(c) >> 4];
    s += kHex[u8(c) & 0xFU];
  }
  return s;
}

// ---- state ----

Snapshot Controller::snapshot() const {
  Snapshot s;
  s.registers = registers_;
  s.registers[reg::kDefaultsFlag] = configured_;
  s.profiles = profiles_.profiles();
  return s;
}

SavedState Controller::saved_state() const {
  SavedState s;
  s.setup = snapshot();
  s.firmware = firmware_;
  s.software_field = software_field().value_or("");
  s.flash_bytes = flash_.written_count();
  s.flash_low = flash_.lowest().value_or(0);
  s.flash_high = flash_.highest().value_or(0);
  return s;
}

void Controller::load(const SavedState& state) {
  for (const auto& [reg, value] : state.setup.registers) {
    if (reg == reg::kDefaultsFlag) {
      configured_ = value;
    } else if (auto it = registers_.find(reg); it != registers_.end()) {
      it->second = value;
    }
  }
  Profiles profiles;
  for (const auto& [number, profile] : state.setup.profiles) {
    if (number >= 1 && number <= profiles_.max_profiles() && !profile.steps.empty()) {
      profiles[number] = profile;
    }
  }
  profiles_.set_profiles(std::move(profiles));
  firmware_ = state.firmware;
  flash_.clear();
  const std::string& field = state.software_field;
  if (field.size() == 12 &&
      field.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos) {
    std::string bytes;
    for (std::size_t i = 0; i < 12; i += 2) {
      bytes += static_cast<char>(std::stoi(field.substr(i, 2), nullptr, 16));
    }
    flash_.write(kSoftwareFieldAddress, bytes);
  }
  mode_ = firmware_ == FirmwareState::Erased ? Mode::Bootloader : Mode::Application;
  ++changes_;
}

}  // namespace r7::sim
