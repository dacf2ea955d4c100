#include "ui/comms_settings_form.h"

#include <charconv>
#include <cmath>
#include <filesystem>

#include "app/settings_file.h"

namespace r7 {

namespace {

constexpr std::array<const char*, kProtocolFrames> kFrameCaptions{
    "Full Protocol", "Modbus Protocol", "Xon Protocol"};
constexpr std::array<double, 8> kBaudRates{300, 600, 1200, 2400, 4800, 9600, 19200, 38400};

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool whole(double v) {
  return std::isfinite(v) && v == std::floor(v);
}

// Port numbers are whole numbers: "2.5" is no port, though its value lies in 1..4.
bool port_valid(const std::string& text) {
  const double v = leading_number(text);
  return whole(v) && v >= 1 && v <= 4;
}

bool baud_valid(const std::string& text) {
  const double v = leading_number(text);
  for (double rate : kBaudRates) {
    if (v == rate) return true;
  }
  return false;
}

bool parity_valid(const std::string& text) {
  return text.size() == 1 && std::string_view("NnOoEe").find(text[0]) != std::string_view::npos;
}

bool data_bits_valid(const std::string& text) {
  const double v = leading_number(text);
  return v == 7 || v == 8;
}

bool stop_bits_valid(const std::string& text) {
  const double v = leading_number(text);
  return v == 1 || v == 2;
}

// The value a numeric field was accepted with, as plain decimal text: "9600abc"
// is accepted as 9600 and stored as "9600", so the settings string stays one
// that init_comms and the serial port can read back.
std::string accepted_number(const std::string& text) {
  return std::to_string(static_cast<long long>(leading_number(text)));
}

bool same_device(const std::string& device, const FoundPort& port) {
  if (device == port.system_location || device == port.name) return true;
  std::error_code ec;
  return !port.system_location.empty() &&
         std::filesystem::equivalent(device, port.system_location, ec) && !ec;
}

std::string described(const std::string& device, const std::string& description) {
  return description.empty() ? device : device + " (" + description + ")";
}

}  // namespace

double leading_number(std::string_view text) {
  std::string number;
  std::size_t i = 0;
  auto skip_blanks = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n'))
      ++i;
  };
  auto take_digits = [&] {
    bool any = false;
    for (skip_blanks(); i < text.size() && is_digit(text[i]); skip_blanks()) {
      number += text[i++];
      any = true;
    }
    return any;
  };
  skip_blanks();
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') number += '-';
    ++i;
  }
  bool digits = take_digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    std::string before = number;
    number += '.';
    if (take_digits()) {
      digits = true;
    } else {
      number = before;
    }
  }
  if (!digits) return 0.0;
  if (i < text.size() && std::string_view("EeDd").find(text[i]) != std::string_view::npos) {
    const std::size_t mantissa_end = number.size();
    const std::size_t at = i++;
    number += 'e';
    skip_blanks();
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) number += text[i++];
    if (!take_digits()) {
      number.resize(mantissa_end);  // "12E" is 12
      i = at;
    }
  }
  double value = 0.0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Beyond the range of a double: far outside every accepted value either way.
    return number.front() == '-' ? -HUGE_VAL : HUGE_VAL;
  }
  return ec == std::errc() ? value : 0.0;
}

const char* protocol_frame_caption(int index) {
  return index >= 0 && index < kProtocolFrames ? kFrameCaptions[static_cast<std::size_t>(index)]
                                               : "";
}

CommsSettingsForm::CommsSettingsForm(Comms& comms, Prompts& prompts)
    : comms_(comms),
      prompts_(prompts),
      frames_{{{"2", "9600", "o", "7", "1"},
               {"2", "9600", "n", "8", "1"},
               {"2", "38400", "n", "8", "1"}}} {}

namespace {

template <class Frame>
auto& member(Frame& frame, CommsField f) {
  switch (f) {
    case CommsField::Port:
      return frame.port;
    case CommsField::Baud:
      return frame.baud;
    case CommsField::Parity:
      return frame.parity;
    case CommsField::DataBits:
      return frame.data_bits;
    case CommsField::StopBits:
      return frame.stop_bits;
  }
  return frame.port;
}

}  // namespace

std::string& CommsSettingsForm::field(int index, CommsField f) {
  return member(frames_.at(static_cast<std::size_t>(index)), f);
}

const std::string& CommsSettingsForm::text(int index, CommsField f) const {
  return member(frames_.at(static_cast<std::size_t>(index)), f);
}

void CommsSettingsForm::set_text(int index, CommsField f, const std::string& value) {
  std::string& current = field(index, f);
  if (current == value) return;  // a change event only follows a real change
  current = value;
  field_changed[static_cast<std::size_t>(index)] = true;
}

void CommsSettingsForm::set_common_port(const std::string& value) {
  if (common_port_ == value) return;
  common_port_ = value;
  field_changed[kCommonPortField] = true;
}

bool CommsSettingsForm::slot_defined(int slot) const {
  return slot >= 0 && slot <= comms_.highest_slot() && comms_.port_number(slot) != 0;
}

bool CommsSettingsForm::fill_frame(int index) {
  if (!slot_defined(index)) return false;
  set_text(index, CommsField::Port, std::to_string(comms_.port_number(index)));
  // Cut at the first three commas; the stop bits are the last character.
  const std::string s = comms_.port_settings(index);
  const std::size_t npos = std::string::npos;
  const std::size_t p1 = s.find(',');
  const std::size_t p2 = p1 == npos ? npos : s.find(',', p1 + 1);
  const std::size_t p3 = p2 == npos ? npos : s.find(',', p2 + 1);
  bool filled = true;
  if (p1 != npos) {
    set_text(index, CommsField::Baud, s.substr(0, p1));
  } else {
    filled = false;
  }
  if (p2 != npos) {
    set_text(index, CommsField::Parity, s.substr(p1 + 1, p2 - p1 - 1));
  } else {
    filled = false;
  }
  if (p3 != npos) {
    set_text(index, CommsField::DataBits, s.substr(p2 + 1, p3 - p2 - 1));
  } else {
    filled = false;
  }
  if (!s.empty()) {
    set_text(index, CommsField::StopBits, s.substr(s.size() - 1));
  } else {
    filled = false;
  }
  return filled;
}

bool CommsSettingsForm::fill_common_port() {
  if (!slot_defined(kModbusSlot)) return false;
  set_common_port(std::to_string(comms_.port_number(kModbusSlot)));
  return true;
}

void CommsSettingsForm::Form_Activate() {
  comms_.init_comms();
  frame_unfilled = {};
  for (int i = 0; i < kProtocolFrames; ++i) {
    if (!fill_frame(i)) {
      frame_unfilled[static_cast<std::size_t>(i)] = true;
      field_changed[kCommonPortField] = true;
    }
  }
  if (!fill_common_port()) {
    set_common_port(text(kModbusSlot, CommsField::Port));
    field_changed[kCommonPortField] = true;
  }
  // Undo the change marks of the filling itself; a frame that could not be
  // filled stays marked, and so does the common port field.
  for (std::size_t i = 0; i < frame_unfilled.size(); ++i)
    field_changed[i] = frame_unfilled[i];
}

void CommsSettingsForm::copy_slots_to_fields() {
  for (int i = 0; i < kProtocolFrames; ++i)
    fill_frame(i);
  if (!fill_common_port()) set_common_port(text(kModbusSlot, CommsField::Port));
}

bool CommsSettingsForm::settings_valid(int index) {
  const ProtocolFrameTexts& f = frames_.at(static_cast<std::size_t>(index));
  bool valid = true;
  auto check = [&](bool ok, const char* message) {
    if (ok) return;
    prompts_.message(message);
    valid = false;
  };
  check(port_valid(f.port), kBadPortMessage);
  check(baud_valid(f.baud), kBadBaudMessage);
  check(parity_valid(f.parity), kBadParityMessage);
  check(data_bits_valid(f.data_bits), kBadDataBitsMessage);
  check(stop_bits_valid(f.stop_bits), kBadStopBitsMessage);
  return valid;
}

void CommsSettingsForm::cmd_SaveChanges_Click(int index) {
  if (settings_valid(index)) {
    const ProtocolFrameTexts& f = frames_.at(static_cast<std::size_t>(index));
    const std::filesystem::path& file = comms_.settings_file();
    write_profile_string(kCommsSection, comm_port_key(index), accepted_number(f.port), file);
    write_profile_string(kCommsSection, port_setting_key(index),
                         accepted_number(f.baud) + "," + f.parity + "," +
                             accepted_number(f.data_bits) + "," + accepted_number(f.stop_bits),
                         file);
  }
  field_changed[static_cast<std::size_t>(index)] = false;
  comms_.init_comms();
}

bool CommsSettingsForm::Form_Unload() {
  if (field_changed[kCommonPortField]) {
    if (!port_valid(common_port_)) {
      prompts_.message(kBadPortMessage);
      return false;
    }
    for (int i = 0; i < kProtocolFrames; ++i)
      set_text(i, CommsField::Port, common_port_);
    for (int i = 0; i < kProtocolFrames; ++i)
      cmd_SaveChanges_Click(i);
  }
  return true;
}

std::string port_devices_line(const PortNames& names, const std::vector<FoundPort>& found) {
  std::vector<bool> used(found.size(), false);
  std::string line;
  for (int port = 1; port <= 4; ++port) {
    const std::string device = names.device_name(port);
    std::string entry = "Port " + std::to_string(port) + ": " + device + " (not found)";
    for (std::size_t i = 0; i < found.size(); ++i) {
      if (!same_device(device, found[i])) continue;
      used[i] = true;
      entry = "Port " + std::to_string(port) + ": " + described(device, found[i].description);
      break;
    }
    if (!line.empty()) line += "; ";
    line += entry;
  }
  std::string others;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (used[i]) continue;
    others += (others.empty() ? "" : ", ") +
              described(found[i].system_location.empty() ? found[i].name : found[i].system_location,
                        found[i].description);
  }
  if (!others.empty()) line += "; also found: " + others;
  return line;
}

}  // namespace r7
