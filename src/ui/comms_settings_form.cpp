#include "ui/comms_settings_form.h"

#include <filesystem>

#include "app/settings_file.h"
#include "serial/network_device.h"

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

namespace {

// The texts a frame shows for a slot that is not defined.
const std::array<ProtocolFrameTexts, kProtocolFrames> kInitialTexts{{
    {"2", "9600", "o", "7", "1"},
    {"2", "9600", "n", "8", "1"},
    {"2", "38400", "n", "8", "1"},
}};

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

constexpr std::array<CommsField, 5> kAllFields{CommsField::Port, CommsField::Baud,
                                               CommsField::Parity, CommsField::DataBits,
                                               CommsField::StopBits};

// Cuts a settings string ("9600,N,8,1") at its first three commas into the
// frame's texts; the stop bits are the last character. Parts that are not
// there stay as they are; false when one was missing.
bool split_settings(const std::string& s, ProtocolFrameTexts& t) {
  const std::size_t npos = std::string::npos;
  const std::size_t p1 = s.find(',');
  const std::size_t p2 = p1 == npos ? npos : s.find(',', p1 + 1);
  const std::size_t p3 = p2 == npos ? npos : s.find(',', p2 + 1);
  if (p1 != npos) t.baud = s.substr(0, p1);
  if (p2 != npos) t.parity = s.substr(p1 + 1, p2 - p1 - 1);
  if (p3 != npos) t.data_bits = s.substr(p2 + 1, p3 - p2 - 1);
  if (!s.empty()) t.stop_bits = s.substr(s.size() - 1);
  return p3 != npos;
}

}  // namespace

CommsSettingsForm::CommsSettingsForm(Comms& comms, Prompts& prompts,
                                     std::filesystem::path settings_file)
    : comms_(comms),
      settings_file_(std::move(settings_file)),
      prompts_(prompts),
      frames_(kInitialTexts),
      common_port_(kInitialTexts[kModbusSlot].port) {}

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
  changed_[static_cast<std::size_t>(index)] = true;
}

void CommsSettingsForm::set_common_port(const std::string& value) {
  if (common_port_ == value) return;
  common_port_ = value;
  changed_[kCommonPortField] = true;
}

bool CommsSettingsForm::changed(int index) const {
  return changed_.at(static_cast<std::size_t>(index));
}

bool CommsSettingsForm::slot_missing(int index) const {
  return missing_.at(static_cast<std::size_t>(index));
}

std::string CommsSettingsForm::saved_common_port() const {
  return comms_.slot_defined(kModbusSlot) ? std::to_string(comms_.port_number(kModbusSlot))
                                          : kInitialTexts[kModbusSlot].port;
}

ProtocolFrameTexts CommsSettingsForm::saved_texts(int index) const {
  ProtocolFrameTexts t = kInitialTexts.at(static_cast<std::size_t>(index));
  if (!comms_.slot_defined(index)) {
    t.port = saved_common_port();
    return t;
  }
  t.port = std::to_string(comms_.port_number(index));
  split_settings(comms_.port_settings(index), t);
  return t;
}

void CommsSettingsForm::update_missing() {
  // Slot 0 is defined without a settings file too (port 2, 9600,N,8,1).
  for (int i = 0; i < kProtocolFrames; ++i) {
    ProtocolFrameTexts unused;
    missing_[static_cast<std::size_t>(i)] =
        !comms_.slot_defined(i) ||
        read_profile_int(kCommsSection, comm_port_key(i), 0, settings_file_) == 0 ||
        !split_settings(comms_.port_settings(i), unused);
  }
}

void CommsSettingsForm::fill_fields() {
  common_port_ = saved_common_port();
  for (int i = 0; i < kProtocolFrames; ++i)
    frames_[static_cast<std::size_t>(i)] = saved_texts(i);
  changed_ = {};
}

void CommsSettingsForm::Form_Activate() {
  comms_.init_comms(read_protocol_slots(settings_file_));
  update_missing();
  fill_fields();
}

void CommsSettingsForm::copy_slots_to_fields() {
  update_missing();
  fill_fields();
}

void CommsSettingsForm::cmd_Cancel_Click() {
  fill_fields();
}

bool CommsSettingsForm::settings_valid(int index) {
  const ProtocolFrameTexts saved = saved_texts(index);
  bool valid = true;
  for (CommsField f : kAllFields) {
    std::string& t = field(index, f);
    if (line_field_accepted(f, t)) continue;
    prompts_.message(f == CommsField::Port       ? kBadPortMessage
                     : f == CommsField::Baud     ? kBadBaudMessage
                     : f == CommsField::Parity   ? kBadParityMessage
                     : f == CommsField::DataBits ? kBadDataBitsMessage
                                                 : kBadStopBitsMessage);
    t = member(saved, f);  // the refused text does not stay looking accepted
    valid = false;
  }
  return valid;
}

bool CommsSettingsForm::save_frame(int index) {
  if (!settings_valid(index)) return false;
  const ProtocolFrameTexts& f = frames_.at(static_cast<std::size_t>(index));
  const std::filesystem::path& file = settings_file_;
  write_profile_string(kCommsSection, comm_port_key(index),
                       stored_line_field(LineField::Port, f.port), file);
  write_profile_string(kCommsSection, port_setting_key(index),
                       stored_line_field(LineField::Baud, f.baud) + "," +
                           stored_line_field(LineField::Parity, f.parity) + "," +
                           stored_line_field(LineField::DataBits, f.data_bits) + "," +
                           stored_line_field(LineField::StopBits, f.stop_bits),
                       file);
  changed_[static_cast<std::size_t>(index)] = false;
  return true;
}

void CommsSettingsForm::cmd_SaveChanges_Click(int index) {
  save_frame(index);
  comms_.init_comms(read_protocol_slots(settings_file_));
  update_missing();
  if (!changed_[kCommonPortField]) common_port_ = saved_common_port();
}

bool CommsSettingsForm::cmd_OK_Click() {
  if (changed_[kCommonPortField]) {
    if (!line_field_accepted(LineField::Port, common_port_)) {
      prompts_.message(kBadPortMessage);
      common_port_ = saved_common_port();
      changed_[kCommonPortField] = false;
      return false;
    }
    for (ProtocolFrameTexts& f : frames_)
      f.port = common_port_;
    for (int i = 0; i < kProtocolFrames; ++i)
      save_frame(i);
    changed_[kCommonPortField] = false;
  } else {
    const std::array<bool, kProtocolFrames> missing = missing_;
    // Edited frames that OK would not save: never dropped without a word.
    std::vector<int> unsaved;
    for (int i = 0; i < kProtocolFrames; ++i) {
      if (changed_[static_cast<std::size_t>(i)] && !missing[static_cast<std::size_t>(i)]) {
        unsaved.push_back(i);
      }
    }
    bool wrote = false;
    if (!unsaved.empty()) {
      std::string names;
      for (std::size_t k = 0; k < unsaved.size(); ++k) {
        names += (k == 0 ? "" : k + 1 == unsaved.size() ? " and " : ", ");
        names += protocol_frame_caption(unsaved[k]);
      }
      const Answer answer =
          prompts_.message_box({"Save the changes to " + names + "?", "Comm Port Setting",
                                Icon::Question, Buttons::YesNoCancel, Answer::Yes});
      if (answer == Answer::Cancel) return false;
      if (answer == Answer::Yes) {
        for (const int i : unsaved) {
          if (!save_frame(i)) return false;  // a refused field: the dialog stays open
          wrote = true;
        }
      }
    }
    for (int i = 0; i < kProtocolFrames; ++i) {
      if (missing[static_cast<std::size_t>(i)]) wrote = save_frame(i) || wrote;
    }
    if (!wrote) return true;
  }
  comms_.init_comms(read_protocol_slots(settings_file_));
  update_missing();
  return true;
}

std::string port_devices_line(const PortNames& names, const std::vector<FoundPort>& found) {
  std::vector<bool> used(found.size(), false);
  std::string line;
  for (int port = 1; port <= 4; ++port) {
    const std::string device = names.device_name(port);
    // A device Qt does not list may still be there (a link to a pseudo-terminal).
    std::error_code ec;
    const char* note = " (not found)";
    if (is_network_device_name(device)) {
      note = parse_network_device(device) ? " (serial device server)" : " (not a valid address)";
    } else if (std::filesystem::exists(device, ec)) {
      note = "";
    }
    std::string entry = "Port " + std::to_string(port) + ": " + device + note;
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
