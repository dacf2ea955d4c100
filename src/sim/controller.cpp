#include "sim/controller.h"

namespace r7::sim {

Controller::Controller(ControllerConfig config, Clock& clock)
    : config_(std::move(config)),
      line_(clock, config_.line, config_.faults, config_.seed),
      loader_(line_, config_.timing),
      modbus_(config_, line_, loader_) {}

void Controller::receive(int port, std::string_view bytes, std::string_view settings) {
  if (const auto heard = line_.receive(port, bytes, settings)) process(*heard);
}

void Controller::process(std::uint64_t at) {
  const std::string& rx = line_.input();
  // Every step consumes bytes or stops, so the loop ends with the buffer.
  while (!rx.empty() && !line_.skipping() && at >= line_.silent_until_us()) {
    if (!step(at)) break;
  }
  if (at < line_.silent_until_us()) line_.input().clear();
}

// Hands the input to what runs.
bool Controller::step(std::uint64_t at) {
  if (loader_.mode() == Mode::Application) return modbus_.step(at);
  if (loader_.mode() == Mode::DownloadApp && loader_.firmware_state() == FirmwareState::Complete &&
      modbus_.addressed(line_.input())) {
    return step_after_download(at);
  }
  const bool stepped = loader_.step(at);
  cut_power_when_due(at);
  return stepped;
}

// The power fails as the N-th firmware record is acknowledged: the
// acknowledgement never reaches the line.
void Controller::cut_power_when_due(std::uint64_t at) {
  const int after = config_.faults.power_cut_after;
  if (power_cut_ || after <= 0 || loader_.flash_records() < static_cast<std::uint64_t>(after)) {
    return;
  }
  power_cut_ = true;
  line_.drop_all_ports();
  restart(at, config_.timing.power_up_ms, false);
}

// A Modbus request after a completed download: the power has been cycled, and
// the request stays for the new firmware to answer.
bool Controller::step_after_download(std::uint64_t at) {
  const std::string& rx = line_.input();
  if (rx.size() < 8) return false;
  if (ModbusSlave::read_or_write_request(std::string_view(rx).substr(0, 8))) {
    restart(at, 0, true);
    return true;
  }
  line_.skip_rest();
  return false;
}

int Controller::write_register(int reg, std::int16_t value) {
  const ModbusSlave::WriteOutcome outcome = modbus_.write_register(reg, value);
  if (outcome.silence_ms > 0) {
    line_.silence_until(now_us() + outcome.silence_ms * kUsPerMs);
    line_.input().clear();
  }
  return outcome.exception;
}

// ---- power ----

void Controller::power_cycle() {
  line_.drop_all_ports();  // what was on its way is lost
  restart(now_us(), config_.timing.power_up_ms, false);
}

void Controller::restart(std::uint64_t at, std::uint32_t silence_ms, bool keep_input) {
  if (!keep_input) line_.reset_input();
  modbus_.power_up(loader_.power_up());
  line_.silence_until(at + silence_ms * kUsPerMs);
  ++changes_;
}

// ---- state ----

SavedState Controller::saved_state() const {
  SavedState s;
  s.setup = modbus_.snapshot();
  s.firmware = loader_.firmware_state();
  s.software_field = loader_.software_field().value_or("");
  const MemoryImage& flash = loader_.flash();
  s.flash_bytes = flash.written_count();
  s.flash_low = flash.lowest().value_or(0);
  s.flash_high = flash.highest().value_or(0);
  s.flash_digest = flash.digest();
  return s;
}

void Controller::load(const SavedState& state) {
  modbus_.load(state.setup);
  loader_.load(state.firmware, state.software_field);
}

}  // namespace r7::sim
