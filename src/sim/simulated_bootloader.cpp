#include "sim/simulated_bootloader.h"

#include <string_view>

#include "sim/catalog.h"

namespace r7::sim {

namespace {

constexpr int kEraseCommand = 0x10;
constexpr int kS1Record = 0x20;
constexpr int kS2Record = 0x21;
constexpr int kCompletedCommand = 0x30;
constexpr int kExecuteCommand = 0x31;
constexpr char kExecuteAddress[] = {0x00, 0x08, 0x00, 0x04};
constexpr char kHex[] = "0123456789ABCDEF";

// The controller's RAM, where the resident bootloader puts a download application.
struct AddressRange {
  std::uint32_t first;
  std::uint32_t last;
};
constexpr AddressRange kRam[] = {{0x000800, 0x001FFF}, {0x080000, 0x08FFFF}};

bool in_ram(std::uint32_t address, std::size_t count) {
  for (const AddressRange& r : kRam) {
    if (address >= r.first && address <= r.last && count <= r.last - address + 1) return true;
  }
  return false;
}

unsigned u8(char c) {
  return static_cast<unsigned char>(c);
}

unsigned checksum(std::string_view s) {
  unsigned sum = 0;
  for (char c : s)
    sum += u8(c);
  return sum & 0xFFU;
}

std::string ack(int cmd) {
  return {'\xFF', static_cast<char>(cmd)};
}

std::string refused(int cmd) {
  return {'\xFF', static_cast<char>(cmd | 0x80)};
}

}  // namespace

SimulatedBootloader::SimulatedBootloader(SimulatedLine& line, const Timing& timing)
    : line_(line), timing_(timing) {}

bool SimulatedBootloader::step(std::uint64_t at) {
  std::string& rx = line_.input();
  if (mode_ == Mode::DownloadApp && line_.input_baud() != kDownloadAppBaud) {
    line_.skip_rest();
    return false;
  }
  const unsigned first = u8(rx[0]);
  if (first == 0x00) {  // the online probe is a lone zero byte
    if (rx.size() > 1) {
      line_.skip_rest();
      return false;
    }
    rx.clear();
    line_.send(std::string(1, '\x01'), at);
    return true;
  }
  if (first != 0xFF) {
    line_.skip_rest();
    return false;
  }
  return step_frame(at);
}

// A frame FF cmd n data checksum, once it is whole.
bool SimulatedBootloader::step_frame(std::uint64_t at) {
  std::string& rx = line_.input();
  if (rx.size() < 3) return false;
  const std::size_t need = 4 + u8(rx[2]);
  if (rx.size() < need) return false;
  const std::string frame = rx.substr(0, need);
  rx.erase(0, need);
  const int cmd = static_cast<int>(u8(frame[1]));
  if (checksum(std::string_view(frame).substr(0, need - 1)) != u8(frame.back())) {
    line_.send(refused(cmd), at);
  } else if (mode_ == Mode::Bootloader) {
    handle_loader(cmd, frame.substr(3, need - 4), at);
  } else {
    handle_download_app(cmd, frame.substr(3, need - 4), at);
  }
  return true;
}

bool SimulatedBootloader::record(int cmd, const std::string& data, MemoryImage& image) const {
  const std::size_t address_bytes = cmd == kS1Record ? 2 : 3;
  if (data.size() < address_bytes) return false;
  std::uint32_t address = 0;
  for (std::size_t i = 0; i < address_bytes; ++i)
    address = address * 256 + u8(data[i]);
  const std::string_view bytes = std::string_view(data).substr(address_bytes);
  if (&image == &ram_ && !in_ram(address, bytes.size())) return false;
  return image.write(address, bytes);
}

void SimulatedBootloader::handle_loader(int cmd, const std::string& data, std::uint64_t at) {
  switch (cmd) {
    case kS1Record:
    case kS2Record:
      if (!record(cmd, data, ram_)) return line_.send(refused(cmd), at);
      app_complete_ = false;
      return line_.send(ack(cmd), at);
    case kCompletedCommand:
      app_complete_ = !ram_.empty();
      return line_.send(ack(cmd), at);
    case kExecuteCommand:
      if (!app_complete_ || data != std::string_view(kExecuteAddress, 4)) {
        return line_.send(refused(cmd), at);
      }
      line_.send(ack(cmd), at);
      mode_ = Mode::DownloadApp;
      return;
    default:
      return line_.send(refused(cmd), at);
  }
}

void SimulatedBootloader::handle_download_app(int cmd, const std::string& data, std::uint64_t at) {
  switch (cmd) {
    case kEraseCommand: {
      if (!data.empty()) return line_.send(refused(cmd), at);
      flash_.clear();
      firmware_ = FirmwareState::Erased;
      ++changes_;
      const std::uint64_t erased = at + timing_.erase_ms * kUsPerMs;
      line_.silence_until(erased);
      return line_.send(ack(cmd), erased);
    }
    case kS1Record:
    case kS2Record:
      if (firmware_ == FirmwareState::Factory || !record(cmd, data, flash_)) {
        return line_.send(refused(cmd), at);
      }
      firmware_ = FirmwareState::Erased;
      ++changes_;
      ++flash_records_;
      return line_.send(ack(cmd), at);
    case kCompletedCommand:
      if (firmware_ == FirmwareState::Erased && !flash_.empty()) {
        firmware_ = FirmwareState::Complete;
        ++changes_;
      }
      return line_.send(ack(cmd), at);
    default:
      return line_.send(refused(cmd), at);
  }
}

void SimulatedBootloader::enter() {
  mode_ = Mode::Bootloader;
  ram_.clear();
  app_complete_ = false;
}

std::optional<int> SimulatedBootloader::power_up() {
  ram_.clear();
  app_complete_ = false;
  mode_ = Mode::Application;
  if (firmware_ == FirmwareState::Erased) {
    mode_ = Mode::Bootloader;  // no valid firmware
  } else if (firmware_ == FirmwareState::Complete) {
    if (const auto field = software_field()) return std::stoi(field->substr(8), nullptr, 16);
    mode_ = Mode::Bootloader;
  }
  return std::nullopt;
}

void SimulatedBootloader::break_off_download() {
  flash_.clear();
  ram_.clear();
  app_complete_ = false;
  firmware_ = FirmwareState::Erased;
  mode_ = Mode::Bootloader;
  ++changes_;
}

void SimulatedBootloader::load(FirmwareState firmware, const std::string& field) {
  firmware_ = firmware;
  flash_.clear();
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

std::optional<std::string> SimulatedBootloader::software_field() const {
  if (!flash_.written(kSoftwareFieldAddress, 6)) return std::nullopt;
  std::string s;
  for (char c : flash_.read(kSoftwareFieldAddress, 6)) {
    s += kHex[u8(c) >> 4];
    s += kHex[u8(c) & 0xFU];
  }
  return s;
}

}  // namespace r7::sim
