#include "flash/controller_identity.h"

#include "flash/firmware_files.h"
#include "modbus/registers.h"

namespace r7 {

namespace {

bool known_device_type(int value) {
  return value == 6180 || value == 6170;
}

}  // namespace

// A reply with another device type or an exception is an answer from a device
// this tool does not know; no usable reply is a silent try.
RegisterResult<int> IdentityReader::device_type(const std::function<void()>& unrecognised) {
  RegisterError last;
  for (int tries = 0; tries < kModbusTries; ++tries) {
    const auto r = registers_.read_registers(kFirmwareAddress, reg::kDeviceType, 1);
    if (r && known_device_type(r->front())) return r->front();
    if (r) {
      last = RegisterError{RegisterFailure::Refused, 0, registers_.last_reply()};
    } else {
      last = r.error();
    }
    if (last.failure == RegisterFailure::Refused) unrecognised();
  }
  return unexpected(last);
}

std::optional<int> IdentityReader::revision() {
  // A revision that cannot be read must not be taken for one below 2000: the
  // selection would name the older loader and firmware for a newer controller.
  const auto r = registers_.read_registers(kFirmwareAddress, reg::kRevision, 1, kModbusTries,
                                           Repeat::WhenSilentOrDamaged);
  if (r) return r->front();
  return std::nullopt;
}

std::optional<std::string> IdentityReader::serial_number() {
  const auto r = registers_.read_registers(kFirmwareAddress, reg::kSerialHigh, 2, kModbusTries,
                                           Repeat::WhenSilentOrDamaged);
  if (!r || r->size() != 2) return std::nullopt;
  return std::to_string((*r)[0]) + std::to_string((*r)[1]);
}

ControllerIdentity IdentityReader::identify() {
  ControllerIdentity id;
  bool unrecognised = false;
  const auto type = device_type([&unrecognised] { unrecognised = true; });
  id.answered = type.has_value() || unrecognised;
  id.port_unavailable = !type && type.error().failure == RegisterFailure::PortFailure;
  if (!type) return id;
  id.device_type = *type;
  id.revision = revision();
  if (id.revision) id.model_selection = selection_for(*type, *id.revision);
  const auto software = registers_.read_registers(kFirmwareAddress, reg::kSoftwareNumber, 1,
                                                  kModbusTries, Repeat::WhenSilentOrDamaged);
  if (software) id.software_number = software->front();
  id.serial_number = serial_number();
  return id;
}

}  // namespace r7
