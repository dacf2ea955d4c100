#include "sim/modbus_slave.h"

#include <stdexcept>

#include "modbus/modbus.h"
#include "modbus/registers.h"

namespace r7::sim {

namespace {

constexpr int kIllegalFunction = 1;
constexpr int kIllegalAddress = 2;
constexpr int kIllegalValue = 3;
constexpr int kMaxReadCount = 125;

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

}  // namespace

ModbusSlave::ModbusSlave(const ControllerConfig& config, SimulatedLine& line,
                         SimulatedBootloader& loader)
    : config_(config),
      line_(line),
      loader_(loader),
      profiles_(max_profiles(config.model)),
      software_(config.software) {
  if (!is_known_model(config.model)) {
    throw std::invalid_argument("unknown model " + std::to_string(config.model));
  }
  for (const ParameterRegister& r : parameter_registers(config.model)) {
    if (!r.held) continue;
    definitions_[r.number] = r;
    registers_[r.number] = config.demo_setup ? r.demo_value : r.default_value;
  }
  if (config.demo_setup) {
    profiles_.set_profiles(demo_profiles(config.model));
    configured_ = 1;
  } else {
    profiles_.set_profiles(default_profiles());
  }
}

// ---- frames ----

bool ModbusSlave::addressed(std::string_view input) const {
  return !input.empty() && static_cast<int>(u8(input[0])) == config_.address;
}

bool ModbusSlave::read_or_write_request(std::string_view frame) {
  if (frame.size() != 8) return false;
  const unsigned fc = u8(frame[1]);
  return (fc == 3 || fc == 6) && crc_ok(frame);
}

bool ModbusSlave::step(std::uint64_t at) {
  std::string& rx = line_.input();
  if ((config_.modbus_baud != 0 && line_.input_baud() != config_.modbus_baud) || !addressed(rx)) {
    line_.skip_rest();  // not for this controller, or noise at a foreign rate
    return false;
  }
  if (rx.size() < 2) return false;
  const unsigned fc = u8(rx[1]);
  std::size_t need = 0;
  if (fc == 3 || fc == 4 || fc == 6) {
    need = 8;
  } else if (fc == 16) {
    if (rx.size() < 7) return false;
    need = 9 + u8(rx[6]);
  } else {
    // A function of unknown length ends where its CRC matches.
    if (!crc_ok(rx)) return false;
    need = rx.size();
  }
  if (rx.size() < need) return false;
  const std::string frame = rx.substr(0, need);
  rx.erase(0, need);
  if (crc_ok(frame)) handle(frame, at);
  return true;
}

void ModbusSlave::handle(const std::string& frame, std::uint64_t at) {
  const unsigned fc = u8(frame[1]);
  if (fc == 3) {
    answer_read(frame, at);
  } else if (fc == 6) {
    answer_write(frame, at);
  } else {
    send_exception(frame, kIllegalFunction, at);
  }
}

void ModbusSlave::send_exception(const std::string& frame, int code, std::uint64_t at) {
  std::string e{frame[0], static_cast<char>(u8(frame[1]) | 0x80), static_cast<char>(code)};
  line_.send(with_modbus_crc(e), at);
}

void ModbusSlave::answer_read(const std::string& frame, std::uint64_t at) {
  const int first = word_at(frame, 2);
  const int count = word_at(frame, 4);
  if (count < 1 || count > kMaxReadCount) return send_exception(frame, kIllegalValue, at);
  std::string r{frame[0], frame[1], static_cast<char>(count * 2)};
  const std::map<int, int>& refused = config_.faults.refuse_reads;
  for (int i = 0; i < count; ++i) {
    if (const auto it = refused.find(first + i); it != refused.end()) {
      return send_exception(frame, it->second, at);
    }
    const auto v = read_register(first + i);
    if (!v) return send_exception(frame, kIllegalAddress, at);
    put_word(r, *v);
  }
  line_.send(with_modbus_crc(r), at);
}

void ModbusSlave::answer_write(const std::string& frame, std::uint64_t at) {
  const int reg = word_at(frame, 2);
  const auto value = static_cast<std::int16_t>(word_at(frame, 4));
  const Faults& faults = config_.faults;
  if (auto refused = faults.refuse.find(reg); refused != faults.refuse.end()) {
    return send_exception(frame, refused->second, at);
  }
  if (faults.forget.count(reg) != 0) return line_.send(frame, at);  // echoed, not stored
  const WriteOutcome outcome = write_register(reg, value);
  if (outcome.exception != 0) return send_exception(frame, outcome.exception, at);
  line_.send(frame, at);  // the echo
  if (outcome.silence_ms > 0) line_.silence_until(at + outcome.silence_ms * kUsPerMs);
}

// ---- registers ----

std::optional<std::int16_t> ModbusSlave::read_register(int reg) const {
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

ModbusSlave::WriteOutcome ModbusSlave::write_register(int reg, std::int16_t value) {
  if (const auto outcome = command_effects(reg, value)) return *outcome;
  return setup_write(reg, value);
}

// The identity and the command registers; nullopt for the others.
std::optional<ModbusSlave::WriteOutcome> ModbusSlave::command_effects(int reg, std::int16_t value) {
  switch (reg) {
    case reg::kDeviceType:
    case reg::kSerialHigh:
    case reg::kSerialLow:
    case reg::kSoftwareNumber:
    case reg::kRevision:
      return WriteOutcome{kIllegalAddress, 0};
    case reg::kRestart: {  // stores the setup; silent while it writes
      const std::uint32_t silence = unstored_ ? config_.timing.store_ms : 0;
      unstored_ = false;
      return WriteOutcome{0, silence};
    }
    case reg::kDefaultsFlag:
      if (value != 0 && value != 1) return WriteOutcome{kIllegalValue, 0};
      configured_ = value;
      unstored_ = true;
      ++changes_;
      return WriteOutcome{};
    case reg::kDefaultsCommand:
      if (value != reg::kDefaultsValue) return WriteOutcome{kIllegalValue, 0};
      restore_defaults();
      return WriteOutcome{0, config_.timing.defaults_ms};
    case reg::kDownloadMode:
      if (value == reg::kDownloadModeArm) return WriteOutcome{};
      if (value != reg::kDownloadModeLoader && value != reg::kDownloadModeNewLoader) {
        return WriteOutcome{kIllegalValue, 0};
      }
      loader_.enter();
      return WriteOutcome{0, config_.timing.bootloader_ms};
    default:
      return std::nullopt;
  }
}

// The setup and profile registers.
ModbusSlave::WriteOutcome ModbusSlave::setup_write(int reg, std::int16_t value) {
  if (auto def = definitions_.find(reg); def != definitions_.end()) {
    if (value < def->second.min || value > def->second.max) return {kIllegalValue, 0};
    registers_[reg] = value;
    mark_changed();
    return {};
  }
  if (ProfileStore::holds(reg)) {
    const int code = profiles_.write(reg, value);
    if (code == 0 && reg != reg::kProfileSelect && reg != reg::kStepSelect) mark_changed();
    return {code, 0};
  }
  return {kIllegalAddress, 0};
}

// An accepted setup write: configured, and to be stored.
void ModbusSlave::mark_changed() {
  configured_ = 1;
  unstored_ = true;
  ++changes_;
}

void ModbusSlave::set_register(int reg, std::int16_t value) {
  if (reg == reg::kDefaultsFlag) {
    configured_ = value;
  } else if (auto it = registers_.find(reg); it != registers_.end()) {
    it->second = value;
  } else {
    throw std::out_of_range("no setup register " + std::to_string(reg));
  }
  ++changes_;
}

// ---- the setup ----

void ModbusSlave::set_profiles(Profiles profiles) {
  profiles_.set_profiles(std::move(profiles));
  ++changes_;
}

void ModbusSlave::restore_defaults() {
  for (auto& [reg, value] : registers_)
    value = definitions_.at(reg).default_value;
  profiles_.set_profiles(default_profiles());
  profiles_.select(1, 1);
  configured_ = 0;
  unstored_ = true;
  ++changes_;
}

Snapshot ModbusSlave::snapshot() const {
  Snapshot s;
  s.registers = registers_;
  s.registers[reg::kDefaultsFlag] = configured_;
  s.profiles = profiles_.profiles();
  return s;
}

void ModbusSlave::load(const Snapshot& setup) {
  for (const auto& [reg, value] : setup.registers) {
    if (reg == reg::kDefaultsFlag) {
      configured_ = value;
    } else if (auto it = registers_.find(reg); it != registers_.end()) {
      it->second = value;
    }
  }
  Profiles profiles;
  for (const auto& [number, profile] : setup.profiles) {
    if (number >= 1 && number <= profiles_.max_profiles() && !profile.steps.empty()) {
      profiles[number] = profile;
    }
  }
  profiles_.set_profiles(std::move(profiles));
  ++changes_;
}

void ModbusSlave::power_up(std::optional<int> software) {
  if (software) software_ = *software;
  profiles_.select(1, 1);
}

}  // namespace r7::sim
