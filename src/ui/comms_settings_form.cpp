#include "ui/comms_settings_form.h"

#include <filesystem>

#include "app/settings_file.h"

namespace r7 {

namespace {

constexpr std::array<const char*, kProtocolFrames> kFrameCaptions{
    "Full Protocol", "Modbus Protocol", "Xon Protocol"};

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

bool CommsSettingsForm::fill_frame(int index) {
  if (!comms_.slot_defined(index)) return false;
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
  if (!comms_.slot_defined(kModbusSlot)) return false;
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
  check(line_field_accepted(LineField::Port, f.port), kBadPortMessage);
  check(line_field_accepted(LineField::Baud, f.baud), kBadBaudMessage);
  check(line_field_accepted(LineField::Parity, f.parity), kBadParityMessage);
  check(line_field_accepted(LineField::DataBits, f.data_bits), kBadDataBitsMessage);
  check(line_field_accepted(LineField::StopBits, f.stop_bits), kBadStopBitsMessage);
  return valid;
}

void CommsSettingsForm::cmd_SaveChanges_Click(int index) {
  if (settings_valid(index)) {
    const ProtocolFrameTexts& f = frames_.at(static_cast<std::size_t>(index));
    const std::filesystem::path& file = comms_.settings_file();
    write_profile_string(kCommsSection, comm_port_key(index),
                         stored_line_field(LineField::Port, f.port), file);
    write_profile_string(kCommsSection, port_setting_key(index),
                         stored_line_field(LineField::Baud, f.baud) + "," +
                             stored_line_field(LineField::Parity, f.parity) + "," +
                             stored_line_field(LineField::DataBits, f.data_bits) + "," +
                             stored_line_field(LineField::StopBits, f.stop_bits),
                         file);
  }
  field_changed[static_cast<std::size_t>(index)] = false;
  comms_.init_comms();
}

bool CommsSettingsForm::Form_Unload() {
  if (field_changed[kCommonPortField]) {
    if (!line_field_accepted(LineField::Port, common_port_)) {
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
